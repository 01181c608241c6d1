#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/registry.h"
#include "registry_format.h"
#include "registry_internal.h"
#include "services_fixture.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

LONG setString(HKEY k, const char16_t* name, const std::u16string& value) {
  return RegSetValueEx(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * 2));
}

std::u16string getString(HKEY k, const char16_t* name) {
  DWORD type = 0, size = 0;
  if (RegQueryValueEx(k, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return u"<absent>";
  std::u16string buf(size / 2 + 1, u'\0');
  if (RegQueryValueEx(k, name, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &size) != ERROR_SUCCESS)
    return u"<error>";
  buf.resize(size / 2);
  if (!buf.empty() && buf.back() == 0) buf.pop_back();
  return buf;
}

HKEY createSettings() {
  HKEY k = nullptr;
  DWORD disp = 0;
  EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, u"SOFTWARE\\Orvalo\\Settings", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                           &k, &disp),
            ERROR_SUCCESS);
  return k;
}

}  // namespace

using RegistryTest = ServicesTest;

TEST_F(RegistryTest, ValuesKeepTypeAndDataAcrossARestart) {
  HKEY k = createSettings();
  std::u16string odd = u"line\nbreak \"quoted\" back\\slash \u00e9\u20ac";
  odd += static_cast<char16_t>(0xD800);  // a lone surrogate survives as data
  ASSERT_EQ(setString(k, u"connection.user", odd), ERROR_SUCCESS);
  DWORD five = 5;
  ASSERT_EQ(RegSetValueEx(k, u"advanced.powersave", 0, REG_DWORD, reinterpret_cast<BYTE*>(&five), 4), ERROR_SUCCESS);
  const BYTE blob[] = {0, 1, 0xff, 0x20};
  ASSERT_EQ(RegSetValueEx(k, u"blob", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
  // REG_SZ data that is not one terminated text is kept byte for byte.
  const BYTE unterminated[] = {'a', 0, 'b'};
  ASSERT_EQ(RegSetValueEx(k, u"raw", 0, REG_SZ, unterminated, 3), ERROR_SUCCESS);
  ASSERT_EQ(setString(k, u"", u"default"), ERROR_SUCCESS);
  RegCloseKey(k);

  platform::registryReset();  // as a new process would
  HKEY r = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, u"software\\ORVALO\\settings", 0, KEY_READ, &r), ERROR_SUCCESS);
  EXPECT_EQ(getString(r, u"CONNECTION.USER"), odd);
  DWORD type = 0, value = 0, size = 4;
  ASSERT_EQ(RegQueryValueEx(r, u"advanced.powersave", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, 5u);
  BYTE got[8];
  size = sizeof got;
  ASSERT_EQ(RegQueryValueEx(r, u"blob", nullptr, &type, got, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  ASSERT_EQ(size, 4u);
  EXPECT_EQ(0, memcmp(got, blob, 4));
  size = sizeof got;
  ASSERT_EQ(RegQueryValueEx(r, u"raw", nullptr, &type, got, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  ASSERT_EQ(size, 3u);
  EXPECT_EQ(0, memcmp(got, unterminated, 3));
  EXPECT_EQ(getString(r, nullptr), u"default");
  RegCloseKey(r);
}

TEST_F(RegistryTest, QueriesFollowTheWin32Contract) {
  HKEY k = createSettings();
  ASSERT_EQ(setString(k, u"name", u"abcdef"), ERROR_SUCCESS);
  DWORD size = 4, type = 0;
  BYTE small[4];
  EXPECT_EQ(RegQueryValueEx(k, u"name", nullptr, &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 14u);
  size = 0;
  EXPECT_EQ(RegQueryValueEx(k, u"name", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 14u);
  EXPECT_EQ(RegQueryValueEx(k, u"missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValue(k, u"NAME"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValue(k, u"name"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(k);

  HKEY none = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, u"SOFTWARE\\Nobody", 0, KEY_READ, &none), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, u"SOFTWARE\\\\Orvalo", 0, KEY_READ, &none), ERROR_BAD_PATHNAME);
  // A read-only handle cannot write, and a closed handle is refused.
  HKEY ro = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, u"SOFTWARE\\Orvalo\\Settings", 0, KEY_READ, &ro), ERROR_SUCCESS);
  EXPECT_EQ(setString(ro, u"x", u"y"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCloseKey(ro), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(ro), ERROR_INVALID_HANDLE);
  EXPECT_EQ(setString(ro, u"x", u"y"), ERROR_INVALID_HANDLE);
  // Keys with sub-keys are not deleted; empty ones are, and open handles to
  // them then fail instead of writing into nowhere.
  HKEY settings = createSettings();
  EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, u"SOFTWARE\\Orvalo"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, u"SOFTWARE\\Orvalo\\Settings"), ERROR_SUCCESS);
  EXPECT_NE(setString(settings, u"x", u"y"), ERROR_SUCCESS);
  RegCloseKey(settings);
}

TEST_F(RegistryTest, HiveFileIsPrivateAndWrittenAtOnce) {
  HKEY k = createSettings();
  ASSERT_EQ(setString(k, u"a", u"1"), ERROR_SUCCESS);
  std::string file = platform::registryHiveFile(0);
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Each write reaches the file before the call returns.
  EXPECT_NE(readFile(file).find("\"a\"=sz:\"1\""), std::string::npos);
  RegCloseKey(k);
}

TEST_F(RegistryTest, CrashBeforeRenameLeavesTheOldFileWhole) {
  HKEY k = createSettings();
  ASSERT_EQ(setString(k, u"kept", u"old"), ERROR_SUCCESS);
  std::string file = platform::registryHiveFile(0);
  std::string before = readFile(file);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    platform::registryCrashBeforeRename(true);
    setString(k, u"kept", u"new");
    _exit(0);  // not reached: the write ends the process
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_EQ(readFile(file), before);
  platform::registryReset();
  EXPECT_EQ(getString(k, u"kept"), u"old");
  RegCloseKey(k);
}

TEST_F(RegistryTest, KeptInMemoryTheFileIsNeitherReadNorWritten) {
  HKEY k = createSettings();
  ASSERT_EQ(setString(k, u"kept", u"on disk"), ERROR_SUCCESS);
  RegCloseKey(k);
  std::string file = platform::registryHiveFile(0);
  std::string before = readFile(file);
  struct MemoryOff {
    ~MemoryOff() { platform::registryKeepInMemory(false); }
  } off;

  platform::registryKeepInMemory(true);
  HKEY none = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, u"SOFTWARE\\Orvalo\\Settings", 0, KEY_READ, &none), ERROR_FILE_NOT_FOUND);
  k = createSettings();
  ASSERT_EQ(setString(k, u"kept", u"in memory"), ERROR_SUCCESS);
  ASSERT_EQ(setString(k, u"new", u"1"), ERROR_SUCCESS);
  EXPECT_EQ(getString(k, u"kept"), u"in memory");
  RegCloseKey(k);
  EXPECT_EQ(readFile(file), before);
  // Another writer's file is not looked at either.
  writeFile(file, "; olvaro registry 1\n[SOFTWARE\\\\Orvalo\\\\Settings]\n\"kept\"=sz:\"other\"\n");
  k = createSettings();
  EXPECT_EQ(getString(k, u"kept"), u"in memory");
  RegCloseKey(k);
  writeFile(file, before);
  // A reset empties the memory instead of reading the file.
  platform::registryReset();
  EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, u"SOFTWARE\\Orvalo\\Settings", 0, KEY_READ, &none), ERROR_FILE_NOT_FOUND);

  platform::registryKeepInMemory(false);
  k = createSettings();
  EXPECT_EQ(getString(k, u"kept"), u"on disk");
  EXPECT_EQ(getString(k, u"new"), u"<absent>");
  RegCloseKey(k);
}

TEST_F(RegistryTest, DamagedFileIsReadAsFarAsSoundAndKeptAside) {
  std::string file = home_ + "/HKCU.reg";
  std::string damaged =
      "; olvaro registry 1\n"
      "[SOFTWARE\\\\Orvalo\\\\Settings]\n"
      "\"good\"=sz:\"yes\"\n"
      "\"broken\"=sz:\"no end\n"
      "garbage \xff\xfe line\n"
      "\"bad hex\"=hex(3):0g\n"
      "\"num\"=dword:0000000a\n"
      "\"cut";  // a last line without its newline
  writeFile(file, damaged);
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, u"SOFTWARE\\Orvalo\\Settings", 0, KEY_READ, &k), ERROR_SUCCESS);
  EXPECT_EQ(getString(k, u"good"), u"yes");
  EXPECT_EQ(getString(k, u"broken"), u"<absent>");
  DWORD v = 0, size = 4;
  EXPECT_EQ(RegQueryValueEx(k, u"num", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size), ERROR_SUCCESS);
  EXPECT_EQ(v, 10u);
  RegCloseKey(k);
  // The original is kept beside, byte for byte; the hive holds the sound part.
  int asideCount = 0;
  for (auto& e : std::filesystem::directory_iterator(home_)) {
    if (e.path().filename().string().rfind("HKCU.reg.damaged-", 0) == 0) {
      ++asideCount;
      EXPECT_EQ(readFile(e.path().string()), damaged);
    }
  }
  EXPECT_EQ(asideCount, 1);
  std::string now = readFile(file);
  EXPECT_NE(now.find("\"good\"=sz:\"yes\""), std::string::npos);
  EXPECT_EQ(now.find("broken"), std::string::npos);
}

TEST_F(RegistryTest, ForeignAndEmptyFilesNeverCrash) {
  std::string file = home_ + "/HKCU.reg";
  for (std::string text : {std::string("\x89PNG\r\n\x1a\n\0\0\0", 11), std::string(""), std::string("[\n"),
                           std::string("\"v\"=sz:\"before any key\"\n"), std::string(100000, '[')}) {
    writeFile(file, text);
    platform::registryReset();
    HKEY k = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, u"SOFTWARE", 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND);
    HKEY c = createSettings();
    EXPECT_EQ(setString(c, u"after", u"ok"), ERROR_SUCCESS);
    RegCloseKey(c);
  }
}

TEST_F(RegistryTest, AnotherProcessesWriteIsSeen) {
  HKEY k = createSettings();
  ASSERT_EQ(setString(k, u"mine", u"1"), ERROR_SUCCESS);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    platform::registryReset();
    HKEY c = nullptr;
    LONG r = RegCreateKeyEx(HKEY_CURRENT_USER, u"SOFTWARE\\Orvalo\\Settings", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &c, nullptr);
    _exit(r == ERROR_SUCCESS && setString(c, u"theirs", u"2") == ERROR_SUCCESS ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  // Both writes survive: the child read ours before adding its own.
  ASSERT_EQ(setString(k, u"mine2", u"3"), ERROR_SUCCESS);
  EXPECT_EQ(getString(k, u"theirs"), u"2");
  EXPECT_EQ(getString(k, u"mine"), u"1");
  RegCloseKey(k);
}

TEST_F(RegistryTest, DeviceStateIsVolatileAndFromTheEnvironment) {
  setenv("OLVARO_OPERATOR", "Orange \xC3\xA9", 1);
  platform::registryReset();
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"System\\State\\Phone", 0, KEY_READ, &k), ERROR_SUCCESS);
  EXPECT_EQ(getString(k, u"Current Operator Name"), u"Orange \u00e9");
  RegCloseKey(k);
  HKEY other = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, u"Software\\Test", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &other,
                           nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(setString(other, u"v", u"1"), ERROR_SUCCESS);
  RegCloseKey(other);
  EXPECT_EQ(readFile(platform::registryHiveFile(1)).find("Orange"), std::string::npos);
  unsetenv("OLVARO_OPERATOR");
  platform::registryReset();
  EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, u"System\\State\\Phone", 0, KEY_READ, &k), ERROR_FILE_NOT_FOUND);
}

TEST(RegistryFormat, SerialisedHiveParsesBackTheSame) {
  platform::RegHive hive;
  hive[u""];
  auto& node = hive[platform::regFold(u"A\\B")];
  node.path = u"A\\B";
  platform::RegValue v;
  v.name = u"t\u0001\t]";
  v.type = 0x12345678;
  v.data = {1, 2, 3};
  node.values[platform::regFold(v.name)] = v;
  std::string text = platform::serializeHive(hive);
  platform::RegHive back;
  ASSERT_TRUE(platform::parseHive(text, &back));
  ASSERT_TRUE(back.count(u"A"));  // the parent exists implicitly
  auto& got = back[platform::regFold(u"A\\B")].values[platform::regFold(v.name)];
  EXPECT_EQ(got.name, v.name);
  EXPECT_EQ(got.type, v.type);
  EXPECT_EQ(got.data, v.data);
}

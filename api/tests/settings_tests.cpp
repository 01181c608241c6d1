// Settings: lazy reads with defaults, write-back at save and teardown, and
// the registry underneath.
#include <cstring>

#include "entities.h"  // white-box checks of the hub's insides
#include "hubtest/hub_test.h"
#include "platform/text.h"

using SettingsTest = hubtest::HubTest;

namespace {

const char16_t kKey[] = u"SOFTWARE\\Orvalo\\Settings";

bool storedValue(const char* name, std::string* out) {
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  std::u16string wname = platform::widen(name);
  DWORD type = 0, bytes = 0;
  bool ok = RegQueryValueEx(key, wname.c_str(), nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS;
  if (ok) {
    std::u16string data(bytes / 2, u'\0');
    ok = RegQueryValueEx(key, wname.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &bytes) ==
             ERROR_SUCCESS &&
         type == REG_SZ;
    if (!data.empty() && data.back() == u'\0') data.pop_back();
    *out = platform::narrow(data);
  }
  RegCloseKey(key);
  return ok;
}

void store(const char* name, const std::u16string& text) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), ERROR_SUCCESS);
  std::u16string wname = platform::widen(name);
  RegSetValueEx(key, wname.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                DWORD((text.size() + 1) * 2));
  RegCloseKey(key);
}

}  // namespace

TEST_F(SettingsTest, FirstReadFixesTheDefaultForTheRun) {
  EXPECT_EQ(KS_GetSettingLong("Connection/AutoSignIn", 5), 5);
  EXPECT_EQ(KS_GetSettingLong("Connection/AutoSignIn", 7), 5);
  KS_SetSettingLong("advanced.powersave", 1);
  char buffer[16];
  KS_GetSettingString("advanced.powersave", "x", buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "1");
  kestrum::Data* hub = fwk::Singleton<kestrum::Data>::getInstance();
  EXPECT_EQ(hub->getSettingInt("advanced.powersave", 9, 0, 0), 1);
  EXPECT_EQ(hub->getSettingString("Updates/ServerHost", "updates.example"), "updates.example");
}

TEST_F(SettingsTest, StoredValuesWinOverDefaultsAndTextReadsAsZero) {
  store("connection.user", u"ann@example.org");
  store("Updates/ServerPort", u"port eighty");
  store("connection.LastMessageTime", u"-12xyz");
  char buffer[128];
  KS_GetSettingString("connection.user", "", buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "ann@example.org");
  EXPECT_EQ(KS_GetSettingLong("Updates/ServerPort", 80), 0);
  EXPECT_EQ(KS_GetSettingLong("connection.LastMessageTime", 0), -12);
}

TEST_F(SettingsTest, NothingIsWrittenBeforeSaveEverythingTouchedAfter) {
  std::string value;
  KS_SetSettingString("connection.pass", "pw");
  KS_GetSettingLong("Panorel/TabPerGroup", 0);  // only read: its default is saved too
  KS_SetSettingString("empty.one", "");
  EXPECT_FALSE(storedValue("connection.pass", &value));
  KS_API_Cleanup();
  ASSERT_TRUE(storedValue("connection.pass", &value));
  EXPECT_EQ(value, "pw");
  ASSERT_TRUE(storedValue("Panorel/TabPerGroup", &value));
  EXPECT_EQ(value, "0");
  ASSERT_TRUE(storedValue("empty.one", &value));
  EXPECT_EQ(value, "");

  KS_SetSettingLong("connection.LastMessageTime", 1700000000);
  KS_SaveSettings();
  ASSERT_TRUE(storedValue("connection.LastMessageTime", &value));
  EXPECT_EQ(value, "1700000000");
}

TEST_F(SettingsTest, NullBufferTouchesNothing) {
  EXPECT_EQ(KS_GetSettingString("never.touched", "d", nullptr, 10), 0);
  KS_API_Cleanup();
  std::string value;
  EXPECT_FALSE(storedValue("never.touched", &value));
}

TEST_F(SettingsTest, LongAndNonAsciiValuesSurviveARestart) {
  std::string longText(5000, 'x');
  longText += "\xC3\xA9\xE2\x82\xAC end";  // é € end
  KS_SetSettingString("server.pushed", longText.c_str());
  KS_API_Cleanup();
  platform::registryReset();
  std::vector<char> buffer(longText.size() + 1);
  EXPECT_EQ(KS_GetSettingString("server.pushed", "", buffer.data(), int(buffer.size())), int(longText.size()));
  EXPECT_EQ(std::string(buffer.data()), longText);
}

TEST_F(SettingsTest, SmallBuffersCutAtACharacterBoundaryAndStayTerminated) {
  KS_SetSettingString("name", "a\xC3\xA9z");  // a é z: 4 bytes
  char buffer[8];
  memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(KS_GetSettingString("name", "", buffer, 3), 4);
  EXPECT_STREQ(buffer, "a");  // "a" and half of é would not be text
  EXPECT_EQ(buffer[3], '#');  // nothing past the given size
  EXPECT_EQ(KS_GetSettingString("name", "", buffer, 4), 4);
  EXPECT_STREQ(buffer, "a\xC3\xA9");
  EXPECT_EQ(KS_GetSettingString("name", "", buffer, 1), 4);
  EXPECT_STREQ(buffer, "");
}

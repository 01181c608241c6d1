#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/bitmap.h"
#include "platform/device.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/thread.h"
#include "services_fixture.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class ServicesShell : public ServicesTest {
 protected:
  void TearDown() override {
    for (const char* v : {"OLVARO_PLATFORM", "OLVARO_SCREEN", "OLVARO_DPI", "OLVARO_OPERATOR", "OLVARO_OPEN_COMMAND"})
      unsetenv(v);
    ServicesTest::TearDown();
  }
};

}  // namespace

TEST_F(ServicesShell, StartupShortcutIsAnAutostartEntry) {
  WCHAR folder[MAX_PATH];
  ASSERT_TRUE(SHGetSpecialFolderPath(nullptr, folder, CSIDL_STARTUP, TRUE));
  EXPECT_EQ(platform::narrow(folder), home_ + "/autostart");  // never the user's own under tests
  std::u16string shortcut = std::u16string(folder) + u"\\Olvaro.lnk";
  std::u16string target = u"\"/opt/my programs/olvaro\" /hidden";
  ASSERT_TRUE(SHCreateShortcut(shortcut.data(), target.data()));
  std::string entry = readFile(home_ + "/autostart/Olvaro.desktop");
  EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(entry.find("\nExec=\"/opt/my programs/olvaro\" /hidden\n"), std::string::npos);
  // Looked up, read back and deleted by its shortcut name.
  WIN32_FIND_DATA fd;
  HANDLE h = FindFirstFile(shortcut.c_str(), &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::u16string(fd.cFileName), u"Olvaro.lnk");
  FindClose(h);
  WCHAR back[MAX_PATH];
  ASSERT_TRUE(SHGetShortcutTarget(shortcut.data(), back, MAX_PATH));
  EXPECT_EQ(std::u16string(back), target);
  EXPECT_TRUE(DeleteFile(shortcut.c_str()));
  EXPECT_EQ(FindFirstFile(shortcut.c_str(), &fd), INVALID_HANDLE_VALUE);
}

TEST_F(ServicesShell, ShortcutTargetsAreQuotedForTheDesktop) {
  WCHAR folder[MAX_PATH];
  ASSERT_TRUE(SHGetSpecialFolderPath(nullptr, folder, CSIDL_STARTUP, TRUE));
  std::u16string shortcut = std::u16string(folder) + u"\\Odd.lnk";
  std::u16string target = u"\"/a/$HOME/`x`/100%/back\\slash\" /hidden";
  ASSERT_TRUE(SHCreateShortcut(shortcut.data(), target.data()));
  std::string entry = readFile(home_ + "/autostart/Odd.desktop");
  // Shell characters are escaped inside the quotes, then every backslash is
  // doubled and % doubled for the entry's own syntax.
  EXPECT_NE(entry.find("Exec=\"/a/\\\\$HOME/\\\\`x\\\\`/100%%/back\\\\\\\\slash\" /hidden\n"), std::string::npos)
      << entry;
  WCHAR back[MAX_PATH];
  ASSERT_TRUE(SHGetShortcutTarget(shortcut.data(), back, MAX_PATH));
  EXPECT_EQ(std::u16string(back), target);
  std::u16string broken = u"\"/a\nb\" /hidden";
  EXPECT_FALSE(SHCreateShortcut(shortcut.data(), broken.data()));
}

TEST_F(ServicesShell, ShellExecuteRunsTheOpener) {
  std::string script = home_ + "/opener.sh";
  std::ofstream(script) << "#!/bin/sh\necho \"$@\" > \"" << home_ << "/opened.txt\"\nexit 3\n";
  chmod(script.c_str(), 0700);
  setenv("OLVARO_OPEN_COMMAND", script.c_str(), 1);
  std::ofstream(home_ + "/image.jpg") << "jpeg";
  std::u16string file = wide(home_ + "\\image.jpg");
  SHELLEXECUTEINFO sei{};
  sei.cbSize = sizeof sei;
  sei.fMask = SEE_MASK_NOCLOSEPROCESS;
  sei.lpFile = file.c_str();
  sei.nShow = SW_SHOWNORMAL;
  ASSERT_TRUE(ShellExecuteEx(&sei));
  ASSERT_NE(sei.hProcess, nullptr);
  EXPECT_EQ(WaitForSingleObject(sei.hProcess, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(sei.hProcess, &code));
  EXPECT_EQ(code, 3u);
  CloseHandle(sei.hProcess);
  EXPECT_EQ(readFile(home_ + "/opened.txt"), home_ + "/image.jpg\n");
  std::u16string missing = wide(home_ + "/missing.jpg");
  sei.lpFile = missing.c_str();
  EXPECT_FALSE(ShellExecuteEx(&sei));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(ServicesShell, AnExecutableFileIsOpenedNeverRun) {
  std::string script = home_ + "/opener.sh";
  std::ofstream(script) << "#!/bin/sh\necho \"$@\" > \"" << home_ << "/opened.txt\"\n";
  chmod(script.c_str(), 0700);
  setenv("OLVARO_OPEN_COMMAND", script.c_str(), 1);
  // A "photo" that is really a program, executable as it came.
  std::string planted = home_ + "/image.jpg";
  std::ofstream(planted) << "#!/bin/sh\ntouch \"" << home_ << "/ran\"\n";
  chmod(planted.c_str(), 0700);
  std::u16string file = wide(planted);
  std::u16string parameters = u"--x";
  SHELLEXECUTEINFO sei{};
  sei.cbSize = sizeof sei;
  sei.fMask = SEE_MASK_NOCLOSEPROCESS;
  sei.lpFile = file.c_str();
  sei.lpParameters = parameters.c_str();
  sei.nShow = SW_SHOWNORMAL;
  ASSERT_TRUE(ShellExecuteEx(&sei));
  EXPECT_EQ(WaitForSingleObject(sei.hProcess, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(sei.hProcess);
  EXPECT_EQ(readFile(home_ + "/opened.txt"), planted + "\n");
  EXPECT_FALSE(std::ifstream(home_ + "/ran").good());
}

TEST_F(ServicesShell, ClipboardHoldsText) {
  ASSERT_TRUE(OpenClipboard(nullptr));
  EXPECT_FALSE(OpenClipboard(nullptr));
  ASSERT_TRUE(EmptyClipboard());
  EXPECT_FALSE(IsClipboardFormatAvailable(CF_UNICODETEXT));
  std::u16string text = u"h\u00e9llo";
  HLOCAL mem = LocalAlloc(LPTR, (text.size() + 1) * 2);
  std::copy(text.begin(), text.end(), static_cast<char16_t*>(mem));
  EXPECT_NE(SetClipboardData(CF_UNICODETEXT, mem), nullptr);
  EXPECT_TRUE(IsClipboardFormatAvailable(CF_UNICODETEXT));
  auto* got = static_cast<const char16_t*>(GetClipboardData(CF_UNICODETEXT));
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(std::u16string(got), text);
  // A block without a terminating NUL is read no further than its size.
  HLOCAL raw = LocalAlloc(LMEM_FIXED, 4);
  std::memcpy(raw, u"ab", 4);
  SetClipboardData(CF_UNICODETEXT, raw);
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(GetClipboardData(CF_UNICODETEXT))), u"ab");
  EXPECT_EQ(SetClipboardData(CF_UNICODETEXT, reinterpret_cast<HANDLE>(&text)), nullptr);  // not a block
  EXPECT_TRUE(CloseClipboard());
}

TEST_F(ServicesShell, DeviceComesFromTheEnvironment) {
  WCHAR type[32];
  ASSERT_TRUE(SystemParametersInfo(SPI_GETPLATFORMTYPE, sizeof type, type, 0));
  EXPECT_EQ(std::u16string(type), u"PocketPC");
  setenv("OLVARO_PLATFORM", "smartphone", 1);
  ASSERT_TRUE(SystemParametersInfo(SPI_GETPLATFORMTYPE, sizeof type, type, 0));
  EXPECT_EQ(std::u16string(type), u"SmartPhone");
  EXPECT_FALSE(SystemParametersInfo(SPI_GETPLATFORMTYPE, 8, type, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  setenv("OLVARO_SCREEN", "480x640", 1);
  setenv("OLVARO_DPI", "192", 1);
  platform::DeviceInfo d = platform::deviceInfo();
  EXPECT_EQ(d.screenWidth, 480);
  EXPECT_EQ(d.screenHeight, 640);
  EXPECT_EQ(d.dpi, 192);
  setenv("OLVARO_SCREEN", "nonsense", 1);
  setenv("OLVARO_DPI", "-5", 1);
  d = platform::deviceInfo();
  EXPECT_EQ(d.screenWidth, 240);
  EXPECT_EQ(d.dpi, 131);
}

TEST_F(ServicesShell, FileInfoGivesADocumentOrFolderIcon) {
  std::ofstream(home_ + "/note.txt") << "x";
  std::u16string file = wide(home_ + "\\note.txt"), folder = wide(home_);
  SHFILEINFO fi{};
  ASSERT_NE(SHGetFileInfo(file.c_str(), 0, &fi, sizeof fi, SHGFI_ICON | SHGFI_SMALLICON | SHGFI_DISPLAYNAME), 0u);
  ASSERT_NE(fi.hIcon, nullptr);
  EXPECT_EQ(fi.iIcon, 0);
  EXPECT_EQ(std::u16string(fi.szDisplayName), u"note.txt");
  ICONINFO ii{};
  ASSERT_TRUE(GetIconInfo(fi.hIcon, &ii));
  BITMAP bm{};
  GetObject(ii.hbmColor, sizeof bm, &bm);
  EXPECT_EQ(bm.bmWidth, GetSystemMetrics(SM_CXSMICON));
  DeleteObject(ii.hbmColor);
  DeleteObject(ii.hbmMask);
  EXPECT_TRUE(DestroyIcon(fi.hIcon));

  SHFILEINFO di{};
  ASSERT_NE(SHGetFileInfo(folder.c_str(), 0, &di, sizeof di, SHGFI_ICON | SHGFI_SMALLICON | SHGFI_ATTRIBUTES), 0u);
  EXPECT_EQ(di.iIcon, 1);
  EXPECT_NE(di.dwAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  DestroyIcon(di.hIcon);
  // A missing file has no icon unless its attributes are given.
  std::u16string missing = wide(home_ + "/missing.doc");
  EXPECT_EQ(SHGetFileInfo(missing.c_str(), 0, &fi, sizeof fi, SHGFI_ICON | SHGFI_SMALLICON), 0u);
  ASSERT_NE(SHGetFileInfo(missing.c_str(), FILE_ATTRIBUTE_NORMAL, &fi, sizeof fi,
                          SHGFI_ICON | SHGFI_USEFILEATTRIBUTES), 0u);
  ASSERT_TRUE(GetIconInfo(fi.hIcon, &ii));
  GetObject(ii.hbmColor, sizeof bm, &bm);
  EXPECT_EQ(bm.bmWidth, GetSystemMetrics(SM_CXICON));
  DeleteObject(ii.hbmColor);
  DeleteObject(ii.hbmMask);
  DestroyIcon(fi.hIcon);
  EXPECT_EQ(SHGetFileInfo(file.c_str(), 0, &fi, sizeof fi - 1, SHGFI_ICON), 0u);
}

#include <dlfcn.h>

#include "platform/module.h"
#include "platform/shell.h"
#include "services_fixture.h"

#ifndef SERVICES_TESTMOD
#error "the build must name the test module"
#endif

TEST(ServicesModule, LoadsFindsAndFrees) {
  std::u16string path = platform::widen(SERVICES_TESTMOD);
  HMODULE m = LoadLibrary(path.c_str());
  ASSERT_NE(m, nullptr);
  auto answer = reinterpret_cast<int (*)()>(GetProcAddress(m, "services_answer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  // A library without the export: the lookup fails, the library is usable.
  EXPECT_EQ(GetProcAddress(m, "PluginLoad"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  // Already loaded: found by its base name without taking a count.
  std::string base = SERVICES_TESTMOD;
  base = base.substr(base.rfind('/') + 1);
  EXPECT_EQ(GetModuleHandle(platform::widen(base).c_str()), m);
  WCHAR name[MAX_PATH];
  DWORD n = GetModuleFileName(m, name, MAX_PATH);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(platform::narrow(std::u16string(name, n)).substr(platform::narrow(std::u16string(name, n)).rfind('/') + 1),
            base);
  // A buffer too small is filled and terminated, never overrun.
  WCHAR tiny[4] = {1, 1, 1, 1};
  EXPECT_EQ(GetModuleFileName(m, tiny, 3), 3u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(tiny[2], 0);
  EXPECT_EQ(tiny[3], 1);
  EXPECT_TRUE(FreeLibrary(m));
}

TEST(ServicesModule, MissingLibraryAndHiddenNames) {
  EXPECT_EQ(LoadLibrary(u"no-such-library.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  std::u16string path = platform::widen(SERVICES_TESTMOD);
  platform::testHideModule(path);
  EXPECT_EQ(LoadLibrary(path.c_str()), nullptr);
  platform::testHideModule(path, false);
  HMODULE m = LoadLibrary(path.c_str());
  ASSERT_NE(m, nullptr);
  platform::testHideProc("services_answer");
  EXPECT_EQ(GetProcAddress(m, "services_answer"), nullptr);
  platform::testHideProc("services_answer", false);
  EXPECT_NE(GetProcAddress(m, "services_answer"), nullptr);
  FreeLibrary(m);
}

TEST(ServicesModule, AygshellIsThePlatformsShell) {
  for (const char16_t* name : {u"aygshell.dll", u"AYGSHELL", u"\\windows\\aygshell.dll"}) {
    HMODULE shell = LoadLibrary(name);
    ASSERT_NE(shell, nullptr) << platform::narrow(name);
    EXPECT_EQ(shell, platform::shellModule());
    EXPECT_EQ(GetProcAddress(shell, "SHCreateShortcut"), reinterpret_cast<FARPROC>(&SHCreateShortcut));
    EXPECT_EQ(GetProcAddress(shell, "SHNoSuchFunction"), nullptr);
    EXPECT_TRUE(FreeLibrary(shell));
  }
  // A test can make the shell's function missing, or the shell itself.
  HMODULE shell = LoadLibrary(u"aygshell.dll");
  platform::testHideProc("SHCreateShortcut");
  EXPECT_EQ(GetProcAddress(shell, "SHCreateShortcut"), nullptr);
  platform::testHideProc("SHCreateShortcut", false);
  FreeLibrary(shell);
  platform::testHideModule(u"aygshell.dll");
  EXPECT_EQ(LoadLibrary(u"aygshell.dll"), nullptr);
  platform::testHideModule(u"aygshell.dll", false);
}

TEST(ServicesModule, MainProgramIsTheNullModule) {
  HMODULE self = GetModuleHandle(nullptr);
  ASSERT_NE(self, nullptr);
  WCHAR name[MAX_PATH];
  DWORD n = GetModuleFileName(nullptr, name, MAX_PATH);
  std::string path = platform::narrow(std::u16string(name, n));
  EXPECT_EQ(path.substr(path.rfind('/') + 1), "platform_tests");
  EXPECT_EQ(platform::moduleOfAddress(reinterpret_cast<void*>(&platform::moduleOfAddress)), platform::shellModule());
}

// Starting the phone's browser with an address: the desktop's opener gets
// the address as one argument, with a scheme put in front of a bare one.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/shell.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "testkit/testkit.h"

namespace {

class Browser : public testkit::PlatformTest {
 protected:
  void SetUp() override {
    testkit::PlatformTest::SetUp();
    home = session().home();
    std::string script = home + "/opener.sh";
    // One line per argument, so a split or a shell would show.
    std::ofstream(script) << "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > \"" << home
                          << "/opened.txt\"\n";
    chmod(script.c_str(), 0700);
    setenv("OLVARO_OPEN_COMMAND", script.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("OLVARO_OPEN_COMMAND");
    testkit::PlatformTest::TearDown();
  }
  // What the opener was given, or "refused".
  std::string open(const char16_t* program, const std::string& address) {
    std::u16string parameters = platform::widen(address);
    SHELLEXECUTEINFO sei{};
    sei.cbSize = sizeof sei;
    sei.fMask = SEE_MASK_NOCLOSEPROCESS;
    sei.lpFile = program;
    sei.lpParameters = parameters.c_str();
    sei.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteEx(&sei)) return "refused";
    WaitForSingleObject(sei.hProcess, INFINITE);
    CloseHandle(sei.hProcess);
    std::ifstream in(home + "/opened.txt");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string home;
};

TEST_F(Browser, TheAddressReachesTheOpenerWhole) {
  EXPECT_EQ(open(u"iexplore.exe", "http://a.example/x?y=1&z=2"), "[http://a.example/x?y=1&z=2]\n");
  EXPECT_EQ(open(u"iexplore.exe", "www.b.example/$(touch pwned) `id`"), "[http://www.b.example/$(touch pwned) `id`]\n");
  EXPECT_EQ(open(u"\\Windows\\IEXPLORE.EXE", "ftp.c.example"), "[ftp://ftp.c.example]\n");
  EXPECT_EQ(open(u"iexplore.exe", "  https://d.example\r\n"), "[https://d.example]\n");
  EXPECT_FALSE(std::ifstream(home + "/pwned").good());
}

TEST_F(Browser, NoAddressOrAnOptionIsRefused) {
  EXPECT_EQ(open(u"iexplore.exe", ""), "refused");
  EXPECT_EQ(open(u"iexplore.exe", "   "), "refused");
  EXPECT_EQ(open(u"iexplore.exe", "--help"), "refused");
}

}  // namespace

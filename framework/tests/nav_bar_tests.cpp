#include "framework/nav_bar.h"

#include <memory>
#include <string>
#include <vector>

#include "framework/fonts.h"
#include "framework_fixture.h"
#include "platform/module.h"

namespace {

using fwktest::Stop;

struct NavCall {
  HWND hwnd;
  std::u16string text;
};
std::vector<NavCall> g_navCalls;

BOOL fakeSetNavBarText(HWND hwnd, LPCWSTR text) {
  g_navCalls.push_back(NavCall{hwnd, text ? text : u""});
  return TRUE;
}

class TopLevel : public fwk::Control {
 public:
  TopLevel(const char16_t* title, HWND owner = nullptr)
      : Control(nullptr, title, WS_VISIBLE, 0, 0, 240, 320, owner, nullptr) {}
};

// Puts a recording SHSetNavBarText in the shell for the test's length.
class NavBarTest : public testkit::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    shell = LoadLibrary(u"aygshell");
    ASSERT_TRUE(shell);
    before = GetProcAddress(shell, "SHSetNavBarText");
    platform::registerShellExport("SHSetNavBarText", reinterpret_cast<FARPROC>(&fakeSetNavBarText));
    g_navCalls.clear();
  }
  void TearDown() override {
    if (before) {
      platform::registerShellExport("SHSetNavBarText", before);
    } else {
      platform::testHideProc("SHSetNavBarText");
    }
    platform::testHideProc("SHSetNavBarText", false);
    if (shell) FreeLibrary(shell);
    PlatformTest::TearDown();
  }
  HMODULE shell = nullptr;
  FARPROC before = nullptr;
};

TEST_F(NavBarTest, ActivationShowsTheTitleForTheParent) {
  TopLevel main(u"Olvaro");
  TopLevel dialog(u"Settings", main.hwnd());
  SetActiveWindow(main.hwnd());
  SetActiveWindow(dialog.hwnd());
  testkit::pump();
  ASSERT_FALSE(g_navCalls.empty());
  EXPECT_EQ(g_navCalls.back().hwnd, main.hwnd());  // the dialog's owner
  EXPECT_EQ(g_navCalls.back().text, u"Settings");

  SetActiveWindow(main.hwnd());
  EXPECT_EQ(g_navCalls.back().hwnd, main.hwnd());  // no parent: its own
  EXPECT_EQ(g_navCalls.back().text, u"Olvaro");

  // Child windows leave the title alone.
  size_t before = g_navCalls.size();
  Stop child(main.hwnd(), 0, 0, 10, 10);
  SendMessage(child.hwnd(), WM_ACTIVATE, WA_ACTIVE, 0);
  EXPECT_EQ(g_navCalls.size(), before);
}

TEST_F(NavBarTest, ALongTitleIsCut) {
  std::u16string title(300, u'x');
  title[126] = u'y';
  TopLevel w(title.c_str());
  g_navCalls.clear();
  EXPECT_TRUE(fwk::setNavBarTitle(w.hwnd()));
  ASSERT_EQ(g_navCalls.size(), 1u);
  EXPECT_EQ(g_navCalls[0].text.size(), 127u);
  EXPECT_EQ(g_navCalls[0].text.back(), u'y');
}

TEST_F(NavBarTest, AShellWithoutTheFunctionIsNoFault) {
  platform::testHideProc("SHSetNavBarText");
  TopLevel w(u"Olvaro");
  EXPECT_FALSE(fwk::setNavBarTitle(w.hwnd()));
  SetActiveWindow(w.hwnd());
  EXPECT_TRUE(g_navCalls.empty());
}

TEST_F(NavBarTest, TheFocusComesBackToTheChildThatHadIt) {
  TopLevel main(u"Olvaro");
  Stop first(main.hwnd(), 0, 0, 240, 20);
  auto second = std::make_unique<Stop>(main.hwnd(), 0, 20, 240, 20);
  SetActiveWindow(main.hwnd());
  SetFocus(second->hwnd());
  TopLevel other(u"Other");
  SetActiveWindow(other.hwnd());
  EXPECT_NE(GetFocus(), second->hwnd());
  SetActiveWindow(main.hwnd());
  EXPECT_EQ(GetFocus(), second->hwnd());

  // A remembered child that is gone: the window takes the focus itself.
  SetActiveWindow(other.hwnd());
  second.reset();
  SetActiveWindow(main.hwnd());
  EXPECT_EQ(GetFocus(), main.hwnd());
}

// ---- Fonts ------------------------------------------------------------------

TEST(FontsTest, ThreeFontsByTheScreensDpi) {
  testkit::Session session;  // DPI 131
  HDC dc = GetDC(nullptr);
  auto measure = [dc](HFONT f) {
    SelectObject(dc, f);
    TEXTMETRIC tm{};
    GetTextMetrics(dc, &tm);
    return tm;
  };
  TEXTMETRIC small = measure(fwk::smallFont()), regular = measure(fwk::regularFont()), bold = measure(fwk::boldFont());
  ReleaseDC(nullptr, dc);
  // Character heights (cell less internal leading).
  EXPECT_EQ(small.tmHeight - small.tmInternalLeading, 131 * 17 / 144);
  EXPECT_EQ(regular.tmHeight - regular.tmInternalLeading, 131 * 16 / 144);
  EXPECT_EQ(bold.tmHeight - bold.tmInternalLeading, 131 * 16 / 144);
  EXPECT_EQ(regular.tmWeight, FW_NORMAL);
  EXPECT_EQ(bold.tmWeight, FW_BOLD);
  // Made once: the same objects every time.
  EXPECT_EQ(fwk::smallFont(), fwk::smallFont());
  EXPECT_NE(fwk::smallFont(), fwk::regularFont());
}

}  // namespace

#include "framework/tab_strip.h"

#include <memory>
#include <vector>

#include "framework/fonts.h"
#include "framework_fixture.h"
#include "gdi_audit.h"

namespace {

using fwktest::Host;
using fwktest::Stop;

constexpr UINT kSelChange = UINT(0U - 551U);
constexpr UINT kKeyDown = UINT(0U - 550U);

// Records what reaches it; keeps the keys it is told to.
class RecordingTab : public fwk::TabItem {
 public:
  explicit RecordingTab(std::u16string text, UINT keep = 0) : TabItem(std::move(text)), m_keep(keep) {}
  bool onKey(UINT key) override {
    keys.push_back(key);
    return key == m_keep;
  }
  void onStylusDown(bool dbl, int x, int y) override {
    taps.push_back(POINT{x, y});
    doubles += dbl ? 1 : 0;
  }
  std::vector<UINT> keys;
  std::vector<POINT> taps;
  int doubles = 0;

 private:
  UINT m_keep;
};

class TabStripTest : public testkit::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    host = std::make_unique<Host>();
    above = std::make_unique<Stop>(host->hwnd(), 0, 0, 240, 30);
    strip = std::make_unique<fwk::TabStrip>(host->hwnd(), WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 30, 240, 30, 77);
    below = std::make_unique<Stop>(host->hwnd(), 0, 60, 240, 100);
    for (const char16_t* name : {u"One", u"Two", u"Three"}) {
      auto t = std::make_unique<RecordingTab>(name, name[0] == u'T' && name[1] == u'w' ? VK_F8 : 0);
      tabs.push_back(t.get());
      strip->addTab(std::move(t));
    }
    testkit::pump();
    host->notices.clear();
  }
  void TearDown() override {
    below.reset();
    strip.reset();
    above.reset();
    host.reset();
    PlatformTest::TearDown();
  }
  void focusStrip() {
    SetFocus(strip->hwnd());
    testkit::pump();
  }
  RECT itemRect(int i) {
    RECT r{};
    EXPECT_TRUE(SendMessage(strip->hwnd(), TCM_GETITEMRECT, WPARAM(i), reinterpret_cast<LPARAM>(&r)));
    return r;
  }
  std::unique_ptr<Host> host;
  std::unique_ptr<Stop> above;
  std::unique_ptr<fwk::TabStrip> strip;
  std::unique_ptr<Stop> below;
  std::vector<RecordingTab*> tabs;
};

TEST_F(TabStripTest, LeftAndRightSelectAndTellTheParent) {
  focusStrip();
  EXPECT_EQ(SendMessage(strip->hwnd(), TCM_GETCURSEL, 0, 0), 0);
  testkit::key(VK_LEFT);  // already first
  EXPECT_TRUE(host->notices.empty());

  testkit::key(VK_RIGHT);
  EXPECT_EQ(SendMessage(strip->hwnd(), TCM_GETCURSEL, 0, 0), 1);
  ASSERT_EQ(host->notices.size(), 1u);
  EXPECT_EQ(host->notices[0].code, kSelChange);

  testkit::key(VK_RIGHT);
  testkit::key(VK_RIGHT);  // already last
  EXPECT_EQ(strip->selectedIndex(), 2);
  EXPECT_EQ(host->notices.size(), 2u);

  testkit::key(VK_LEFT);
  EXPECT_EQ(strip->selectedIndex(), 1);
  EXPECT_EQ(host->notices.size(), 3u);
}

TEST_F(TabStripTest, TheSelectedTabHearsKeysFirst) {
  focusStrip();
  testkit::key(VK_RIGHT);
  host->notices.clear();
  // "Two" keeps F8 for itself: the parent never hears of it.
  testkit::key(VK_F8);
  EXPECT_EQ(tabs[1]->keys.back(), UINT(VK_F8));
  EXPECT_TRUE(host->notices.empty());
  EXPECT_TRUE(tabs[0]->keys.size() == 1 && tabs[2]->keys.empty());  // only the Right pressed on "One"
}

TEST_F(TabStripTest, OtherKeysGoToTheParentAndUpDownMoveTheFocus) {
  focusStrip();
  testkit::key(VK_RETURN);
  testkit::key('5');
  ASSERT_EQ(host->notices.size(), 2u);
  EXPECT_EQ(host->notices[0].code, kKeyDown);
  EXPECT_EQ(host->notices[0].key, UINT(VK_RETURN));
  EXPECT_EQ(host->notices[1].key, UINT('5'));
  EXPECT_EQ(strip->selectedIndex(), 0);

  testkit::key(VK_DOWN);
  EXPECT_EQ(GetFocus(), below->hwnd());
  focusStrip();
  testkit::key(VK_UP);
  EXPECT_EQ(GetFocus(), above->hwnd());
  EXPECT_EQ(host->notices.size(), 2u);
}

TEST_F(TabStripTest, ATapSelectsAndReachesTheTabInItsOwnCoordinates) {
  RECT third = itemRect(2);
  int x = third.left + 4, y = 30 + third.top + 6;
  testkit::tap(x, y);
  EXPECT_EQ(GetFocus(), strip->hwnd());
  EXPECT_EQ(strip->selectedIndex(), 2);
  ASSERT_EQ(host->notices.size(), 1u);
  EXPECT_EQ(host->notices[0].code, kSelChange);
  RECT raised = itemRect(2);  // the selected tab stands higher
  ASSERT_EQ(tabs[2]->taps.size(), 1u);
  EXPECT_EQ(tabs[2]->taps[0].x, x - raised.left);
  EXPECT_EQ(tabs[2]->taps[0].y, y - 30 - raised.top);

  // Tapping the selected tab again tells the tab, not the parent.
  testkit::runClock(2000);
  testkit::tap(x, y);
  EXPECT_EQ(host->notices.size(), 1u);
  EXPECT_EQ(tabs[2]->taps.size(), 2u);

  // Beside the tabs: nothing.
  testkit::runClock(2000);
  testkit::tap(235, 50);
  EXPECT_EQ(strip->selectedIndex(), 2);
}

TEST_F(TabStripTest, PartsGiveTheTabsTheirWidths) {
  HDC dc = GetDC(strip->hwnd());
  SelectObject(dc, fwk::smallFont());
  SIZE one{}, two{};
  GetTextExtentPoint32(dc, u"One", 3, &one);
  GetTextExtentPoint32(dc, u"Two", 3, &two);
  ReleaseDC(strip->hwnd(), dc);
  RECT r0 = itemRect(0), r1 = itemRect(1);
  EXPECT_EQ(r0.left, 0);
  EXPECT_EQ(r0.right - r0.left, one.cx + 15);
  EXPECT_EQ(r1.left, r0.right);
  EXPECT_EQ(r1.right - r1.left, two.cx + 15);
  // The selected tab is raised; the others start DPI / 32 lower.
  EXPECT_EQ(r0.top, 0);
  EXPECT_EQ(r1.top, 131 / 32);

  HICON icon = fwktest::solidIcon(16, RGB(0, 128, 0));
  auto both = std::make_unique<fwk::TabItem>(icon, 16, u"Two");
  int i = strip->addTab(std::move(both));
  RECT r3 = itemRect(i);
  EXPECT_EQ(r3.right - r3.left, 16 * 3 / 2 + two.cx + 15);

  RECT none{};
  EXPECT_FALSE(SendMessage(strip->hwnd(), TCM_GETITEMRECT, 9, reinterpret_cast<LPARAM>(&none)));
  EXPECT_FALSE(SendMessage(strip->hwnd(), TCM_GETITEMRECT, WPARAM(-1), reinterpret_cast<LPARAM>(&none)));

  // The icon is drawn, centred in its part.
  strip->setSelectedIndex(i, false);
  testkit::pump();
  RECT shown = itemRect(i);
  int greens = testkit::countPixels(RECT{shown.left, 30, shown.left + 24, 60}, RGB(0, 128, 0));
  EXPECT_EQ(greens, 256);
  testkit::saveScreenshot("tab_strip");
  DestroyIcon(icon);
}

TEST_F(TabStripTest, InsertItemAppendsATextTab) {
  TCITEM item{};
  item.mask = TCIF_TEXT;
  WCHAR text[] = u"Four";
  item.pszText = text;
  EXPECT_EQ(SendMessage(strip->hwnd(), TCM_INSERTITEM, 0, reinterpret_cast<LPARAM>(&item)), 3);
  ASSERT_EQ(strip->tabCount(), 4);
  EXPECT_EQ(strip->tab(3)->text(), u"Four");
  item.mask = 0;
  EXPECT_EQ(SendMessage(strip->hwnd(), TCM_INSERTITEM, 0, reinterpret_cast<LPARAM>(&item)), -1);
  EXPECT_EQ(strip->tabCount(), 4);
}

TEST_F(TabStripTest, TheSelectedTabScrollsIntoView) {
  for (int i = 0; i < 12; ++i) strip->addTab(std::make_unique<fwk::TabItem>(u"Contacts"));
  focusStrip();
  testkit::key(VK_END);  // a key the strip leaves: no move
  EXPECT_EQ(strip->selectedIndex(), 0);
  for (int i = 0; i < 14; ++i) testkit::key(VK_RIGHT);
  EXPECT_EQ(strip->selectedIndex(), 14);
  RECT last = itemRect(14);
  EXPECT_EQ(last.right, 240);
  EXPECT_GT(strip->scrollOffset(), 0);
  for (int i = 0; i < 14; ++i) testkit::key(VK_LEFT);
  EXPECT_EQ(itemRect(0).left, 0);
  EXPECT_EQ(strip->scrollOffset(), 0);
}

TEST_F(TabStripTest, RemovingTheSelectedTabSelectsItsNeighbour) {
  strip->setSelectedIndex(2);
  host->notices.clear();
  strip->removeTab(0);
  EXPECT_EQ(strip->selectedIndex(), 1);
  EXPECT_TRUE(host->notices.empty());  // the same tab still shows
  strip->removeTab(1);
  EXPECT_EQ(strip->selectedIndex(), 0);
  EXPECT_EQ(host->notices.size(), 1u);
  strip->removeTab(0);
  EXPECT_EQ(strip->selectedIndex(), -1);
  EXPECT_EQ(SendMessage(strip->hwnd(), TCM_GETCURSEL, 0, 0), -1);
  focusStrip();
  testkit::key(VK_RIGHT);  // nothing to select
  EXPECT_EQ(strip->selectedIndex(), -1);
}

TEST_F(TabStripTest, PaintingPutsBackWhatItSelectsAndFreesWhatItMakes) {
  focusStrip();
  fwktest::GdiCounts before = fwktest::gdiCounts();
  for (int i = 0; i < 5; ++i) {
    strip->setSelectedIndex(i % 3);
    testkit::pump();
  }
  fwktest::GdiCounts after = fwktest::gdiCounts();
  EXPECT_EQ(after.dcsMade, before.dcsMade + 5);
  EXPECT_GE(after.objectsMade, before.objectsMade + 15);  // a bitmap, a brush and a pen each time
  EXPECT_EQ(after.dcsLive, before.dcsLive);
  EXPECT_EQ(after.objectsLive, before.objectsLive);
  EXPECT_EQ(after.dcsDeletedDirty, before.dcsDeletedDirty);
}

}  // namespace

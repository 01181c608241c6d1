#include "framework/list_control.h"

#include <memory>
#include <vector>

#include "framework/fonts.h"
#include "framework_fixture.h"
#include "gdi_audit.h"
#include "platform/module.h"

namespace {

using fwk::Ref;
using fwktest::CountingRow;
using fwktest::Host;
using fwktest::Stop;

constexpr int kRowHeight = 20;

// A host with a focusable control above and below a list 200 pixels (ten
// rows) high at y = 40.
class ListTest : public testkit::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    host = std::make_unique<Host>();
    above = std::make_unique<Stop>(host->hwnd(), 0, 0, 240, 40);
    list = std::make_unique<fwk::ListControl>(host->hwnd(), WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 40, 240, 200);
    below = std::make_unique<Stop>(host->hwnd(), 0, 240, 240, 40);
  }
  void TearDown() override {
    below.reset();
    list.reset();
    above.reset();
    host.reset();
    PlatformTest::TearDown();
  }
  std::vector<Ref<CountingRow>> fill(int n, int h = kRowHeight) {
    std::vector<Ref<CountingRow>> rows;
    for (int i = 0; i < n; ++i) {
      rows.emplace_back(new CountingRow(h));
      list->addRow(rows.back());
    }
    testkit::pump();
    return rows;
  }
  void focusList() {
    SetFocus(list->hwnd());
    testkit::pump();
  }
  int clientWidth() {
    RECT r;
    GetClientRect(list->hwnd(), &r);
    return r.right;
  }
  std::unique_ptr<Host> host;
  std::unique_ptr<Stop> above;
  std::unique_ptr<fwk::ListControl> list;
  std::unique_ptr<Stop> below;
};

TEST_F(ListTest, UpAndDownStopAtTheEndsAndPassTheFocusOn) {
  fill(3);
  focusList();
  EXPECT_EQ(list->selectedIndex(), 0);

  testkit::key(VK_UP);
  EXPECT_EQ(list->selectedIndex(), 0);
  EXPECT_EQ(GetFocus(), above->hwnd());

  focusList();
  testkit::key(VK_DOWN);
  testkit::key(VK_DOWN);
  EXPECT_EQ(list->selectedIndex(), 2);
  EXPECT_EQ(GetFocus(), list->hwnd());
  testkit::key(VK_DOWN);
  EXPECT_EQ(list->selectedIndex(), 2);
  EXPECT_EQ(GetFocus(), below->hwnd());
}

TEST_F(ListTest, PagesMoveByTheRowsPaintedLessOne) {
  fill(30);
  focusList();
  ASSERT_EQ(list->rowsPainted(), 10);

  testkit::key(VK_NEXT);
  EXPECT_EQ(list->selectedIndex(), 9);
  testkit::key(VK_NEXT);
  EXPECT_EQ(list->selectedIndex(), 18);
  testkit::key(VK_PRIOR);
  EXPECT_EQ(list->selectedIndex(), 9);
  testkit::key(VK_PRIOR);
  testkit::key(VK_PRIOR);
  EXPECT_EQ(list->selectedIndex(), 0);
  testkit::key(VK_END);
  EXPECT_EQ(list->selectedIndex(), 29);
  testkit::key(VK_NEXT);
  EXPECT_EQ(list->selectedIndex(), 29);
  testkit::key(VK_HOME);
  EXPECT_EQ(list->selectedIndex(), 0);
}

TEST_F(ListTest, APartialRepaintKeepsThePageSize) {
  fill(30);
  focusList();
  RECT one{0, 0, 10, 5};
  InvalidateRect(list->hwnd(), &one, FALSE);
  testkit::pump();
  EXPECT_EQ(list->rowsPainted(), 10);
  testkit::key(VK_NEXT);
  EXPECT_EQ(list->selectedIndex(), 9);
}

TEST_F(ListTest, PagingBeforeAnyPaintStillMovesForward) {
  std::vector<Ref<CountingRow>> rows;
  for (int i = 0; i < 5; ++i) {
    rows.emplace_back(new CountingRow(kRowHeight));
    list->addRow(rows.back());
  }
  // No pump: nothing painted yet.
  ASSERT_EQ(list->rowsPainted(), 0);
  SendMessage(list->hwnd(), WM_KEYDOWN, VK_NEXT, 1);
  EXPECT_EQ(list->selectedIndex(), 1);
}

TEST_F(ListTest, MovingTheSelectionScrollsItIntoView) {
  fill(30);
  focusList();
  for (int i = 0; i < 10; ++i) testkit::key(VK_DOWN);
  EXPECT_EQ(list->selectedIndex(), 10);
  EXPECT_EQ(list->scrollPosition(), 11 * kRowHeight - 200);
  RECT r = list->rowRect(10);
  EXPECT_EQ(r.bottom, 200);

  testkit::key(VK_END);
  EXPECT_EQ(list->scrollPosition(), 30 * kRowHeight - 200);
  testkit::key(VK_UP);
  EXPECT_EQ(list->scrollPosition(), 30 * kRowHeight - 200);  // row 28 is already in view
  testkit::key(VK_HOME);
  EXPECT_EQ(list->scrollPosition(), 0);
  EXPECT_EQ(list->rowRect(0).top, 0);
}

TEST_F(ListTest, EnterOpensTheSelectedRowsMenuAtItsCorner) {
  auto rows = fill(30);
  focusList();
  testkit::key(VK_END);
  testkit::key(VK_RETURN);
  EXPECT_EQ(rows[29]->menus, 1);
  RECT r = list->rowRect(29);
  POINT expected{r.left + 5, r.top + 5};
  ClientToScreen(list->hwnd(), &expected);
  EXPECT_EQ(rows[29]->menuAt.x, expected.x);
  EXPECT_EQ(rows[29]->menuAt.y, expected.y);
  EXPECT_EQ(expected.y, 40 + 200 - kRowHeight + 5);
  testkit::key(VK_APPS);
  EXPECT_EQ(rows[29]->menus, 2);
  EXPECT_EQ(rows[0]->menus, 0);
}

TEST_F(ListTest, StylusSelectsAndADoubleTapActivates) {
  auto rows = fill(30);
  // Row 3 lies at 60..80 in the list, 100..120 on the screen.
  testkit::tap(50, 105);
  EXPECT_EQ(GetFocus(), list->hwnd());
  EXPECT_EQ(list->selectedIndex(), 3);
  EXPECT_EQ(rows[3]->activations, 0);

  testkit::runClock(2000);
  testkit::doubleTap(50, 125);
  EXPECT_EQ(list->selectedIndex(), 4);
  EXPECT_EQ(rows[4]->activations, 1);
  EXPECT_EQ(rows[3]->activations, 0);

  // Below the last row: nothing is hit, the selection stays.
  list->removeAllRows();
  rows = fill(2);
  testkit::runClock(2000);
  testkit::tap(50, 41 + kRowHeight);
  EXPECT_EQ(list->selectedIndex(), 1);
  testkit::runClock(2000);
  testkit::tap(50, 200);
  EXPECT_EQ(list->selectedIndex(), 1);
}

TEST_F(ListTest, AContextMenuOpensOnTheRowAtThePoint) {
  auto rows = fill(5);
  SendMessage(list->hwnd(), WM_CONTEXTMENU, WPARAM(list->hwnd()), MAKELPARAM(30, 40 + 2 * kRowHeight + 3));
  EXPECT_EQ(list->selectedIndex(), 2);
  EXPECT_EQ(rows[2]->menus, 1);
  EXPECT_EQ(rows[2]->menuAt.x, 30);
  // Holding the stylus still asks for the menu too.
  testkit::runClock(2000);
  testkit::tapAndHold(20, 40 + 4 * kRowHeight + 3);
  EXPECT_EQ(list->selectedIndex(), 4);
  EXPECT_EQ(rows[4]->menus, 1);
}

int g_gestures = 0;
DWORD fakeRecognizeHold(void*) {
  ++g_gestures;
  return 1000;  // tap and hold
}

TEST_F(ListTest, TheShellsHoldGestureOpensTheMenuInsteadOfActivating) {
  HMODULE shell = LoadLibrary(u"aygshell");
  ASSERT_TRUE(shell);
  FARPROC before = GetProcAddress(shell, "SHRecognizeGesture");
  platform::registerShellExport("SHRecognizeGesture", reinterpret_cast<FARPROC>(&fakeRecognizeHold));
  auto rows = fill(5);
  g_gestures = 0;
  testkit::doubleTap(50, 45);
  EXPECT_GE(g_gestures, 1);
  EXPECT_EQ(rows[0]->menus, 2);
  EXPECT_EQ(rows[0]->activations, 0);
  if (before) {
    platform::registerShellExport("SHRecognizeGesture", before);
  } else {
    platform::testHideProc("SHRecognizeGesture");
  }
  FreeLibrary(shell);
}

TEST_F(ListTest, ScrollBarLinesPagesThumbAndWheel) {
  fill(30);  // 600 pixels in 200
  HWND h = list->hwnd();
  auto scroll = [&](int code, int pos = 0) { SendMessage(h, WM_VSCROLL, MAKEWPARAM(code, pos), 0); };
  scroll(SB_LINEDOWN);
  EXPECT_EQ(list->scrollPosition(), 15);
  scroll(SB_PAGEDOWN);
  EXPECT_EQ(list->scrollPosition(), 165);
  scroll(SB_PAGEUP);
  EXPECT_EQ(list->scrollPosition(), 150);
  scroll(SB_LINEUP);
  EXPECT_EQ(list->scrollPosition(), 135);
  scroll(SB_THUMBTRACK, 300);
  EXPECT_EQ(list->scrollPosition(), 300);
  scroll(SB_THUMBPOSITION, 1000);
  EXPECT_EQ(list->scrollPosition(), 400);  // no further than the last row's bottom
  scroll(SB_PAGEDOWN);
  EXPECT_EQ(list->scrollPosition(), 400);

  focusList();  // the wheel turns what has the focus
  platform::inputWheel(100, 100, WHEEL_DELTA);
  testkit::pump();
  EXPECT_EQ(list->scrollPosition(), 400 - WHEEL_DELTA);
  platform::inputWheel(100, 100, -2 * WHEEL_DELTA);
  testkit::pump();
  EXPECT_EQ(list->scrollPosition(), 400);

  SCROLLINFO si{};
  si.cbSize = sizeof si;
  si.fMask = SIF_ALL;
  ASSERT_TRUE(GetScrollInfo(h, SB_VERT, &si));
  EXPECT_EQ(si.nMin, 0);
  EXPECT_EQ(si.nMax, 30 * kRowHeight - 1);
  EXPECT_EQ(si.nPage, 200u);

  // Scrolled rows are hit where they are shown.
  EXPECT_EQ(list->hitTest(5, 0), 20);
  EXPECT_EQ(list->rowRect(20).top, 0);
}

TEST_F(ListTest, TheListKeepsItsRowsInOrder) {
  auto rows = fill(3);
  focusList();
  testkit::key(VK_DOWN);
  ASSERT_EQ(list->selectedIndex(), 1);
  Ref<CountingRow> first(new CountingRow(30));
  list->insertRowAtFront(first);
  EXPECT_EQ(list->row(0), first.get());
  EXPECT_EQ(list->selectedIndex(), 2);  // still the same row
  EXPECT_EQ(list->rowRect(1).top, 30);
  EXPECT_EQ(list->rowRect(3).bottom, 30 + 3 * kRowHeight);

  EXPECT_TRUE(list->removeRow(first.get()));
  EXPECT_FALSE(list->removeRow(first.get()));
  EXPECT_EQ(list->selectedIndex(), 1);
  EXPECT_EQ(list->rowRect(0).top, 0);
  EXPECT_EQ(list->hitTest(5, kRowHeight + 1), 1);

  // The list holds one reference per row and lets it go.
  EXPECT_EQ(rows[2]->refCount(), 2);
  list->removeRow(rows[2].get());
  EXPECT_EQ(rows[2]->refCount(), 1);
  EXPECT_EQ(list->selectedIndex(), 1);
  list->removeRow(rows[1].get());
  EXPECT_EQ(list->selectedIndex(), 0);
  list->removeAllRows();
  EXPECT_EQ(list->selectedIndex(), -1);
  EXPECT_EQ(rows[0]->refCount(), 1);
}

TEST_F(ListTest, ReplacedAndRemovedRowsKeepTheStackAndTheSelection) {
  auto rows = fill(6);
  list->setSelectedIndex(4);
  list->insertRowAtFront(Ref<CountingRow>(new CountingRow(30)));
  // One change near the end, one near the front: either side may move.
  list->replaceRow(5, Ref<CountingRow>(new CountingRow(50)));
  list->replaceRow(1, Ref<CountingRow>(new CountingRow(5)));
  EXPECT_EQ(rows[0]->refCount(), 1);
  EXPECT_EQ(list->selectedIndex(), 5);
  auto tops = [&] {
    std::vector<int> out;
    for (int i = 0; i < list->rowCount(); ++i) out.push_back(list->rowRect(i).top);
    return out;
  };
  EXPECT_EQ(tops(), (std::vector<int>{0, 30, 35, 55, 75, 95, 145}));
  EXPECT_EQ(list->rowRect(6).bottom, 165);

  list->removeRows(2, 3);
  EXPECT_EQ(list->selectedIndex(), 2);  // still the same row
  EXPECT_EQ(tops(), (std::vector<int>{0, 30, 35, 85}));
  EXPECT_EQ(list->hitTest(5, 40), 2);
  EXPECT_EQ(rows[2]->refCount(), 1);
  list->removeRows(0, 2);
  EXPECT_EQ(list->selectedIndex(), 0);
  EXPECT_EQ(tops(), (std::vector<int>{0, 50}));
  EXPECT_EQ(list->hitTest(5, 55), 1);
}

TEST_F(ListTest, OnlyRowsInTheInvalidAreaArePainted) {
  auto rows = fill(1000);
  for (auto& r : rows) r->paints = 0;
  RECT area{0, 45, 50, 65};  // rows 2 and 3
  InvalidateRect(list->hwnd(), &area, FALSE);
  testkit::pump();
  int painted = 0;
  for (int i = 0; i < 1000; ++i) painted += rows[size_t(i)]->paints;
  EXPECT_EQ(painted, 2);
  EXPECT_EQ(rows[2]->paints, 1);
  EXPECT_EQ(rows[3]->paints, 1);
}

// ---- Painting ---------------------------------------------------------------

TEST_F(ListTest, AnEmptyListShowsOnlyItsGradientAndIgnoresEnter) {
  focusList();
  testkit::key(VK_RETURN);
  testkit::key(VK_UP);  // moves the focus, nothing else
  EXPECT_EQ(list->selectedIndex(), -1);
  testkit::pump();
  int w = clientWidth();
  EXPECT_EQ(testkit::pixel(0, 40), RGB(255, 255, 255));
  EXPECT_EQ(testkit::pixel(w - 1, 40), RGB(255, 255, 255));
  EXPECT_TRUE(fwktest::near(testkit::pixel(w / 2, 239), RGB(242, 234, 225), 2)) << std::hex
                                                                               << testkit::pixel(w / 2, 239);
  // Every line is one colour, darkening downwards.
  COLORREF last = RGB(255, 255, 255);
  for (int y = 40; y < 240; ++y) {
    COLORREF c = testkit::pixel(0, y);
    EXPECT_EQ(testkit::countPixels(RECT{0, y, w, y + 1}, c), w) << "line " << y;
    EXPECT_LE(GetBValue(c), GetBValue(last));
    last = c;
  }
  testkit::saveScreenshot("list_empty");
}

TEST_F(ListTest, TheSelectionShowsOnlyWhileTheListHasTheFocus) {
  fill(5);
  const COLORREF selection = RGB(187, 205, 225);
  RECT row1{0, 40 + kRowHeight, clientWidth(), 40 + 2 * kRowHeight};
  SetFocus(above->hwnd());
  testkit::pump();
  EXPECT_EQ(testkit::countPixels(RECT{0, 40, 240, 240}, selection), 0);

  focusList();
  testkit::key(VK_DOWN);
  int w = clientWidth();
  // The row shrunk by one pixel, in the selection colour.
  EXPECT_EQ(testkit::countPixels(row1, selection), (w - 2) * (kRowHeight - 2));
  EXPECT_EQ(testkit::countPixels(RECT{0, 40, 240, 240}, selection), (w - 2) * (kRowHeight - 2));
  EXPECT_NE(testkit::pixel(0, row1.top + 5), selection);
  EXPECT_EQ(testkit::pixel(1, row1.top + 1), selection);
  testkit::saveScreenshot("list_selected");

  SetFocus(below->hwnd());
  testkit::pump();
  EXPECT_EQ(testkit::countPixels(RECT{0, 40, 240, 240}, selection), 0);
}

// ---- Two-line rows ----------------------------------------------------------

TEST_F(ListTest, TwoLineRowsPlaceIconTitleAndText) {
  const int dpi = 131;
  const int rowHeight = dpi * 20 / 64;  // 40
  HICON red = fwktest::solidIcon(16, RGB(255, 0, 0));
  Ref<fwk::TwoLineRow> row(new fwk::TwoLineRow(u"Alice Example", u"online since noon", red));
  EXPECT_EQ(row->height(240), rowHeight);
  EXPECT_EQ(row->iconSize(), 16);
  list->addRow(row);
  list->addRow(Ref<fwk::Row>(new fwk::TwoLineRow(u"Bob", u"away")));
  testkit::pump();
  testkit::saveScreenshot("list_two_line_rows");

  // The icon, centred in the square at the left.
  int off = (rowHeight - 16) / 2;
  RECT icon{off, 40 + off, off + 16, 40 + off + 16};
  EXPECT_EQ(testkit::countPixels(icon, RGB(255, 0, 0)), 256);
  EXPECT_EQ(testkit::countPixels(RECT{0, 40, 240, 40 + rowHeight}, RGB(255, 0, 0)), 256);

  // Title in black, text in grey, both right of the square and within the
  // band of DPI / 4 around the middle.
  int band = dpi / 4;
  int bandTop = 40 + (rowHeight - band) / 2;
  RECT rowArea{0, 40, 240, 40 + rowHeight};
  int black = 0, grey = 0, greyTop = 1000, blackBottom = 0;
  for (int y = rowArea.top; y < rowArea.bottom; ++y)
    for (int x = 0; x < 240; ++x) {
      COLORREF c = testkit::pixel(x, y);
      if (c == RGB(0, 0, 0)) {
        ++black;
        EXPECT_GE(x, rowHeight);
        EXPECT_GE(y, bandTop);
        blackBottom = std::max(blackBottom, y);
      } else if (c == RGB(124, 125, 127)) {
        ++grey;
        EXPECT_GE(x, rowHeight);
        EXPECT_LT(y, bandTop + band);
        greyTop = std::min(greyTop, y);
      }
    }
  EXPECT_GT(black, 20);
  EXPECT_GT(grey, 10);
  EXPECT_LT(blackBottom, greyTop + 6);  // the text is the lower line
  EXPECT_GT(greyTop, bandTop + band / 3);
  DestroyIcon(red);
}

TEST_F(ListTest, PaintingPutsBackWhatItSelectsAndFreesWhatItMakes) {
  HICON red = fwktest::solidIcon(16, RGB(255, 0, 0));
  list->addRow(Ref<fwk::Row>(new fwk::TwoLineRow(u"Alice", u"online", red)));
  fill(3);
  focusList();  // the selected row paints its background too
  fwk::boldFont();
  fwktest::GdiCounts before = fwktest::gdiCounts();
  for (int i = 0; i < 5; ++i) {
    InvalidateRect(list->hwnd(), nullptr, FALSE);
    testkit::pump();
  }
  fwktest::GdiCounts after = fwktest::gdiCounts();
  EXPECT_EQ(after.dcsMade, before.dcsMade + 5);
  EXPECT_GE(after.objectsMade, before.objectsMade + 10);  // a bitmap and a brush each time
  EXPECT_EQ(after.dcsLive, before.dcsLive);
  EXPECT_EQ(after.objectsLive, before.objectsLive);
  EXPECT_EQ(after.dcsDeletedDirty, before.dcsDeletedDirty);
  DestroyIcon(red);
}

// Fonts are made once per module, so no control is made at this DPI.
class HighDpiRowTest : public testkit::PlatformTest {
 protected:
  testkit::Options options() const override {
    testkit::Options o;
    o.width = 480;
    o.height = 640;
    o.dpi = 192;
    return o;
  }
};

TEST_F(HighDpiRowTest, TwoLineRowsGrowWithTheScreen) {
  fwk::TwoLineRow row(u"t", u"x");
  EXPECT_EQ(row.height(480), 192 * 20 / 64);
  EXPECT_EQ(row.iconSize(), 32);
  row.setIcon(nullptr, 24);
  EXPECT_EQ(row.iconSize(), 24);
}

}  // namespace

#include "window_test_util.h"

namespace {

class WindowScroll : public wtest::WindowTest {
 protected:
  // A list-like window that records its scroll messages and sizes.
  HWND makeList() {
    return windows.make(
        [this](HWND, UINT m, WPARAM w, LPARAM l) -> std::optional<LRESULT> {
          if (m == WM_VSCROLL) scrolls.emplace_back(LOWORD(w), HIWORD(w));
          if (m == WM_SIZE) widths.push_back(LOWORD(l));
          return std::nullopt;
        },
        WS_POPUP | WS_VISIBLE | WS_VSCROLL, RECT{0, 0, 240, 300});
  }
  void setRange(HWND h, int max, UINT page, int pos = 0) {
    SCROLLINFO si{sizeof si, SIF_RANGE | SIF_PAGE | SIF_POS, 0, max, page, pos, 0};
    SetScrollInfo(h, SB_VERT, &si, TRUE);
  }
  std::vector<std::pair<int, int>> scrolls;
  std::vector<int> widths;
};

TEST_F(WindowScroll, TheBarComesAndGoesWithTheRange) {
  HWND list = makeList();
  int bar = GetSystemMetrics(SM_CXVSCROLL);
  RECT c;
  GetClientRect(list, &c);
  EXPECT_EQ(c.right, 240 - bar);
  widths.clear();
  setRange(list, 199, 300);  // everything fits: the bar goes
  GetClientRect(list, &c);
  EXPECT_EQ(c.right, 240);
  EXPECT_EQ(widths, (std::vector<int>{240}));
  setRange(list, 999, 300, 5000);  // too much: it comes back, the position is clamped
  GetClientRect(list, &c);
  EXPECT_EQ(c.right, 240 - bar);
  EXPECT_EQ(GetScrollPos(list, SB_VERT), 700);
  SCROLLINFO si{sizeof si, SIF_ALL, 0, 0, 0, 0, 0};
  ASSERT_TRUE(GetScrollInfo(list, SB_VERT, &si));
  EXPECT_EQ(si.nMax, 999);
  EXPECT_EQ(si.nPage, 300u);
  EXPECT_EQ(SetScrollPos(list, SB_VERT, -4, TRUE), 700);
  EXPECT_EQ(GetScrollPos(list, SB_VERT), 0);
  // The extremes of the range do not overflow.
  SCROLLINFO wide{sizeof wide, SIF_RANGE | SIF_PAGE | SIF_POS, INT32_MIN, INT32_MAX, 0xFFFFFFFFu, INT32_MAX, 0};
  SetScrollInfo(list, SB_VERT, &wide, TRUE);
  wide.nPage = 10;
  SetScrollInfo(list, SB_VERT, &wide, TRUE);
  EXPECT_EQ(GetScrollPos(list, SB_VERT), INT32_MAX - 9);
  testkit::pump();
  setRange(list, 999, 300, 0);
  testkit::pump();
  // The bar is drawn in its place beside the client area.
  EXPECT_NE(testkit::countPixels(RECT{240 - bar, 0, 240, 300}, GetSysColor(COLOR_BTNFACE)), 0);
}

TEST_F(WindowScroll, TappingTheBarScrolls) {
  HWND list = makeList();
  setRange(list, 999, 300, 0);
  testkit::pump();
  int bar = GetSystemMetrics(SM_CXVSCROLL);
  int x = 240 - bar / 2;
  testkit::tap(x, 300 - bar / 2);  // down arrow
  testkit::tap(x, bar / 2);        // up arrow
  testkit::tap(x, 250);            // below the thumb
  std::vector<std::pair<int, int>> want{{SB_LINEDOWN, 0}, {SB_ENDSCROLL, 0}, {SB_LINEUP, 0},
                                        {SB_ENDSCROLL, 0}, {SB_PAGEDOWN, 0}, {SB_ENDSCROLL, 0}};
  EXPECT_EQ(scrolls, want);

  // Dragging the thumb tracks positions, then settles on the last one.
  scrolls.clear();
  int thumbY = bar + 5;
  testkit::stylusDown(x, thumbY);
  testkit::stylusMove(x, thumbY + 60);
  testkit::stylusMove(x, 1000);
  testkit::stylusUp(x, 1000);
  ASSERT_EQ(scrolls.size(), 4u);
  EXPECT_EQ(scrolls[0].first, SB_THUMBTRACK);
  EXPECT_GT(scrolls[0].second, 0);
  EXPECT_LT(scrolls[0].second, 700);
  EXPECT_EQ(scrolls[1], (std::pair<int, int>{SB_THUMBTRACK, 700}));
  EXPECT_EQ(scrolls[2], (std::pair<int, int>{SB_THUMBPOSITION, 700}));
  EXPECT_EQ(scrolls[3].first, SB_ENDSCROLL);
  // Moving the bar is the window's own business.
  EXPECT_EQ(GetScrollPos(list, SB_VERT), 0);
}

}  // namespace

#include "window_test_util.h"

namespace {

class WindowPaint : public wtest::WindowTest {};

const COLORREF kRed = RGB(255, 0, 0), kGreen = RGB(0, 160, 0), kBlue = RGB(0, 0, 255);

TEST_F(WindowPaint, OnlyTheInvalidAreaIsRepainted) {
  COLORREF color = kRed;
  std::vector<RECT> paints;
  HWND w = windows.solid(&color, WS_POPUP | WS_VISIBLE, RECT{0, 0, 240, 320}, nullptr, &paints);
  testkit::pump();
  ASSERT_EQ(paints.size(), 1u);
  EXPECT_EQ(testkit::countPixels(RECT{0, 0, 240, 320}, kRed), 240 * 320);

  color = kBlue;
  RECT small{10, 20, 30, 50};
  InvalidateRect(w, &small, FALSE);
  testkit::pump();
  ASSERT_EQ(paints.size(), 2u);
  EXPECT_TRUE(EqualRect(&paints[1], &small));
  EXPECT_EQ(testkit::countPixels(RECT{0, 0, 240, 320}, kBlue), 20 * 30);
  EXPECT_EQ(testkit::pixel(10, 20), kBlue);
  EXPECT_EQ(testkit::pixel(30, 50), kRed);
  // Nothing invalid, nothing painted.
  testkit::pump();
  EXPECT_EQ(paints.size(), 2u);
}

TEST_F(WindowPaint, PaintWaitsUntilTheQueueIsIdle) {
  std::vector<UINT> order;
  HWND w = windows.make(
      [&](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_PAINT || m == WM_APP || m == WM_TIMER) order.push_back(m);
        if (m == WM_PAINT) {
          PAINTSTRUCT ps;
          BeginPaint(h, &ps);
          EndPaint(h, &ps);
          return 0;
        }
        return std::nullopt;
      },
      WS_POPUP | WS_VISIBLE, RECT{0, 0, 50, 50});
  testkit::pump();
  order.clear();
  SetTimer(w, 1, 10, nullptr);
  InvalidateRect(w, nullptr, TRUE);
  PostMessage(w, WM_APP, 0, 0);
  testkit::runClock(10);
  EXPECT_EQ(order, (std::vector<UINT>{WM_APP, WM_PAINT, WM_TIMER}));
}

TEST_F(WindowPaint, ChildrenAreClippedOutOfTheParent) {
  COLORREF parentColor = kRed, childColor = kGreen;
  HWND top = windows.solid(&parentColor, WS_POPUP | WS_VISIBLE, RECT{0, 0, 240, 320});
  HWND child = windows.solid(&childColor, WS_CHILD | WS_VISIBLE, RECT{40, 40, 140, 90}, top);
  testkit::pump();
  EXPECT_EQ(testkit::pixel(50, 50), kGreen);
  parentColor = kBlue;
  InvalidateRect(top, nullptr, TRUE);
  testkit::pump();
  EXPECT_EQ(testkit::pixel(50, 50), kGreen);
  EXPECT_EQ(testkit::pixel(10, 10), kBlue);
  EXPECT_EQ(testkit::countPixels(RECT{40, 40, 140, 90}, kGreen), 100 * 50);

  // Hiding the child shows the parent beneath; moving it repaints both places.
  ShowWindow(child, SW_HIDE);
  testkit::pump();
  EXPECT_EQ(testkit::pixel(50, 50), kBlue);
  ShowWindow(child, SW_SHOW);
  MoveWindow(child, 100, 200, 50, 50, TRUE);
  testkit::pump();
  EXPECT_EQ(testkit::pixel(50, 50), kBlue);
  EXPECT_EQ(testkit::pixel(120, 220), kGreen);
}

TEST_F(WindowPaint, ClosingAPopupRepaintsWhatWasUnderIt) {
  COLORREF mainColor = kRed, popupColor = kGreen;
  windows.solid(&mainColor, WS_POPUP | WS_VISIBLE, RECT{0, 0, 240, 320});
  HWND popup = windows.solid(&popupColor, WS_POPUP | WS_VISIBLE, RECT{20, 20, 220, 120});
  testkit::pump();
  EXPECT_EQ(testkit::pixel(100, 100), kGreen);
  // Minimising takes a window out of view as hiding does.
  ShowWindow(popup, SW_MINIMIZE);
  testkit::pump();
  EXPECT_FALSE(IsWindowVisible(popup));
  EXPECT_EQ(testkit::pixel(100, 100), kRed);
  ShowWindow(popup, SW_SHOW);
  testkit::pump();
  EXPECT_EQ(testkit::pixel(100, 100), kGreen);
  SendMessage(popup, WM_CLOSE, 0, 0);  // the default closes by destroying
  EXPECT_FALSE(IsWindow(popup));
  testkit::pump();
  EXPECT_EQ(testkit::countPixels(RECT{0, 0, 240, 320}, kRed), 240 * 320);
}

TEST_F(WindowPaint, EraseUsesTheClassBrushAndFramesAreDrawn) {
  HWND w = windows.make(nullptr, WS_POPUP | WS_VISIBLE | WS_BORDER, RECT{10, 10, 110, 60});
  testkit::pump();
  // The class brush is the window colour; the border is the frame colour.
  EXPECT_EQ(testkit::pixel(50, 30), GetSysColor(COLOR_WINDOW));
  EXPECT_EQ(testkit::pixel(10, 10), GetSysColor(COLOR_WINDOWFRAME));
  EXPECT_EQ(testkit::pixel(109, 59), GetSysColor(COLOR_WINDOWFRAME));
  RECT c;
  GetClientRect(w, &c);
  EXPECT_EQ(c.right, 98);
  POINT p{0, 0};
  ClientToScreen(w, &p);
  EXPECT_EQ(p.x, 11);
  EXPECT_EQ(p.y, 11);
}

// Rows of text as a list would draw them.
void paintRows(HDC dc, const RECT& client, HFONT font) {
  TRIVERTEX v[2] = {{client.left, client.top, 0xFF00, 0xFF00, 0xFF00, 0},
                    {client.right, client.bottom, 242 << 8, 234 << 8, 225 << 8, 0}};
  GRADIENT_RECT gr{0, 1};
  GradientFill(dc, v, 2, &gr, 1, GRADIENT_FILL_RECT_V);
  HGDIOBJ old = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  for (int i = 0; i < 8; ++i) {
    RECT r{client.left + 4, client.top + i * 30, client.right - 4, client.top + i * 30 + 30};
    if (i == 2) {
      RECT sel = r;
      InflateRect(&sel, 0, -1);
      HBRUSH b = CreateSolidBrush(RGB(187, 205, 225));
      FillRect(dc, &sel, b);
      DeleteObject(b);
    }
    SetTextColor(dc, i % 2 ? RGB(124, 125, 127) : RGB(0, 0, 0));
    std::u16string text = u"Row " + std::u16string(1, char16_t(u'0' + i)) + u" with a fairly long line of text";
    DrawText(dc, text.c_str(), -1, &r, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
  }
  SelectObject(dc, old);
}

TEST_F(WindowPaint, DoubleBufferedPaintMatchesDirectPaint) {
  LOGFONT lf{};
  lf.lfHeight = -14;
  lf.lfWeight = FW_BOLD;
  HFONT font = CreateFontIndirect(&lf);
  auto direct = [&](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m != WM_PAINT) return std::nullopt;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    RECT c;
    GetClientRect(h, &c);
    paintRows(dc, c, font);
    EndPaint(h, &ps);
    return 0;
  };
  auto buffered = [&](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m != WM_PAINT) return std::nullopt;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    RECT c;
    GetClientRect(h, &c);
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP bmp = CreateCompatibleBitmap(dc, c.right, c.bottom);
    HGDIOBJ old = SelectObject(mem, bmp);
    paintRows(mem, c, font);
    BitBlt(dc, 0, 0, c.right, c.bottom, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    EndPaint(h, &ps);
    return 0;
  };
  windows.make(direct, WS_POPUP | WS_VISIBLE, RECT{0, 0, 120, 240});
  windows.make(buffered, WS_POPUP | WS_VISIBLE, RECT{120, 0, 240, 240});
  testkit::pump();
  int differ = 0, black = 0;
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 120; ++x) {
      COLORREF a = testkit::pixel(x, y);
      if (a != testkit::pixel(x + 120, y)) ++differ;
      if (a == RGB(0, 0, 0)) ++black;
    }
  EXPECT_EQ(differ, 0);
  EXPECT_GT(black, 50);  // the text is really there
  EXPECT_EQ(testkit::pixel(60, 0), RGB(255, 255, 255));
  EXPECT_EQ(testkit::pixel(1, 239), RGB(242, 234, 225));
  EXPECT_EQ(testkit::pixel(5, 65), RGB(187, 205, 225));
  DeleteObject(font);
}

TEST_F(WindowPaint, GetDCDrawsOnlyWhereTheWindowShows) {
  COLORREF under = kRed, over = kGreen;
  HWND below = windows.solid(&under, WS_POPUP | WS_VISIBLE, RECT{0, 0, 100, 100});
  windows.solid(&over, WS_POPUP | WS_VISIBLE, RECT{50, 50, 150, 150});
  testkit::pump();
  HDC dc = GetDC(below);
  RECT all{0, 0, 100, 100};
  FillRect(dc, &all, reinterpret_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  ReleaseDC(below, dc);
  EXPECT_EQ(testkit::pixel(10, 10), RGB(0, 0, 0));
  EXPECT_EQ(testkit::pixel(60, 60), kGreen);
  // A paint outside WM_PAINT draws nothing.
  PAINTSTRUCT ps;
  HDC pdc = BeginPaint(below, &ps);
  FillRect(pdc, &all, reinterpret_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  EndPaint(below, &ps);
  EXPECT_EQ(testkit::pixel(10, 10), RGB(0, 0, 0));
}

TEST_F(WindowPaint, ScreenshotsAreWrittenAsPng) {
  COLORREF c = kBlue;
  windows.solid(&c, WS_POPUP | WS_VISIBLE, RECT{0, 0, 240, 320});
  testkit::pump();
  ASSERT_TRUE(testkit::saveScreenshot("WindowPaint.sample"));
  std::string path = testkit::screenshotDir() + "/WindowPaint.sample.png";
  FILE* f = fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  unsigned char sig[8] = {};
  EXPECT_EQ(fread(sig, 1, 8, f), 8u);
  fclose(f);
  EXPECT_EQ(sig[1], 'P');
  EXPECT_EQ(sig[2], 'N');
  remove(path.c_str());
}

}  // namespace

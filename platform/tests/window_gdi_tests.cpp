#include "dc_selection.h"
#include "gdi_object.h"
#include "platform/bitmap.h"
#include "platform/screen.h"
#include "window_test_util.h"

namespace {

const COLORREF kWhite = RGB(255, 255, 255);

// Draws on the whole screen through a screen DC, then reads pixels back.
class GdiDrawing : public wtest::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    dc = GetDC(nullptr);
    RECT all{0, 0, 240, 320};
    FillRect(dc, &all, reinterpret_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  }
  void TearDown() override {
    if (font) SelectObject(dc, GetStockObject(SYSTEM_FONT));
    ReleaseDC(nullptr, dc);
    if (font) DeleteObject(font);
    WindowTest::TearDown();
  }
  void useFont(int height, int weight = FW_NORMAL) {
    LOGFONT lf{};
    lf.lfHeight = height;
    lf.lfWeight = weight;
    std::u16string face = u"Tahoma";
    std::copy(face.begin(), face.end(), lf.lfFaceName);
    HFONT f = CreateFontIndirect(&lf);
    SelectObject(dc, f);
    if (font) DeleteObject(font);
    font = f;
  }
  int text(const std::u16string& s, RECT r, UINT flags) {
    return DrawText(dc, s.c_str(), int(s.size()), &r, flags);
  }
  HDC dc = nullptr;
  HFONT font = nullptr;
};

TEST_F(GdiDrawing, TextTakesTheTextColourAndStaysInItsRectangle) {
  useFont(-16);
  SetTextColor(dc, RGB(200, 0, 0));
  SetBkMode(dc, TRANSPARENT);
  RECT r{10, 10, 230, 40};
  text(u"Hello, world", r, DT_SINGLELINE);
  RECT ink = testkit::inkBox(RECT{0, 0, 240, 320}, kWhite);
  EXPECT_GE(ink.left, 10);
  EXPECT_GE(ink.top, 10);
  EXPECT_LE(ink.bottom, 40);
  EXPECT_GT(testkit::countPixels(ink, RGB(200, 0, 0)), 20);  // solid stems in the exact colour
  // Nothing else than shades between the text colour and the background.
  for (int y = ink.top; y < ink.bottom; ++y)
    for (int x = ink.left; x < ink.right; ++x) {
      COLORREF c = testkit::pixel(x, y);
      EXPECT_EQ(GetGValue(c), GetBValue(c));
      EXPECT_GE(GetRValue(c), 200);
    }
  // Opaque mode paints the background colour behind the text.
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, RGB(0, 0, 255));
  text(u"Hello", RECT{10, 100, 230, 130}, DT_SINGLELINE);
  EXPECT_GT(testkit::countPixels(RECT{10, 100, 230, 130}, RGB(0, 0, 255)), 50);
}

TEST_F(GdiDrawing, WordBreakWrapsAndCalcRectMeasures) {
  useFont(-14);
  std::u16string longText = u"The quick brown fox jumps over the lazy dog again and again";
  RECT one{0, 0, 1000, 0};
  int lineH = text(longText, one, DT_CALCRECT | DT_SINGLELINE);
  SIZE ext;
  GetTextExtentPoint32(dc, longText.c_str(), int(longText.size()), &ext);
  RECT calc{0, 0, 1000, 0};
  DrawText(dc, longText.c_str(), -1, &calc, DT_CALCRECT | DT_SINGLELINE);
  EXPECT_EQ(calc.right, ext.cx);
  EXPECT_EQ(calc.bottom, lineH);

  RECT narrow{20, 0, 120, 0};
  int wrappedH = DrawText(dc, longText.c_str(), -1, &narrow, DT_CALCRECT | DT_WORDBREAK);
  EXPECT_GE(wrappedH, 4 * lineH);
  EXPECT_LE(narrow.right, 120);
  EXPECT_EQ(narrow.bottom, wrappedH);
  EXPECT_EQ(narrow.left, 20);

  SetBkMode(dc, TRANSPARENT);
  RECT box{20, 10, 120, 310};
  int drawn = text(longText, box, DT_WORDBREAK);
  EXPECT_EQ(drawn, wrappedH);
  RECT ink = testkit::inkBox(RECT{0, 0, 240, 320}, kWhite);
  EXPECT_GE(ink.left, 20);
  EXPECT_LE(ink.right, 120);
  EXPECT_GE(ink.bottom - ink.top, 3 * lineH);
  // Explicit line breaks count without word break too.
  RECT lines{0, 0, 200, 0};
  EXPECT_EQ(DrawText(dc, u"a\nb\nc", -1, &lines, DT_CALCRECT), 3 * lineH);
}

TEST_F(GdiDrawing, EndEllipsisKeepsLongTextInsideTheRectangle) {
  useFont(-14);
  SetBkMode(dc, TRANSPARENT);
  std::u16string longText = u"A very long contact name that cannot fit";
  // Without ellipsis and without clipping the text runs past the right edge.
  text(longText, RECT{10, 10, 110, 30}, DT_SINGLELINE | DT_NOCLIP);
  RECT ink = testkit::inkBox(RECT{0, 0, 240, 40}, kWhite);
  EXPECT_GT(ink.right, 150);
  text(longText, RECT{10, 50, 110, 70}, DT_SINGLELINE | DT_NOCLIP | DT_END_ELLIPSIS);
  RECT ell = testkit::inkBox(RECT{0, 40, 240, 80}, kWhite);
  EXPECT_LE(ell.right, 110);
  EXPECT_GT(ell.right, 90);  // filled up to the edge, with the dots
  // A short text is left alone.
  text(u"Ann", RECT{10, 90, 110, 110}, DT_SINGLELINE | DT_END_ELLIPSIS);
  RECT plain = testkit::inkBox(RECT{0, 80, 240, 120}, kWhite);
  EXPECT_LT(plain.right, 60);
}

TEST_F(GdiDrawing, AlignmentCentresAndBottoms) {
  useFont(-14);
  SetBkMode(dc, TRANSPARENT);
  RECT r{0, 0, 240, 100};
  int offset = text(u"Mid", r, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
  RECT ink = testkit::inkBox(RECT{0, 0, 240, 100}, kWhite);
  int cx = (ink.left + ink.right) / 2, cy = (ink.top + ink.bottom) / 2;
  EXPECT_NEAR(cx, 120, 2);
  EXPECT_NEAR(cy, 50, 3);
  EXPECT_GT(offset, 50);
  text(u"End", RECT{0, 100, 240, 200}, DT_SINGLELINE | DT_RIGHT | DT_BOTTOM);
  RECT br = testkit::inkBox(RECT{0, 100, 240, 200}, kWhite);
  EXPECT_GE(br.right, 236);
  EXPECT_LE(br.right, 240);
  EXPECT_GE(br.bottom, 190);
  // Prefix characters are not drawn; "&&" is one ampersand.
  RECT a{0, 0, 500, 0}, b{0, 0, 500, 0};
  DrawText(dc, u"&Save", -1, &a, DT_CALCRECT | DT_SINGLELINE);
  DrawText(dc, u"Save", -1, &b, DT_CALCRECT | DT_SINGLELINE);
  EXPECT_EQ(a.right, b.right);
  DrawText(dc, u"&Save", -1, &a, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  EXPECT_GT(a.right, b.right);
}

TEST_F(GdiDrawing, FontsFollowTheirLogicalDescription) {
  useFont(-10);
  TEXTMETRIC small;
  GetTextMetrics(dc, &small);
  SIZE smallExt;
  GetTextExtentPoint32(dc, u"Olvaro", 6, &smallExt);
  useFont(-20);
  TEXTMETRIC big;
  GetTextMetrics(dc, &big);
  SIZE bigExt;
  GetTextExtentPoint32(dc, u"Olvaro", 6, &bigExt);
  EXPECT_GE(big.tmHeight, 20);
  EXPECT_LE(big.tmHeight, 28);
  EXPECT_EQ(big.tmHeight, big.tmAscent + big.tmDescent);
  EXPECT_GT(bigExt.cx, smallExt.cx * 3 / 2);
  EXPECT_GT(big.tmAveCharWidth, small.tmAveCharWidth);
  useFont(-20, FW_BOLD);
  SIZE boldExt;
  GetTextExtentPoint32(dc, u"Olvaro", 6, &boldExt);
  EXPECT_GT(boldExt.cx, bigExt.cx);
  // A positive height is the whole cell.
  useFont(24);
  TEXTMETRIC cell;
  GetTextMetrics(dc, &cell);
  EXPECT_NEAR(cell.tmHeight, 24, 1);

  int fit = 0;
  int dx[6];
  GetTextExtentExPoint(dc, u"Olvaro", 6, 30, &fit, dx, nullptr);
  EXPECT_GT(fit, 0);
  EXPECT_LT(fit, 6);
  for (int i = 1; i < 6; ++i) EXPECT_GT(dx[i], dx[i - 1]);
}

TEST_F(GdiDrawing, FillsEdgesAndGradients) {
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  RECT r{10, 10, 20, 30};
  FillRect(dc, &r, red);
  EXPECT_EQ(testkit::countPixels(RECT{0, 0, 40, 40}, RGB(255, 0, 0)), 10 * 20);
  FillRect(dc, &r, reinterpret_cast<HBRUSH>(COLOR_HIGHLIGHT + 1));
  EXPECT_EQ(testkit::pixel(15, 15), GetSysColor(COLOR_HIGHLIGHT));

  // Rectangle: the pen frames, the brush fills.
  HPEN bluePen = CreatePen(PS_SOLID, 1, RGB(0, 0, 255));
  HGDIOBJ oldPen = SelectObject(dc, bluePen);
  HGDIOBJ oldBrush = SelectObject(dc, red);
  Rectangle(dc, 50, 10, 60, 20);
  EXPECT_EQ(testkit::pixel(50, 10), RGB(0, 0, 255));
  EXPECT_EQ(testkit::pixel(59, 19), RGB(0, 0, 255));
  EXPECT_EQ(testkit::pixel(55, 15), RGB(255, 0, 0));
  EXPECT_EQ(testkit::pixel(60, 20), kWhite);
  MoveToEx(dc, 70, 10, nullptr);
  LineTo(dc, 80, 10);
  EXPECT_EQ(testkit::countPixels(RECT{60, 5, 90, 15}, RGB(0, 0, 255)), 10);  // the end point is not drawn
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  DeleteObject(bluePen);
  DeleteObject(red);

  // Raised edge: light top-left, dark bottom-right; sunken the other way.
  RECT e{100, 10, 140, 40};
  DrawEdge(dc, &e, EDGE_RAISED, BF_RECT | BF_ADJUST);
  EXPECT_EQ(testkit::pixel(100, 20), GetSysColor(COLOR_3DLIGHT));
  EXPECT_EQ(testkit::pixel(101, 20), GetSysColor(COLOR_3DHILIGHT));
  EXPECT_EQ(testkit::pixel(139, 20), GetSysColor(COLOR_3DDKSHADOW));
  EXPECT_EQ(testkit::pixel(138, 20), GetSysColor(COLOR_3DSHADOW));
  EXPECT_EQ(e.left, 102);
  EXPECT_EQ(e.bottom, 38);
  RECT s{150, 10, 190, 40};
  DrawEdge(dc, &s, EDGE_SUNKEN, BF_RECT);
  EXPECT_EQ(testkit::pixel(150, 20), GetSysColor(COLOR_3DSHADOW));
  EXPECT_EQ(testkit::pixel(189, 20), GetSysColor(COLOR_3DHILIGHT));

  TRIVERTEX v[2] = {{0, 100, 0xFF00, 0xFF00, 0xFF00, 0}, {240, 200, 0, 0, 0x8000, 0}};
  GRADIENT_RECT gr{0, 1};
  ASSERT_TRUE(GradientFill(dc, v, 2, &gr, 1, GRADIENT_FILL_RECT_V));
  EXPECT_EQ(testkit::pixel(5, 100), RGB(255, 255, 255));
  EXPECT_EQ(testkit::pixel(5, 199), RGB(0, 0, 128));
  int last = 256;
  for (int y = 100; y < 200; ++y) {
    int red = GetRValue(testkit::pixel(5, y));
    EXPECT_LE(red, last);
    last = red;
  }
  GRADIENT_RECT bad{0, 7};
  EXPECT_FALSE(GradientFill(dc, v, 2, &bad, 1, GRADIENT_FILL_RECT_V));
}

TEST_F(GdiDrawing, BitmapsInMemoryKeepTheirPixelFormat) {
  HDC mem = CreateCompatibleDC(dc);
  HBITMAP bmp = CreateCompatibleBitmap(dc, 8, 4);
  HGDIOBJ old = SelectObject(mem, bmp);
  RECT all{0, 0, 8, 4};
  HBRUSH b = CreateSolidBrush(RGB(1, 2, 3));
  FillRect(mem, &all, b);
  EXPECT_EQ(SetPixel(mem, 7, 3, RGB(9, 8, 7)), RGB(9, 8, 7));
  EXPECT_EQ(GetPixel(mem, 7, 3), RGB(9, 8, 7));
  EXPECT_EQ(GetPixel(mem, 8, 3), CLR_INVALID);
  BitBlt(dc, 100, 100, 8, 4, mem, 0, 0, SRCCOPY);
  EXPECT_EQ(testkit::pixel(100, 100), RGB(1, 2, 3));
  EXPECT_EQ(testkit::pixel(107, 103), RGB(9, 8, 7));
  EXPECT_EQ(testkit::pixel(108, 103), kWhite);
  EXPECT_EQ(SelectObject(mem, old), bmp);
  DeleteDC(mem);
  // Pixels stay 0x00RRGGBB for the code that reads bitmaps directly.
  platform::BitmapObject* bo = platform::asBitmap(bmp);
  ASSERT_NE(bo, nullptr);
  EXPECT_EQ(bo->at(0, 0), 0x010203u);
  EXPECT_EQ(bo->at(7, 3), 0x090807u);
  DeleteObject(bmp);
  DeleteObject(b);
  // Stock objects survive being deleted.
  EXPECT_TRUE(DeleteObject(GetStockObject(BLACK_BRUSH)));
  FillRect(dc, &all, reinterpret_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  EXPECT_EQ(testkit::pixel(0, 0), RGB(0, 0, 0));
  EXPECT_EQ(CreateCompatibleBitmap(dc, 0, 5), nullptr);
}

TEST_F(GdiDrawing, IconsDrawThroughTheirMask) {
  // A 4x4 icon: red where the mask is clear, transparent in one corner.
  HBITMAP color = CreateBitmap(4, 4, 1, 32, nullptr);
  HBITMAP mask = CreateBitmap(4, 4, 1, 1, nullptr);
  platform::BitmapObject* c = platform::asBitmap(color);
  platform::BitmapObject* m = platform::asBitmap(mask);
  ASSERT_TRUE(c && m);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      bool corner = x < 2 && y < 2;
      c->at(x, y) = corner ? 0 : 0xFF0000;
      m->at(x, y) = corner ? 0xFFFFFF : 0;
    }
  ICONINFO ii{TRUE, 0, 0, mask, color};
  HICON icon = CreateIconIndirect(&ii);
  ASSERT_NE(icon, nullptr);
  RECT bg{0, 0, 40, 40};
  HBRUSH green = CreateSolidBrush(RGB(0, 255, 0));
  FillRect(dc, &bg, green);
  ASSERT_TRUE(DrawIconEx(dc, 10, 10, icon, 8, 8, 0, nullptr, DI_NORMAL));
  EXPECT_EQ(testkit::pixel(10, 10), RGB(0, 255, 0));  // transparent corner, scaled to 4x4
  EXPECT_EQ(testkit::pixel(13, 13), RGB(0, 255, 0));
  EXPECT_EQ(testkit::pixel(14, 14), RGB(255, 0, 0));
  EXPECT_EQ(testkit::pixel(17, 10), RGB(255, 0, 0));
  EXPECT_EQ(testkit::pixel(18, 10), RGB(0, 255, 0));
  EXPECT_EQ(testkit::countPixels(bg, RGB(255, 0, 0)), 48);
  EXPECT_FALSE(DrawIconEx(dc, 0, 0, nullptr, 0, 0, 0, nullptr, DI_NORMAL));
  DestroyIcon(icon);
  DeleteObject(color);
  DeleteObject(mask);
  DeleteObject(green);
}

class GdiDevice : public wtest::WindowTest {
 protected:
  testkit::Options options() const override {
    testkit::Options o;
    o.width = 480;
    o.height = 640;
    o.dpi = 192;
    return o;
  }
};

TEST_F(GdiDevice, DeviceCapsAndMetricsFollowTheScreen) {
  HDC dc = GetDC(nullptr);
  EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), 192);
  EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 480);
  ReleaseDC(nullptr, dc);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 480);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 640);
  EXPECT_EQ(GetSystemMetrics(SM_CXICON), 64);
  EXPECT_EQ(GetSystemMetrics(SM_CXSMICON), 32);
  platform::screenInit(240, 320, 131);
  EXPECT_EQ(GetSystemMetrics(SM_CXICON), 32);
  EXPECT_EQ(GetSystemMetrics(SM_CYSMICON), 16);
  // A top-level window of default size covers the screen.
  HWND w = CreateWindowEx(0, wtest::testClass(), u"", WS_POPUP, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr,
                          nullptr, nullptr, nullptr);
  RECT r;
  GetWindowRect(w, &r);
  EXPECT_EQ(r.right, 240);
  EXPECT_EQ(r.bottom, 320);
}

}  // namespace

TEST_F(GdiDrawing, ScopedSelectionPutsBackWhatWasSelected) {
  HPEN red = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
  HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
  HGDIOBJ pen = GetStockObject(BLACK_PEN), brush = GetStockObject(WHITE_BRUSH);
  SelectObject(dc, pen);
  SelectObject(dc, brush);
  {
    platform::gdi::DcSelection both(dc, red, blue);
    {
      platform::gdi::DcSelection inner(dc, GetStockObject(NULL_PEN));
      EXPECT_EQ(SelectObject(dc, GetStockObject(NULL_PEN)), GetStockObject(NULL_PEN));
    }
    // Drawn with what the outer scope selected: a blue square, red edges.
    Rectangle(dc, 10, 10, 20, 20);
    EXPECT_EQ(testkit::pixel(15, 15), RGB(0, 0, 255));
    EXPECT_EQ(testkit::pixel(10, 15), RGB(255, 0, 0));
  }
  EXPECT_EQ(SelectObject(dc, pen), pen);
  EXPECT_EQ(SelectObject(dc, brush), brush);
  DeleteObject(red);
  DeleteObject(blue);
}

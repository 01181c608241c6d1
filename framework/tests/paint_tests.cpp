#include "framework/paint.h"

#include <vector>

#include "framework/fonts.h"
#include "framework_fixture.h"
#include "gdi_audit.h"
#include "platform/bitmap.h"

namespace {

using fwk::MemoryDC;
using fwk::ScopedSelect;
using fwktest::GdiCounts;
using fwktest::gdiCounts;

class PaintTest : public testkit::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    screen = GetDC(nullptr);
    // The shared fonts live as long as the module: make them before counting.
    fwk::smallFont();
    fwk::boldFont();
  }
  void TearDown() override {
    ReleaseDC(nullptr, screen);
    PlatformTest::TearDown();
  }
  HDC screen = nullptr;
};

TEST_F(PaintTest, ScopedSelectionsPutBackWhatTheyReplacedAndFreeWhatTheyOwn) {
  GdiCounts before = gdiCounts();
  {
    MemoryDC target(screen, 40, 40);
    ASSERT_TRUE(target);
    {
      MemoryDC mem(target.dc(), 40, 40);
      ASSERT_TRUE(mem);
      HGDIOBJ firstFont = SelectObject(mem.dc(), GetStockObject(SYSTEM_FONT));
      SelectObject(mem.dc(), firstFont);
      {
        ScopedSelect font(mem.dc(), fwk::smallFont());
        ScopedSelect pen(mem.dc(), CreatePen(PS_SOLID, 1, RGB(255, 0, 0)), ScopedSelect::kOwned);
        ScopedSelect brush(mem.dc(), CreateSolidBrush(RGB(0, 0, 255)), ScopedSelect::kOwned);
        ASSERT_TRUE(font && pen && brush);
        Rectangle(mem.dc(), 0, 0, 40, 40);
        // Nested: the inner one puts back the outer one's font.
        {
          ScopedSelect bold(mem.dc(), fwk::boldFont());
        }
        EXPECT_EQ(SelectObject(mem.dc(), fwk::smallFont()), fwk::smallFont());
      }
      EXPECT_EQ(SelectObject(mem.dc(), firstFont), firstFont);
      // Only the area asked for is copied, to the same place.
      EXPECT_TRUE(mem.copyTo(RECT{10, 10, 20, 20}));
    }
    EXPECT_EQ(GetPixel(target.dc(), 15, 15), RGB(0, 0, 255));
    EXPECT_EQ(GetPixel(target.dc(), 25, 25), RGB(0, 0, 0));
  }
  GdiCounts after = gdiCounts();
  // Two DCs, two bitmaps, a pen and a brush were made, and all went again;
  // the borrowed fonts were not deleted.
  EXPECT_EQ(after.dcsMade, before.dcsMade + 2);
  EXPECT_EQ(after.objectsMade, before.objectsMade + 4);
  EXPECT_EQ(after.dcsLive, before.dcsLive);
  EXPECT_EQ(after.objectsLive, before.objectsLive);
  EXPECT_EQ(after.dcsDeletedDirty, before.dcsDeletedDirty);
}

TEST_F(PaintTest, FailuresDrawNothingAndLeakNothing) {
  GdiCounts before = gdiCounts();
  for (auto size : {SIZE{0, 10}, SIZE{10, -1}, SIZE{100000, 100000}}) {
    MemoryDC mem(screen, size.cx, size.cy);
    EXPECT_FALSE(mem) << size.cx << "x" << size.cy;
    EXPECT_FALSE(mem.copyTo(RECT{0, 0, 5, 5}));
  }
  EXPECT_FALSE(MemoryDC(nullptr, 10, 10));
  {
    // An owned object is freed even when it could not be selected.
    ScopedSelect pen(nullptr, CreatePen(PS_SOLID, 1, 0), ScopedSelect::kOwned);
    EXPECT_FALSE(pen);
  }
  GdiCounts after = gdiCounts();
  EXPECT_GT(after.objectsMade, before.objectsMade);
  EXPECT_EQ(after.dcsLive, before.dcsLive);
  EXPECT_EQ(after.objectsLive, before.objectsLive);
}

TEST_F(PaintTest, GradientRunsFromTheTopToTheBottomOfItsRectangle) {
  MemoryDC mem(screen, 30, 120);
  ASSERT_TRUE(mem);
  RECT back{0, 0, 30, 120};
  HBRUSH green = CreateSolidBrush(RGB(0, 255, 0));
  FillRect(mem.dc(), &back, green);
  DeleteObject(green);
  const COLORREF top = RGB(255, 255, 255), bottom = RGB(0, 0, 0);
  ASSERT_TRUE(fwk::fillVerticalGradient(mem.dc(), RECT{5, 10, 25, 110}, top, bottom));
  EXPECT_TRUE(fwktest::near(GetPixel(mem.dc(), 5, 10), top, 4));
  EXPECT_TRUE(fwktest::near(GetPixel(mem.dc(), 24, 109), bottom, 4));
  EXPECT_TRUE(fwktest::near(GetPixel(mem.dc(), 15, 60), RGB(128, 128, 128), 6));
  // Level across, and nothing outside the rectangle.
  EXPECT_EQ(GetPixel(mem.dc(), 5, 60), GetPixel(mem.dc(), 24, 60));
  EXPECT_EQ(GetPixel(mem.dc(), 4, 60), RGB(0, 255, 0));
  EXPECT_EQ(GetPixel(mem.dc(), 15, 110), RGB(0, 255, 0));
}

// One spot lit at a time, walking round with the tick, and no brush left over.
TEST_F(PaintTest, BusyIndicatorLightsOneSpotThatWalksWithTheTick) {
  MemoryDC mem(screen, 32, 32);
  ASSERT_TRUE(mem);
  const COLORREF lit = RGB(255, 255, 255), dim = RGB(0, 0, 255), back = RGB(0, 0, 0);
  auto litSpots = [&](unsigned tick) {
    RECT all{0, 0, 32, 32};
    FillRect(mem.dc(), &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    fwk::drawBusyIndicator(mem.dc(), 0, 0, 32, tick, lit, dim);
    std::vector<POINT> found;
    int dimPixels = 0;
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) {
        COLORREF c = GetPixel(mem.dc(), x, y);
        if (c == lit) found.push_back({x, y});
        else if (c == dim) ++dimPixels;
        else EXPECT_EQ(c, back);
      }
    EXPECT_GT(dimPixels, 0);
    return found;
  };
  GdiCounts before = gdiCounts();
  auto first = litSpots(0), second = litSpots(1), again = litSpots(8);
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_NE(first[0].x * 100 + first[0].y, second[0].x * 100 + second[0].y);
  EXPECT_EQ(first.size(), again.size());
  EXPECT_EQ(first[0].x, again[0].x);
  EXPECT_EQ(first[0].y, again[0].y);
  EXPECT_EQ(gdiCounts().objectsLive, before.objectsLive);
}

}  // namespace

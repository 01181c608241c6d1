#include "framework/paint.h"

#include <cmath>

#include "platform/bitmap.h"

namespace fwk {

MemoryDC::MemoryDC(HDC target, int width, int height) : m_target(target) {
  if (!target || width <= 0 || height <= 0) return;
  m_dc = CreateCompatibleDC(target);
  if (!m_dc) return;
  HBITMAP bitmap = CreateCompatibleBitmap(target, width, height);
  HGDIOBJ old = bitmap ? SelectObject(m_dc, bitmap) : nullptr;
  if (!old) {
    if (bitmap) DeleteObject(bitmap);
    return;
  }
  m_bitmap = bitmap;
  m_oldBitmap = old;
  m_width = width;
  m_height = height;
}

MemoryDC::~MemoryDC() {
  if (!m_dc) return;
  if (m_bitmap) {
    SelectObject(m_dc, m_oldBitmap);
    DeleteObject(m_bitmap);
  }
  DeleteDC(m_dc);
}

BOOL MemoryDC::copyTo(const RECT& area) const {
  if (!m_bitmap) return FALSE;
  return BitBlt(m_target, area.left, area.top, area.right - area.left, area.bottom - area.top, m_dc, area.left,
                area.top, SRCCOPY);
}

ScopedSelect::ScopedSelect(HDC dc, HGDIOBJ object, Ownership ownership)
    : m_dc(dc), m_object(object), m_old(dc && object ? SelectObject(dc, object) : nullptr),
      m_owned(ownership == kOwned) {}

ScopedSelect::~ScopedSelect() {
  if (m_old) SelectObject(m_dc, m_old);
  if (m_owned && m_object) DeleteObject(m_object);
}

namespace {

TRIVERTEX vertex(LONG x, LONG y, COLORREF c) {
  return TRIVERTEX{x, y, COLOR16(GetRValue(c) << 8), COLOR16(GetGValue(c) << 8), COLOR16(GetBValue(c) << 8), 0};
}

}  // namespace

BOOL fillVerticalGradient(HDC dc, const RECT& rect, COLORREF top, COLORREF bottom) {
  TRIVERTEX v[2] = {vertex(rect.left, rect.top, top), vertex(rect.right, rect.bottom, bottom)};
  GRADIENT_RECT gr{0, 1};
  return GradientFill(dc, v, 2, &gr, 1, GRADIENT_FILL_RECT_V);
}

void drawBusyIndicator(HDC dc, int x, int y, int size, unsigned tick, COLORREF lit, COLORREF dim) {
  constexpr int kSpots = 8;
  double centre = size / 2.0, radius = size * 0.38;
  int dot = size / 8 > 1 ? size / 8 : 2;
  HBRUSH litBrush = CreateSolidBrush(lit), dimBrush = CreateSolidBrush(dim);
  for (int i = 0; i < kSpots; ++i) {
    double angle = 2 * M_PI * i / kSpots;
    int cx = x + int(std::lround(centre + radius * std::sin(angle)));
    int cy = y + int(std::lround(centre - radius * std::cos(angle)));
    RECT r{cx - dot / 2, cy - dot / 2, cx - dot / 2 + dot, cy - dot / 2 + dot};
    FillRect(dc, &r, unsigned(i) == tick % kSpots ? litBrush : dimBrush);
  }
  DeleteObject(litBrush);
  DeleteObject(dimBrush);
}

}  // namespace fwk

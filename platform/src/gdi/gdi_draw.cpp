// Fills, shapes, lines, edges, gradients, bit blocks and icons.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

#include "gdi_internal.h"
#include "platform/window.h"

namespace platform::gdi {
namespace {

void fillLogical(DC* dc, int l, int t, int r, int b, COLORREF c) {
  if (r <= l || b <= t) return;
  cairo_t* cr = dc->cr;
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  setColor(cr, c);
  cairo_rectangle(cr, l, t, r - l, b - t);
  cairo_fill(cr);
  cairo_restore(cr);
}

uint32_t* pixelsOf(cairo_surface_t* s, int* width, int* height, int* stride) {
  *width = cairo_image_surface_get_width(s);
  *height = cairo_image_surface_get_height(s);
  *stride = cairo_image_surface_get_stride(s) / 4;
  return reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s));
}

// Calls `fn` for every surface pixel of a logical rectangle that lies inside
// the DC's clip; the pixel is 0x??RRGGBB and may be changed.
void forEachPixel(DC* dc, int l, int t, int r, int b, const std::function<void(uint32_t&, int, int)>& fn) {
  cairo_surface_flush(dc->surface);
  int w, h, stride;
  uint32_t* px = pixelsOf(dc->surface, &w, &h, &stride);
  if (!px) return;
  cairo_rectangle_int_t want{sx(dc, l), sy(dc, t), std::max(0, r - l), std::max(0, b - t)};
  cairo_region_t* area = cairo_region_create_rectangle(&want);
  cairo_region_intersect(area, dc->clip);
  cairo_rectangle_int_t bounds{0, 0, w, h};
  cairo_region_intersect_rectangle(area, &bounds);
  int n = cairo_region_num_rectangles(area);
  for (int i = 0; i < n; ++i) {
    cairo_rectangle_int_t rr;
    cairo_region_get_rectangle(area, i, &rr);
    for (int y = rr.y; y < rr.y + rr.height; ++y)
      for (int x = rr.x; x < rr.x + rr.width; ++x)
        fn(px[size_t(y) * size_t(stride) + size_t(x)], x - sx(dc, 0), y - sy(dc, 0));
  }
  cairo_region_destroy(area);
  cairo_surface_mark_dirty(dc->surface);
}

uint32_t toPixel(COLORREF c) { return (uint32_t(GetRValue(c)) << 16) | (uint32_t(GetGValue(c)) << 8) | GetBValue(c); }
COLORREF fromPixel(uint32_t p) { return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF); }

void strokeWithPen(DC* dc) {
  PenObject* p = penOf(dc->pen);
  if (!p || p->style == PS_NULL) {
    cairo_new_path(dc->cr);
    return;
  }
  setColor(dc->cr, p->color);
  cairo_set_line_width(dc->cr, p->width);
  if (p->style == PS_DASH) {
    double dash[] = {6.0, 3.0};
    cairo_set_dash(dc->cr, dash, 2, 0);
  } else {
    cairo_set_dash(dc->cr, nullptr, 0, 0);
  }
  cairo_stroke(dc->cr);
}

void fillWithBrush(DC* dc, bool preserve) {
  COLORREF c;
  if (brushColor(dc->brush, &c)) {
    setColor(dc->cr, c);
    if (preserve) {
      cairo_fill_preserve(dc->cr);
    } else {
      cairo_fill(dc->cr);
    }
  } else if (!preserve) {
    cairo_new_path(dc->cr);
  }
}

bool penVisible(DC* dc) {
  PenObject* p = penOf(dc->pen);
  return p && p->style != PS_NULL;
}

}  // namespace
}  // namespace platform::gdi

using namespace platform;
using namespace platform::gdi;

int FillRect(HDC hdc, const RECT* rect, HBRUSH brush) {
  DC* dc = dcOf(hdc);
  COLORREF c;
  if (!dc || !rect) return 0;
  if (!brushColor(brush, &c)) return 1;
  fillLogical(dc, rect->left, rect->top, rect->right, rect->bottom, c);
  return 1;
}

BOOL Rectangle(HDC hdc, int l, int t, int r, int b) {
  DC* dc = dcOf(hdc);
  if (!dc) return FALSE;
  if (r < l) std::swap(l, r);
  if (b < t) std::swap(t, b);
  PenObject* p = penOf(dc->pen);
  COLORREF fill;
  bool hasFill = brushColor(dc->brush, &fill);
  if (!penVisible(dc)) {
    // Without a pen the filled area is one pixel smaller on the right and
    // bottom, as on the real system.
    if (hasFill) fillLogical(dc, l, t, r - 1, b - 1, fill);
    return TRUE;
  }
  int w = p->width;
  if (hasFill) {
    fillLogical(dc, l, t, r, b, p->color);
    fillLogical(dc, l + w, t + w, r - w, b - w, fill);
  } else {
    // Hollow: only the frame; the inside keeps what was there.
    fillLogical(dc, l, t, r, t + w, p->color);
    fillLogical(dc, l, b - w, r, b, p->color);
    fillLogical(dc, l, t, l + w, b, p->color);
    fillLogical(dc, r - w, t, r, b, p->color);
  }
  return TRUE;
}

BOOL RoundRect(HDC hdc, int l, int t, int r, int b, int w, int h) {
  DC* dc = dcOf(hdc);
  if (!dc) return FALSE;
  cairo_t* cr = dc->cr;
  double rx = w / 2.0, ry = h / 2.0;
  cairo_save(cr);
  cairo_new_path(cr);
  double x0 = l + 0.5, y0 = t + 0.5, x1 = r - 0.5, y1 = b - 0.5;
  if (rx <= 0 || ry <= 0) {
    cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
  } else {
    cairo_save(cr);
    cairo_translate(cr, x0 + rx, y0 + ry);
    cairo_scale(cr, rx, ry);
    cairo_arc(cr, 0, 0, 1, M_PI, 1.5 * M_PI);
    cairo_restore(cr);
    cairo_save(cr);
    cairo_translate(cr, x1 - rx, y0 + ry);
    cairo_scale(cr, rx, ry);
    cairo_arc(cr, 0, 0, 1, 1.5 * M_PI, 2 * M_PI);
    cairo_restore(cr);
    cairo_save(cr);
    cairo_translate(cr, x1 - rx, y1 - ry);
    cairo_scale(cr, rx, ry);
    cairo_arc(cr, 0, 0, 1, 0, 0.5 * M_PI);
    cairo_restore(cr);
    cairo_save(cr);
    cairo_translate(cr, x0 + rx, y1 - ry);
    cairo_scale(cr, rx, ry);
    cairo_arc(cr, 0, 0, 1, 0.5 * M_PI, M_PI);
    cairo_restore(cr);
    cairo_close_path(cr);
  }
  fillWithBrush(dc, true);
  strokeWithPen(dc);
  cairo_restore(cr);
  return TRUE;
}

BOOL Ellipse(HDC hdc, int l, int t, int r, int b) {
  DC* dc = dcOf(hdc);
  if (!dc || r <= l || b <= t) return FALSE;
  cairo_t* cr = dc->cr;
  cairo_save(cr);
  cairo_new_path(cr);
  cairo_save(cr);
  cairo_translate(cr, (l + r) / 2.0, (t + b) / 2.0);
  cairo_scale(cr, (r - l - 1) / 2.0, (b - t - 1) / 2.0);
  cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
  cairo_restore(cr);
  fillWithBrush(dc, true);
  strokeWithPen(dc);
  cairo_restore(cr);
  return TRUE;
}

BOOL Polygon(HDC hdc, const POINT* pts, int count) {
  DC* dc = dcOf(hdc);
  if (!dc || !pts || count < 2) return FALSE;
  cairo_t* cr = dc->cr;
  cairo_save(cr);
  cairo_new_path(cr);
  for (int i = 0; i < count; ++i) cairo_line_to(cr, pts[i].x + 0.5, pts[i].y + 0.5);
  cairo_close_path(cr);
  fillWithBrush(dc, true);
  strokeWithPen(dc);
  cairo_restore(cr);
  return TRUE;
}

BOOL MoveToEx(HDC hdc, int x, int y, LPPOINT old) {
  DC* dc = dcOf(hdc);
  if (!dc) return FALSE;
  if (old) *old = dc->pos;
  dc->pos = POINT{x, y};
  return TRUE;
}

BOOL LineTo(HDC hdc, int x, int y) {
  DC* dc = dcOf(hdc);
  if (!dc) return FALSE;
  POINT a = dc->pos;
  dc->pos = POINT{x, y};
  PenObject* p = penOf(dc->pen);
  if (!p || p->style == PS_NULL) return TRUE;
  // The end point is not drawn.
  if (p->width <= 1 && p->style == PS_SOLID && (a.x == x || a.y == y)) {
    if (a.y == y) {
      fillLogical(dc, std::min(a.x, x + (x > a.x ? 0 : 1)), y, std::max(a.x + (x > a.x ? 0 : 1), x), y + 1,
                  p->color);
    } else {
      fillLogical(dc, x, std::min(a.y, y + (y > a.y ? 0 : 1)), x + 1, std::max(a.y + (y > a.y ? 0 : 1), y),
                  p->color);
    }
    return TRUE;
  }
  cairo_save(dc->cr);
  cairo_new_path(dc->cr);
  cairo_move_to(dc->cr, a.x + 0.5, a.y + 0.5);
  cairo_line_to(dc->cr, x + 0.5, y + 0.5);
  strokeWithPen(dc);
  cairo_restore(dc->cr);
  return TRUE;
}

BOOL Polyline(HDC hdc, const POINT* pts, int count) {
  if (!pts || count < 2) return FALSE;
  DC* dc = dcOf(hdc);
  if (!dc) return FALSE;
  POINT keep = dc->pos;
  MoveToEx(hdc, pts[0].x, pts[0].y, nullptr);
  for (int i = 1; i < count; ++i) LineTo(hdc, pts[i].x, pts[i].y);
  dc->pos = keep;
  return TRUE;
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color) {
  DC* dc = dcOf(hdc);
  if (!dc) return CLR_INVALID;
  bool hit = false;
  forEachPixel(dc, x, y, x + 1, y + 1, [&](uint32_t& p, int, int) {
    p = toPixel(color);
    hit = true;
  });
  return hit ? (color & 0xFFFFFF) : CLR_INVALID;
}

COLORREF GetPixel(HDC hdc, int x, int y) {
  DC* dc = dcOf(hdc);
  if (!dc) return CLR_INVALID;
  COLORREF c = CLR_INVALID;
  forEachPixel(dc, x, y, x + 1, y + 1, [&](uint32_t& p, int, int) { c = fromPixel(p); });
  return c;
}

BOOL DrawEdge(HDC hdc, LPRECT rect, UINT edge, UINT flags) {
  DC* dc = dcOf(hdc);
  if (!dc || !rect) return FALSE;
  RECT r = *rect;
  struct Ring {
    UINT raised, sunken;
    int tlRaised, brRaised, tlSunken, brSunken;
  };
  const Ring rings[2] = {
      {BDR_RAISEDOUTER, BDR_SUNKENOUTER, COLOR_3DLIGHT, COLOR_3DDKSHADOW, COLOR_3DSHADOW, COLOR_3DHILIGHT},
      {BDR_RAISEDINNER, BDR_SUNKENINNER, COLOR_3DHILIGHT, COLOR_3DSHADOW, COLOR_3DDKSHADOW, COLOR_3DLIGHT},
  };
  for (const Ring& ring : rings) {
    bool raised = edge & ring.raised, sunken = edge & ring.sunken;
    if (!raised && !sunken) continue;
    COLORREF tl = GetSysColor(raised ? ring.tlRaised : ring.tlSunken);
    COLORREF br = GetSysColor(raised ? ring.brRaised : ring.brSunken);
    if (flags & BF_MONO) tl = br = RGB(0, 0, 0);
    else if (flags & BF_FLAT) tl = br = GetSysColor(&ring == &rings[0] ? COLOR_3DSHADOW : COLOR_3DFACE);
    if (flags & BF_LEFT) fillLogical(dc, r.left, r.top, r.left + 1, r.bottom, tl);
    if (flags & BF_TOP) fillLogical(dc, r.left, r.top, r.right, r.top + 1, tl);
    if (flags & BF_RIGHT) fillLogical(dc, r.right - 1, r.top, r.right, r.bottom, br);
    if (flags & BF_BOTTOM) fillLogical(dc, r.left, r.bottom - 1, r.right, r.bottom, br);
    if (flags & BF_LEFT) ++r.left;
    if (flags & BF_TOP) ++r.top;
    if (flags & BF_RIGHT) --r.right;
    if (flags & BF_BOTTOM) --r.bottom;
  }
  if (flags & BF_MIDDLE) fillLogical(dc, r.left, r.top, r.right, r.bottom, GetSysColor(COLOR_3DFACE));
  if (flags & BF_ADJUST) *rect = r;
  return TRUE;
}

BOOL DrawFocusRect(HDC hdc, const RECT* rect) {
  DC* dc = dcOf(hdc);
  if (!dc || !rect) return FALSE;
  const RECT& r = *rect;
  // A dotted frame drawn by inverting, so drawing it twice removes it.
  forEachPixel(dc, r.left, r.top, r.right, r.bottom, [&](uint32_t& p, int x, int y) {
    bool edge = x == r.left || x == r.right - 1 || y == r.top || y == r.bottom - 1;
    if (edge && ((x + y) & 1) == 0) p ^= 0xFFFFFF;
  });
  return TRUE;
}

BOOL GradientFill(HDC hdc, TRIVERTEX* v, ULONG vertexCount, void* mesh, ULONG meshCount, ULONG mode) {
  DC* dc = dcOf(hdc);
  if (!dc || !v || !mesh || (mode != GRADIENT_FILL_RECT_H && mode != GRADIENT_FILL_RECT_V)) return FALSE;
  auto* rects = static_cast<GRADIENT_RECT*>(mesh);
  for (ULONG i = 0; i < meshCount; ++i) {
    if (rects[i].UpperLeft >= vertexCount || rects[i].LowerRight >= vertexCount) return FALSE;
    const TRIVERTEX& a = v[rects[i].UpperLeft];
    const TRIVERTEX& b = v[rects[i].LowerRight];
    int l = std::min(a.x, b.x), r = std::max(a.x, b.x), t = std::min(a.y, b.y), btm = std::max(a.y, b.y);
    if (r <= l || btm <= t) continue;
    bool horizontal = mode == GRADIENT_FILL_RECT_H;
    const TRIVERTEX& first = horizontal ? (a.x <= b.x ? a : b) : (a.y <= b.y ? a : b);
    const TRIVERTEX& last = &first == &a ? b : a;
    // The first and last rows (or columns) get the exact end colours.
    double p0 = (horizontal ? l : t) + 0.5, p1 = (horizontal ? r : btm) - 0.5;
    if (p1 <= p0) p1 = p0 + 1;
    cairo_pattern_t* pat = horizontal ? cairo_pattern_create_linear(p0, 0, p1, 0)
                                      : cairo_pattern_create_linear(0, p0, 0, p1);
    cairo_pattern_add_color_stop_rgb(pat, 0, (first.Red >> 8) / 255.0, (first.Green >> 8) / 255.0,
                                     (first.Blue >> 8) / 255.0);
    cairo_pattern_add_color_stop_rgb(pat, 1, (last.Red >> 8) / 255.0, (last.Green >> 8) / 255.0,
                                     (last.Blue >> 8) / 255.0);
    cairo_save(dc->cr);
    cairo_set_operator(dc->cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source(dc->cr, pat);
    cairo_rectangle(dc->cr, l, t, r - l, btm - t);
    cairo_fill(dc->cr);
    cairo_restore(dc->cr);
    cairo_pattern_destroy(pat);
  }
  return TRUE;
}

namespace {

// A copy of part of a surface, for blits whose source and target overlap.
cairo_surface_t* snapshot(cairo_surface_t* s, int x, int y, int w, int h) {
  cairo_surface_t* copy = cairo_image_surface_create(CAIRO_FORMAT_RGB24, std::max(1, w), std::max(1, h));
  cairo_t* cr = cairo_create(copy);
  cairo_set_source_surface(cr, s, -x, -y);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_paint(cr);
  cairo_destroy(cr);
  return copy;
}

}  // namespace

BOOL StretchBlt(HDC dst, int x, int y, int w, int h, HDC src, int srcX, int srcY, int srcW, int srcH, DWORD rop) {
  DC* d = dcOf(dst);
  if (!d || w <= 0 || h <= 0) return FALSE;
  switch (rop) {
    case BLACKNESS:
      fillLogical(d, x, y, x + w, y + h, RGB(0, 0, 0));
      return TRUE;
    case WHITENESS:
      fillLogical(d, x, y, x + w, y + h, RGB(255, 255, 255));
      return TRUE;
    case PATCOPY: {
      COLORREF c;
      if (brushColor(d->brush, &c)) fillLogical(d, x, y, x + w, y + h, c);
      return TRUE;
    }
    case DSTINVERT:
      forEachPixel(d, x, y, x + w, y + h, [](uint32_t& p, int, int) { p ^= 0xFFFFFF; });
      return TRUE;
  }
  DC* s = dcOf(src);
  if (!s || srcW <= 0 || srcH <= 0) return FALSE;
  int ssx = sx(s, srcX), ssy = sy(s, srcY);
  cairo_surface_flush(s->surface);
  if (rop == SRCCOPY) {
    cairo_surface_t* from = s->surface;
    bool copied = false;
    if (s->surface == d->surface) {
      from = snapshot(s->surface, ssx, ssy, srcW, srcH);
      ssx = ssy = 0;
      copied = true;
    }
    cairo_t* cr = d->cr;
    cairo_save(cr);
    cairo_rectangle(cr, x, y, w, h);
    cairo_clip(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, double(w) / srcW, double(h) / srcH);
    cairo_set_source_surface(cr, from, -ssx, -ssy);
    cairo_pattern_set_filter(cairo_get_source(cr), (w == srcW && h == srcH) ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_rectangle(cr, 0, 0, srcW, srcH);
    cairo_fill(cr);
    cairo_restore(cr);
    if (copied) cairo_surface_destroy(from);
    return TRUE;
  }
  if (rop != SRCAND && rop != SRCPAINT && rop != SRCINVERT) return FALSE;
  if (w != srcW || h != srcH) return FALSE;
  int sw, shh, sstride;
  cairo_surface_t* from = s->surface == d->surface ? snapshot(s->surface, ssx, ssy, srcW, srcH) : s->surface;
  if (from != s->surface) ssx = ssy = 0;
  uint32_t* sp = pixelsOf(from, &sw, &shh, &sstride);
  forEachPixel(d, x, y, x + w, y + h, [&](uint32_t& p, int px, int py) {
    int fx = ssx + (px - x), fy = ssy + (py - y);
    if (fx < 0 || fy < 0 || fx >= sw || fy >= shh) return;
    uint32_t q = sp[size_t(fy) * size_t(sstride) + size_t(fx)] & 0xFFFFFF;
    if (rop == SRCAND) p = (p & q) & 0xFFFFFF;
    else if (rop == SRCPAINT) p = (p | q) & 0xFFFFFF;
    else p = (p ^ q) & 0xFFFFFF;
  });
  if (from != s->surface) cairo_surface_destroy(from);
  return TRUE;
}

BOOL BitBlt(HDC dst, int x, int y, int w, int h, HDC src, int srcX, int srcY, DWORD rop) {
  return StretchBlt(dst, x, y, w, h, src, srcX, srcY, w, h, rop);
}

BOOL DrawIconEx(HDC hdc, int x, int y, HICON icon, int cx, int cy, UINT, HBRUSH, UINT flags) {
  DC* dc = dcOf(hdc);
  platform::IconObject* ic = icon ? platform::asIcon(icon) : nullptr;
  if (!dc || !ic || ic->width <= 0 || ic->height <= 0) return FALSE;
  if (ic->color.size() < size_t(ic->width) * size_t(ic->height)) return FALSE;
  if (cx == 0) cx = (flags & DI_DEFAULTSIZE) ? GetSystemMetrics(SM_CXICON) : ic->width;
  if (cy == 0) cy = (flags & DI_DEFAULTSIZE) ? GetSystemMetrics(SM_CYICON) : ic->height;
  if (cx <= 0 || cy <= 0) return FALSE;
  bool useMask = (flags & DI_MASK) && ic->mask.size() >= ic->color.size();
  bool useImage = flags & DI_IMAGE;
  forEachPixel(dc, x, y, x + cx, y + cy, [&](uint32_t& p, int px, int py) {
    int ix = (px - x) * ic->width / cx, iy = (py - y) * ic->height / cy;
    size_t i = size_t(iy) * size_t(ic->width) + size_t(ix);
    uint32_t color = ic->color[i] & 0xFFFFFF;
    bool transparent = useMask && ic->mask[i];
    // The screen is ANDed with the mask, then XORed with the image.
    if (useMask && useImage) {
      p = transparent ? ((p & 0xFFFFFF) ^ color) : color;
    } else if (useImage) {
      p = color;
    } else if (useMask && !transparent) {
      p = 0;
    }
  });
  return TRUE;
}

BOOL DrawIcon(HDC hdc, int x, int y, HICON icon) {
  return DrawIconEx(hdc, x, y, icon, 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE);
}

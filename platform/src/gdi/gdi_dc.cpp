// Device contexts, drawing objects, stock objects, colours and clipping.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "gdi_internal.h"
#include "platform/bitmap.h"
#include "platform/handles.h"
#include "platform/screen.h"
#include "platform/window.h"
#include "screen_internal.h"

namespace platform::gdi {
namespace {

struct DCTable {
  std::mutex m;
  std::unordered_map<uintptr_t, std::unique_ptr<DC>> dcs;
  uintptr_t next = 0x20000;
};

DCTable& D() {
  static DCTable* t = new DCTable;
  return *t;
}

HDC addDC(std::unique_ptr<DC> dc) {
  std::lock_guard<std::mutex> g(D().m);
  uintptr_t h = D().next;
  D().next += 4;
  D().dcs[h] = std::move(dc);
  return reinterpret_cast<HDC>(h);
}

template <class T>
T* makeStock(T* o) {
  platform::markStockObject(o);
  return o;
}

// A new memory DC holds this 1x1 bitmap until another is selected.
BitmapObject* stockBitmap() {
  static BitmapObject* b = [] {
    auto* bm = new BitmapObject;
    bm->width = bm->height = 1;
    bm->bitsPerPixel = 1;
    bm->pixels.assign(1, 0);
    return makeStock(bm);
  }();
  return b;
}

BrushObject* solidBrush(COLORREF c, UINT style = BS_SOLID) {
  auto* b = new BrushObject;
  b->color = c;
  b->style = style;
  return b;
}

PenObject* pen(int style, int width, COLORREF c) {
  auto* p = new PenObject;
  p->style = style;
  p->width = width;
  p->color = c;
  return p;
}

}  // namespace

DC::~DC() {
  if (cr) cairo_destroy(cr);
  if (memory && surface) cairo_surface_destroy(surface);
  if (clip) cairo_region_destroy(clip);
  for (auto& s : saved)
    if (s.clip) cairo_region_destroy(s.clip);
}

GdiObject* objectOf(HGDIOBJ h) { return static_cast<GdiObject*>(h); }

PenObject* penOf(HGDIOBJ h) {
  GdiObject* o = objectOf(h);
  return o && o->kind == GdiKind::Pen ? static_cast<PenObject*>(o) : nullptr;
}

FontObject* fontOf(HGDIOBJ h) {
  GdiObject* o = objectOf(h);
  return o && o->kind == GdiKind::Font ? static_cast<FontObject*>(o) : nullptr;
}

void setColor(cairo_t* cr, COLORREF c) {
  cairo_set_source_rgb(cr, GetRValue(c) / 255.0, GetGValue(c) / 255.0, GetBValue(c) / 255.0);
}

bool brushColor(HBRUSH brush, COLORREF* out) {
  uintptr_t v = reinterpret_cast<uintptr_t>(brush);
  if (v == 0) return false;
  if (v <= 64) {  // COLOR_x + 1, as window classes and FillRect allow
    *out = GetSysColor(int(v - 1));
    return true;
  }
  GdiObject* o = objectOf(brush);
  if (o->kind != GdiKind::Brush) return false;
  auto* b = static_cast<BrushObject*>(o);
  if (b->style == BS_NULL) return false;
  *out = b->color;
  return true;
}

void settleBitmap(BitmapObject* b) {
  if (!b) return;
  for (auto& p : b->pixels) p &= 0x00FFFFFF;
}

cairo_surface_t* surfaceFor(BitmapObject* b) {
  if (b->width <= 0 || b->height <= 0 || b->pixels.size() < size_t(b->width) * size_t(b->height))
    return cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
  return cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(b->pixels.data()),
                                             CAIRO_FORMAT_RGB24, b->width, b->height, b->width * 4);
}

void applyClip(DC* dc) {
  cairo_t* cr = dc->cr;
  cairo_reset_clip(cr);
  cairo_identity_matrix(cr);
  cairo_new_path(cr);
  int n = cairo_region_num_rectangles(dc->clip);
  for (int i = 0; i < n; ++i) {
    cairo_rectangle_int_t r;
    cairo_region_get_rectangle(dc->clip, i, &r);
    cairo_rectangle(cr, r.x, r.y, r.width, r.height);
  }
  if (n == 0) cairo_rectangle(cr, 0, 0, 0, 0);
  cairo_clip(cr);
  cairo_translate(cr, dc->origin.x + dc->viewport.x, dc->origin.y + dc->viewport.y);
}

DC* dcOf(HDC h) {
  std::lock_guard<std::mutex> g(D().m);
  auto it = D().dcs.find(reinterpret_cast<uintptr_t>(h));
  return it == D().dcs.end() ? nullptr : it->second.get();
}

static void initDefaults(DC* dc) {
  dc->pen = GetStockObject(BLACK_PEN);
  dc->brush = GetStockObject(WHITE_BRUSH);
  dc->font = GetStockObject(SYSTEM_FONT);
  cairo_set_antialias(dc->cr, CAIRO_ANTIALIAS_NONE);
}

HDC makeScreenDC(HWND hwnd, POINT origin, cairo_region_t* clip) {
  auto dc = std::make_unique<DC>();
  dc->hwnd = hwnd;
  dc->surface = screen::surface();
  dc->cr = cairo_create(dc->surface);
  dc->origin = origin;
  dc->clip = clip;
  initDefaults(dc.get());
  applyClip(dc.get());
  return addDC(std::move(dc));
}

bool freeDC(HDC h, RECT* screenArea) {
  std::unique_ptr<DC> dc;
  {
    std::lock_guard<std::mutex> g(D().m);
    auto it = D().dcs.find(reinterpret_cast<uintptr_t>(h));
    if (it == D().dcs.end()) return false;
    dc = std::move(it->second);
    D().dcs.erase(it);
  }
  if (dc->memory) {
    cairo_surface_flush(dc->surface);
    settleBitmap(dc->bitmap);
  } else if (screenArea) {
    cairo_rectangle_int_t r;
    cairo_region_get_extents(dc->clip, &r);
    *screenArea = RECT{r.x, r.y, r.x + r.width, r.y + r.height};
  }
  return true;
}

}  // namespace platform::gdi

using namespace platform;
using namespace platform::gdi;

HDC CreateCompatibleDC(HDC) {
  auto dc = std::make_unique<DC>();
  dc->memory = true;
  dc->bitmap = stockBitmap();
  dc->bitmapHandle = dc->bitmap;
  dc->surface = surfaceFor(dc->bitmap);
  dc->cr = cairo_create(dc->surface);
  cairo_rectangle_int_t one{0, 0, 1, 1};
  dc->clip = cairo_region_create_rectangle(&one);
  initDefaults(dc.get());
  applyClip(dc.get());
  return addDC(std::move(dc));
}

BOOL DeleteDC(HDC hdc) {
  DC* dc = dcOf(hdc);
  if (!dc || !dc->memory) return FALSE;
  return freeDC(hdc, nullptr) ? TRUE : FALSE;
}

HBITMAP CreateCompatibleBitmap(HDC, int width, int height) {
  // Bounded so a wild size fails instead of exhausting memory.
  if (width <= 0 || height <= 0 || width > 16384 || height > 16384 || int64_t(width) * height > (1 << 26)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* b = new BitmapObject;
  b->width = width;
  b->height = height;
  b->bitsPerPixel = 32;
  b->pixels.assign(size_t(width) * size_t(height), 0);
  return b;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object) {
  DC* dc = dcOf(hdc);
  GdiObject* o = objectOf(object);
  if (!dc || !o) return nullptr;
  HGDIOBJ old = nullptr;
  switch (o->kind) {
    case GdiKind::Pen:
      old = dc->pen;
      dc->pen = object;
      break;
    case GdiKind::Brush:
      old = dc->brush;
      dc->brush = object;
      break;
    case GdiKind::Font:
      old = dc->font;
      dc->font = object;
      break;
    case GdiKind::Bitmap: {
      if (!dc->memory) return nullptr;
      auto* b = static_cast<BitmapObject*>(o);
      cairo_surface_flush(dc->surface);
      settleBitmap(dc->bitmap);
      old = dc->bitmapHandle;
      cairo_destroy(dc->cr);
      cairo_surface_destroy(dc->surface);
      dc->bitmap = b;
      dc->bitmapHandle = object;
      dc->surface = surfaceFor(b);
      dc->cr = cairo_create(dc->surface);
      cairo_set_antialias(dc->cr, CAIRO_ANTIALIAS_NONE);
      cairo_region_destroy(dc->clip);
      cairo_rectangle_int_t r{0, 0, std::max(1, b->width), std::max(1, b->height)};
      dc->clip = cairo_region_create_rectangle(&r);
      applyClip(dc);
      break;
    }
    case GdiKind::Region:
      return nullptr;
  }
  return old;
}

HGDIOBJ GetStockObject(int index) {
  static GdiObject* stock[18] = {};
  static std::once_flag once;
  std::call_once(once, [] {
    stock[WHITE_BRUSH] = makeStock(solidBrush(RGB(255, 255, 255)));
    stock[LTGRAY_BRUSH] = makeStock(solidBrush(RGB(192, 192, 192)));
    stock[GRAY_BRUSH] = makeStock(solidBrush(RGB(128, 128, 128)));
    stock[DKGRAY_BRUSH] = makeStock(solidBrush(RGB(64, 64, 64)));
    stock[BLACK_BRUSH] = makeStock(solidBrush(RGB(0, 0, 0)));
    stock[NULL_BRUSH] = makeStock(solidBrush(0, BS_NULL));
    stock[WHITE_PEN] = makeStock(pen(PS_SOLID, 1, RGB(255, 255, 255)));
    stock[BLACK_PEN] = makeStock(pen(PS_SOLID, 1, RGB(0, 0, 0)));
    stock[NULL_PEN] = makeStock(pen(PS_NULL, 0, 0));
    stock[SYSTEM_FONT] = defaultFont();
    stock[DEFAULT_GUI_FONT] = defaultFont();
  });
  if (index < 0 || index >= 18) return nullptr;
  return stock[index];
}

HBRUSH GetSysColorBrush(int index) {
  static BrushObject* brushes[32] = {};
  static std::mutex m;
  if (index < 0 || index >= 32) return nullptr;
  std::lock_guard<std::mutex> g(m);
  if (!brushes[index]) brushes[index] = makeStock(solidBrush(GetSysColor(index)));
  return brushes[index];
}

int GetDeviceCaps(HDC, int index) {
  switch (index) {
    case HORZRES:
      return platform::screenWidth();
    case VERTRES:
      return platform::screenHeight();
    case BITSPIXEL:
      return 24;
    case PLANES:
      return 1;
    case NUMCOLORS:
      return -1;
    case RASTERCAPS:
      return RC_BITBLT | RC_STRETCHBLT;
    case LOGPIXELSX:
    case LOGPIXELSY:
      return platform::screenDpi();
  }
  return 0;
}

int SaveDC(HDC hdc) {
  DC* dc = dcOf(hdc);
  if (!dc) return 0;
  dc->saved.push_back(SavedState{dc->pen, dc->brush, dc->font, dc->text, dc->bk, dc->bkMode, dc->pos,
                                 dc->viewport, cairo_region_copy(dc->clip)});
  return int(dc->saved.size());
}

BOOL RestoreDC(HDC hdc, int saved) {
  DC* dc = dcOf(hdc);
  if (!dc) return FALSE;
  int n = int(dc->saved.size());
  int target = saved < 0 ? n + saved + 1 : saved;
  if (target < 1 || target > n) return FALSE;
  while (int(dc->saved.size()) > target) {
    cairo_region_destroy(dc->saved.back().clip);
    dc->saved.pop_back();
  }
  SavedState s = dc->saved.back();
  dc->saved.pop_back();
  dc->pen = s.pen;
  dc->brush = s.brush;
  dc->font = s.font;
  dc->text = s.text;
  dc->bk = s.bk;
  dc->bkMode = s.bkMode;
  dc->pos = s.pos;
  dc->viewport = s.viewport;
  cairo_region_destroy(dc->clip);
  dc->clip = s.clip;
  applyClip(dc);
  return TRUE;
}

HPEN CreatePen(int style, int width, COLORREF color) {
  return pen(style == PS_NULL ? PS_NULL : style, std::max(1, width), color & 0xFFFFFF);
}

HBRUSH CreateSolidBrush(COLORREF color) { return solidBrush(color & 0xFFFFFF); }

HBRUSH CreateBrushIndirect(const LOGBRUSH* lb) {
  if (!lb) return nullptr;
  return solidBrush(lb->lbColor & 0xFFFFFF, lb->lbStyle == BS_NULL ? BS_NULL : BS_SOLID);
}

COLORREF SetTextColor(HDC hdc, COLORREF color) {
  DC* dc = dcOf(hdc);
  if (!dc) return CLR_INVALID;
  COLORREF old = dc->text;
  dc->text = color & 0xFFFFFF;
  return old;
}

COLORREF GetTextColor(HDC hdc) {
  DC* dc = dcOf(hdc);
  return dc ? dc->text : CLR_INVALID;
}

COLORREF SetBkColor(HDC hdc, COLORREF color) {
  DC* dc = dcOf(hdc);
  if (!dc) return CLR_INVALID;
  COLORREF old = dc->bk;
  dc->bk = color & 0xFFFFFF;
  return old;
}

COLORREF GetBkColor(HDC hdc) {
  DC* dc = dcOf(hdc);
  return dc ? dc->bk : CLR_INVALID;
}

int SetBkMode(HDC hdc, int mode) {
  DC* dc = dcOf(hdc);
  if (!dc || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
  int old = dc->bkMode;
  dc->bkMode = mode;
  return old;
}

int GetBkMode(HDC hdc) {
  DC* dc = dcOf(hdc);
  return dc ? dc->bkMode : 0;
}

static int regionKind(cairo_region_t* r) {
  if (cairo_region_is_empty(r)) return NULLREGION;
  return cairo_region_num_rectangles(r) == 1 ? SIMPLEREGION : COMPLEXREGION;
}

int GetClipBox(HDC hdc, LPRECT rect) {
  DC* dc = dcOf(hdc);
  if (!dc || !rect) return ERROR;
  cairo_rectangle_int_t r;
  cairo_region_get_extents(dc->clip, &r);
  int ox = dc->origin.x + dc->viewport.x, oy = dc->origin.y + dc->viewport.y;
  *rect = RECT{r.x - ox, r.y - oy, r.x + r.width - ox, r.y + r.height - oy};
  return regionKind(dc->clip);
}

int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom) {
  DC* dc = dcOf(hdc);
  if (!dc) return ERROR;
  cairo_rectangle_int_t r{sx(dc, left), sy(dc, top), std::max(0, right - left), std::max(0, bottom - top)};
  cairo_region_intersect_rectangle(dc->clip, &r);
  applyClip(dc);
  return regionKind(dc->clip);
}

int ExcludeClipRect(HDC hdc, int left, int top, int right, int bottom) {
  DC* dc = dcOf(hdc);
  if (!dc) return ERROR;
  cairo_rectangle_int_t r{sx(dc, left), sy(dc, top), std::max(0, right - left), std::max(0, bottom - top)};
  cairo_region_subtract_rectangle(dc->clip, &r);
  applyClip(dc);
  return regionKind(dc->clip);
}

BOOL SetViewportOrgEx(HDC hdc, int x, int y, LPPOINT old) {
  DC* dc = dcOf(hdc);
  if (!dc) return FALSE;
  if (old) *old = dc->viewport;
  dc->viewport = POINT{x, y};
  applyClip(dc);
  return TRUE;
}

BOOL GetViewportOrgEx(HDC hdc, LPPOINT org) {
  DC* dc = dcOf(hdc);
  if (!dc || !org) return FALSE;
  *org = dc->viewport;
  return TRUE;
}

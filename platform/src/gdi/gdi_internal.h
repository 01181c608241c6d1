// Device contexts and drawing objects on cairo. A DC draws into the screen
// surface (a window's DC, clipped to what of the window can be seen) or into
// the pixels of a bitmap (a memory DC).
#pragma once

#include <cairo.h>
#include <pango/pango.h>

#include <memory>
#include <vector>

#include "gdi_object.h"
#include "platform/gdi.h"

namespace platform::gdi {

struct PenObject : GdiObject {
  PenObject() : GdiObject(GdiKind::Pen) {}
  int style = PS_SOLID;
  int width = 1;
  COLORREF color = 0;
};

struct BrushObject : GdiObject {
  BrushObject() : GdiObject(GdiKind::Brush) {}
  UINT style = BS_SOLID;
  COLORREF color = 0;
};

struct FontObject : GdiObject {
  FontObject() : GdiObject(GdiKind::Font) {}
  ~FontObject() override;
  LOGFONT lf{};
  PangoFontDescription* desc = nullptr;
  bool measured = false;
  int ascent = 0;
  int descent = 0;
  int emPx = 0;
  int avgWidth = 0;
  int maxWidth = 0;
};

struct SavedState {
  HGDIOBJ pen, brush, font;
  COLORREF text, bk;
  int bkMode;
  POINT pos, viewport;
  cairo_region_t* clip;
};

struct DC {
  ~DC();
  bool memory = false;
  HWND hwnd = nullptr;
  cairo_surface_t* surface = nullptr;  // owned for memory DCs only
  cairo_t* cr = nullptr;
  BitmapObject* bitmap = nullptr;      // what a memory DC draws into
  HGDIOBJ bitmapHandle = nullptr;
  POINT origin{};                      // surface position of the DC's 0,0
  POINT viewport{};
  cairo_region_t* clip = nullptr;      // surface coordinates
  HGDIOBJ pen = nullptr;
  HGDIOBJ brush = nullptr;
  HGDIOBJ font = nullptr;
  COLORREF text = RGB(0, 0, 0);
  COLORREF bk = RGB(255, 255, 255);
  int bkMode = OPAQUE;
  POINT pos{};
  std::vector<SavedState> saved;
};

// Makes a window DC on the screen; takes ownership of `clip`.
HDC makeScreenDC(HWND hwnd, POINT origin, cairo_region_t* clip);
// Frees a DC; for a screen DC `screenArea` gets the extent it could draw to.
bool freeDC(HDC h, RECT* screenArea);
// The DC behind a handle; null for unknown handles. Valid until the handle
// is released; DCs are used by their own thread.
DC* dcOf(HDC h);
// Re-applies clip and viewport to the cairo context.
void applyClip(DC* dc);
// DC-relative logical coordinates to surface coordinates.
inline int sx(DC* dc, int x) { return x + dc->origin.x + dc->viewport.x; }
inline int sy(DC* dc, int y) { return y + dc->origin.y + dc->viewport.y; }

void setColor(cairo_t* cr, COLORREF c);
// The colour of a brush, or false for the null brush. Accepts COLOR_x + 1.
bool brushColor(HBRUSH brush, COLORREF* out);
PenObject* penOf(HGDIOBJ h);
FontObject* fontOf(HGDIOBJ h);
GdiObject* objectOf(HGDIOBJ h);
// Called after drawing into a bitmap's pixels: cairo may leave the unused
// top byte set, while bitmaps keep it zero.
void settleBitmap(BitmapObject* b);
cairo_surface_t* surfaceFor(BitmapObject* b);

// Text.
void ensureMetrics(FontObject* f);
FontObject* defaultFont();

}  // namespace platform::gdi

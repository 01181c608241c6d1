// Painting helpers that put a DC back the way they found it, so a paint
// neither leaks GDI objects nor leaves its own objects selected in a DC
// someone else goes on drawing with.
//
//   PAINTSTRUCT ps;
//   HDC dc = BeginPaint(hwnd, &ps);
//   fwk::MemoryDC mem(dc, width, height);
//   if (mem) {
//     fwk::fillVerticalGradient(mem.dc(), client, RGB(255, 255, 255), RGB(242, 234, 225));
//     fwk::ScopedSelect font(mem.dc(), fwk::smallFont());
//     fwk::ScopedSelect pen(mem.dc(), CreatePen(PS_SOLID, 1, colour), fwk::ScopedSelect::kOwned);
//     ...
//     mem.copyTo(ps.rcPaint);
//   }
//   EndPaint(hwnd, &ps);
#pragma once

#include "platform/gdi.h"
#include "platform/types.h"

namespace fwk {

// An off-screen bitmap of the given size in a memory DC compatible with
// `target`. The destructor selects the DC's own bitmap back and deletes the
// bitmap and the DC.
class MemoryDC {
 public:
  MemoryDC(HDC target, int width, int height);
  ~MemoryDC();
  MemoryDC(const MemoryDC&) = delete;
  MemoryDC& operator=(const MemoryDC&) = delete;

  // False when the DC or the bitmap could not be made (no target, a size
  // of zero, or one too large): nothing can be drawn then.
  explicit operator bool() const { return m_bitmap != nullptr; }
  HDC dc() const { return m_dc; }
  int width() const { return m_width; }
  int height() const { return m_height; }
  // Copies `area` of the bitmap to the same place on the target.
  BOOL copyTo(const RECT& area) const;

 private:
  HDC m_target;
  HDC m_dc = nullptr;
  HBITMAP m_bitmap = nullptr;
  HGDIOBJ m_oldBitmap = nullptr;
  int m_width = 0;
  int m_height = 0;
};

// Selects an object into a DC for the length of a scope and selects back
// what it replaced. An owned object is deleted once it is out of the DC
// (also when selecting it failed).
class ScopedSelect {
 public:
  enum Ownership { kBorrowed, kOwned };
  ScopedSelect(HDC dc, HGDIOBJ object, Ownership ownership = kBorrowed);
  ~ScopedSelect();
  ScopedSelect(const ScopedSelect&) = delete;
  ScopedSelect& operator=(const ScopedSelect&) = delete;

  // False when the object could not be selected.
  explicit operator bool() const { return m_old != nullptr; }

 private:
  HDC m_dc;
  HGDIOBJ m_object;
  HGDIOBJ m_old;
  bool m_owned;
};

// SaveDC for a scope: colours, modes, clipping and selected objects come
// back at its end.
class SavedDC {
 public:
  explicit SavedDC(HDC dc) : m_dc(dc), m_saved(dc ? SaveDC(dc) : 0) {}
  ~SavedDC() {
    if (m_saved) RestoreDC(m_dc, m_saved);
  }
  SavedDC(const SavedDC&) = delete;
  SavedDC& operator=(const SavedDC&) = delete;

 private:
  HDC m_dc;
  int m_saved;
};

// Fills `rect` with a vertical gradient from `top` at its top edge to
// `bottom` at its bottom edge.
BOOL fillVerticalGradient(HDC dc, const RECT& rect, COLORREF top, COLORREF bottom);

// The busy indicator: eight spots round a square of `size` at (x, y), one
// lit; the lit one walks on with `tick`, so a window that repaints on a timer
// animates it.
void drawBusyIndicator(HDC dc, int x, int y, int size, unsigned tick, COLORREF lit = RGB(255, 255, 255),
                       COLORREF dim = RGB(110, 125, 150));

}  // namespace fwk

// Stands in for the platform's GDI object calls within this program and
// forwards each to the platform's own, keeping count.
#include "gdi_audit.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>

#include "platform/bitmap.h"
#include "platform/gdi.h"

namespace fwktest {
namespace {

struct Selected {
  HGDIOBJ font, pen, brush, bitmap;
};

struct Audit {
  std::mutex m;
  std::set<HGDIOBJ> objects;
  std::map<HDC, Selected> dcs;
  GdiCounts counts;
};

Audit& audit() {
  static Audit* a = new Audit;
  return *a;
}

// The platform's own function of that (mangled) name; a changed signature
// fails loudly here rather than leaving the counts silently at zero.
template <class F>
F platformCall(const char* name) {
  void* f = dlsym(RTLD_NEXT, name);
  if (!f) {
    std::fprintf(stderr, "gdi audit: the platform has no %s\n", name);
    std::abort();
  }
  return reinterpret_cast<F>(f);
}

#define PLATFORM(fn, mangled) static auto real = fwktest::platformCall<decltype(&::fn)>(mangled)

HGDIOBJ made(HGDIOBJ o) {
  if (!o) return o;
  std::lock_guard<std::mutex> g(audit().m);
  audit().objects.insert(o);
  ++audit().counts.objectsMade;
  return o;
}

HBITMAP probeBitmap(HDC dc) {
  PLATFORM(CreateCompatibleBitmap, "_Z22CreateCompatibleBitmapP5HDC__ii");
  static HBITMAP probe = real(dc, 1, 1);  // kept for the program's life
  return probe;
}

// What is selected in `dc`, found by swapping a stand-in in and out.
Selected selectedIn(HDC dc) {
  auto peek = [dc](HGDIOBJ standIn) {
    HGDIOBJ current = SelectObject(dc, standIn);
    if (current) SelectObject(dc, current);
    return current;
  };
  return Selected{peek(GetStockObject(SYSTEM_FONT)), peek(GetStockObject(BLACK_PEN)),
                  peek(GetStockObject(WHITE_BRUSH)), peek(probeBitmap(dc))};
}

}  // namespace

GdiCounts gdiCounts() {
  std::lock_guard<std::mutex> g(audit().m);
  GdiCounts c = audit().counts;
  c.objectsLive = long(audit().objects.size());
  c.dcsLive = long(audit().dcs.size());
  return c;
}

}  // namespace fwktest

using fwktest::audit;

HDC CreateCompatibleDC(HDC hdc) {
  PLATFORM(CreateCompatibleDC, "_Z18CreateCompatibleDCP5HDC__");
  HDC dc = real(hdc);
  if (!dc) return dc;
  fwktest::Selected initial = fwktest::selectedIn(dc);
  std::lock_guard<std::mutex> g(audit().m);
  audit().dcs[dc] = initial;
  ++audit().counts.dcsMade;
  return dc;
}

BOOL DeleteDC(HDC hdc) {
  PLATFORM(DeleteDC, "_Z8DeleteDCP5HDC__");
  fwktest::Selected now = fwktest::selectedIn(hdc);
  {
    std::lock_guard<std::mutex> g(audit().m);
    auto it = audit().dcs.find(hdc);
    if (it != audit().dcs.end()) {
      const fwktest::Selected& was = it->second;
      if (now.font != was.font || now.pen != was.pen || now.brush != was.brush || now.bitmap != was.bitmap)
        ++audit().counts.dcsDeletedDirty;
      audit().dcs.erase(it);
    }
  }
  return real(hdc);
}

HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height) {
  PLATFORM(CreateCompatibleBitmap, "_Z22CreateCompatibleBitmapP5HDC__ii");
  return fwktest::made(real(hdc, width, height));
}

HBRUSH CreateSolidBrush(COLORREF color) {
  PLATFORM(CreateSolidBrush, "_Z16CreateSolidBrushj");
  return fwktest::made(real(color));
}

HPEN CreatePen(int style, int width, COLORREF color) {
  PLATFORM(CreatePen, "_Z9CreatePeniij");
  return fwktest::made(real(style, width, color));
}

HFONT CreateFontIndirect(const LOGFONT* font) {
  PLATFORM(CreateFontIndirect, "_Z18CreateFontIndirectPK7LOGFONT");
  return fwktest::made(real(font));
}

BOOL DeleteObject(HGDIOBJ object) {
  PLATFORM(DeleteObject, "_Z12DeleteObjectPv");
  {
    std::lock_guard<std::mutex> g(audit().m);
    audit().objects.erase(object);
  }
  return real(object);
}

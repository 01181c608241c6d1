// Invalid areas, WM_PAINT, window DCs and the frames the platform draws
// itself (borders, captions, scroll bars).
#include <cairo.h>

#include <algorithm>

#include "gdi_internal.h"
#include "platform/screen.h"
#include "platform/thread.h"
#include "screen_internal.h"
#include "window_internal.h"

namespace platform::win {

void paintScrollBars(Window* w, HDC windowDc);

namespace {

cairo_rectangle_int_t cr(const RECT& r) {
  return cairo_rectangle_int_t{r.left, r.top, std::max(0, int(r.right - r.left)), std::max(0, int(r.bottom - r.top))};
}

void subtract(cairo_region_t* region, const RECT& r) {
  cairo_rectangle_int_t c = cr(r);
  cairo_region_subtract_rectangle(region, &c);
}

// What of a window (its client area, or the whole window) can be seen on
// the screen: inside every ancestor's client area, not under a sibling
// higher in Z order and, for the client area, not under a child.
cairo_region_t* visibleRegion(Window* w, bool client) {
  if (!isVisibleChain(w)) return cairo_region_create();
  cairo_rectangle_int_t start = cr(client ? clientRectOnScreen(w) : windowRectOnScreen(w));
  cairo_region_t* region = cairo_region_create_rectangle(&start);
  cairo_rectangle_int_t screenRect{0, 0, platform::screenWidth(), platform::screenHeight()};
  cairo_region_intersect_rectangle(region, &screenRect);
  for (Window* cur = w; cur; cur = find(cur->parent)) {
    for (HWND s : siblingsOf(cur)) {
      if (s == cur->handle) break;
      Window* sw = find(s);
      if (sw && (sw->style & WS_VISIBLE)) subtract(region, windowRectOnScreen(sw));
    }
    if (Window* p = find(cur->parent)) {
      cairo_rectangle_int_t pc = cr(clientRectOnScreen(p));
      cairo_region_intersect_rectangle(region, &pc);
    }
  }
  if (client) {
    for (HWND c : w->children) {
      Window* cw = find(c);
      if (cw && (cw->style & WS_VISIBLE)) subtract(region, windowRectOnScreen(cw));
    }
  }
  return region;
}

void invalidateAll(Window* w) {
  invalidateClient(w, nullptr, true);
  w->ncDirty = true;
}

HWND searchPaint(Window* w, DWORD thread, HWND filter) {
  if (!(w->style & WS_VISIBLE)) return nullptr;
  if (w->threadId == thread && (!filter || isAncestor(filter, w->handle))) {
    if (w->ncDirty) drawNonClient(w->handle);
    if (!rectEmpty(w->invalid)) return w->handle;
  }
  for (HWND c : w->children)
    if (Window* cw = find(c))
      if (HWND h = searchPaint(cw, thread, filter)) return h;
  return nullptr;
}

}  // namespace

void invalidateClient(Window* w, const RECT* rect, bool erase) {
  RECT c = clientRectInWindow(w);
  RECT full{0, 0, c.right - c.left, c.bottom - c.top};
  RECT r = rect ? rectIntersect(*rect, full) : full;
  if (rectEmpty(r)) return;
  w->invalid = rectUnion(w->invalid, r);
  if (erase) w->erase = true;
  if (w->threadId != GetCurrentThreadId()) wake(w->queue);
}

void invalidateTree(Window* w) {
  invalidateAll(w);
  for (HWND c : w->children)
    if (Window* cw = find(c)) invalidateTree(cw);
}

void invalidateScreenArea(const RECT& area) {
  if (rectEmpty(area)) return;
  std::vector<HWND> all(1024);
  int n = platform::enumWindows(all.data(), int(all.size()));
  if (n > int(all.size())) {
    all.resize(size_t(n));
    n = platform::enumWindows(all.data(), n);
  }
  cairo_rectangle_int_t a = cr(area);
  cairo_region_t* uncovered = cairo_region_create_rectangle(&a);
  for (int i = 0; i < n; ++i) {
    Window* w = find(all[size_t(i)]);
    if (!w || !isVisibleChain(w)) continue;
    RECT wr = windowRectOnScreen(w);
    if (!w->parent) subtract(uncovered, wr);
    if (rectEmpty(rectIntersect(wr, area))) continue;
    RECT cs = clientRectOnScreen(w);
    RECT hit = rectIntersect(cs, area);
    if (!rectEmpty(hit)) {
      OffsetRect(&hit, -cs.left, -cs.top);
      invalidateClient(w, &hit, true);
    }
    if (!EqualRect(&wr, &cs)) w->ncDirty = true;
  }
  // Where no window is left, the bare screen shows.
  if (!cairo_region_is_empty(uncovered)) {
    cairo_t* c = cairo_create(screen::surface());
    int k = cairo_region_num_rectangles(uncovered);
    for (int i = 0; i < k; ++i) {
      cairo_rectangle_int_t r;
      cairo_region_get_rectangle(uncovered, i, &r);
      cairo_rectangle(c, r.x, r.y, r.width, r.height);
    }
    gdi::setColor(c, GetSysColor(COLOR_BACKGROUND));
    cairo_fill(c);
    cairo_destroy(c);
    cairo_rectangle_int_t e;
    cairo_region_get_extents(uncovered, &e);
    screen::changed(RECT{e.x, e.y, e.x + e.width, e.y + e.height});
  }
  cairo_region_destroy(uncovered);
}

HWND takePaint(DWORD threadId, HWND filter) {
  Guard g(lock());
  std::vector<HWND> tops = topLevels();
  for (HWND t : tops)
    if (Window* w = find(t))
      if (HWND h = searchPaint(w, threadId, filter)) return h;
  return nullptr;
}

void drawNonClient(HWND h) {
  Guard g(lock());
  Window* w = find(h);
  if (!w) return;
  w->ncDirty = false;
  if (!isVisibleChain(w)) return;
  RECT wr = windowRectOnScreen(w);
  RECT c = clientRectInWindow(w);
  if (c.left == 0 && c.top == 0 && c.right == wr.right - wr.left && c.bottom == wr.bottom - wr.top) return;
  cairo_region_t* region = visibleRegion(w, false);
  RECT cs = clientRectOnScreen(w);
  subtract(region, cs);
  HDC dc = gdi::makeScreenDC(h, POINT{wr.left, wr.top}, region);
  RECT r{0, 0, wr.right - wr.left, wr.bottom - wr.top};
  bool framed = w->style & (WS_BORDER | WS_DLGFRAME);
  if (framed) {
    HBRUSH frame = GetSysColorBrush(COLOR_WINDOWFRAME);
    RECT e[4] = {{r.left, r.top, r.right, r.top + 1},
                 {r.left, r.bottom - 1, r.right, r.bottom},
                 {r.left, r.top, r.left + 1, r.bottom},
                 {r.right - 1, r.top, r.right, r.bottom}};
    for (RECT& x : e) FillRect(dc, &x, frame);
    InflateRect(&r, -1, -1);
  }
  if ((w->style & WS_CAPTION) == WS_CAPTION) {
    RECT cap{r.left, r.top, r.right, r.top + GetSystemMetrics(SM_CYCAPTION)};
    bool active = GetActiveWindow() == h;
    FillRect(dc, &cap, GetSysColorBrush(active ? COLOR_ACTIVECAPTION : COLOR_INACTIVECAPTION));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(active ? COLOR_CAPTIONTEXT : COLOR_INACTIVECAPTIONTEXT));
    RECT tr = cap;
    tr.left += 4;
    DrawText(dc, w->text.c_str(), int(w->text.size()), &tr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    r.top = cap.bottom;
  }
  if (w->exStyle & WS_EX_CLIENTEDGE) DrawEdge(dc, &r, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
  paintScrollBars(w, dc);
  RECT touched;
  gdi::freeDC(dc, &touched);
  screen::changed(touched);
}

}  // namespace platform::win

using namespace platform::win;

BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) {
  Guard g(lock());
  if (!hwnd) {
    for (HWND t : topLevels())
      if (Window* w = find(t)) invalidateTree(w);
    return TRUE;
  }
  Window* w = find(hwnd);
  if (!w) return FALSE;
  invalidateClient(w, rect, erase);
  return TRUE;
}

BOOL ValidateRect(HWND hwnd, const RECT* rect) {
  Guard g(lock());
  Window* w = find(hwnd);
  if (!w) return FALSE;
  if (!rect) {
    w->invalid = RECT{};
    w->erase = false;
    return TRUE;
  }
  // The invalid area is kept as one rectangle: it shrinks when a whole side
  // of it is validated.
  RECT& inv = w->invalid;
  if (rect->left <= inv.left && rect->right >= inv.right) {
    if (rect->top <= inv.top && rect->bottom > inv.top) inv.top = std::min(rect->bottom, inv.bottom);
    else if (rect->bottom >= inv.bottom && rect->top < inv.bottom) inv.bottom = std::max(rect->top, inv.top);
  } else if (rect->top <= inv.top && rect->bottom >= inv.bottom) {
    if (rect->left <= inv.left && rect->right > inv.left) inv.left = std::min(rect->right, inv.right);
    else if (rect->right >= inv.right && rect->left < inv.right) inv.right = std::max(rect->left, inv.left);
  }
  if (rectEmpty(inv)) {
    inv = RECT{};
    w->erase = false;
  }
  return TRUE;
}

BOOL GetUpdateRect(HWND hwnd, LPRECT rect, BOOL) {
  Guard g(lock());
  Window* w = find(hwnd);
  if (!w) return FALSE;
  if (rect) *rect = w->invalid;
  return !rectEmpty(w->invalid);
}

BOOL UpdateWindow(HWND hwnd) {
  bool paint;
  {
    Guard g(lock());
    Window* w = find(hwnd);
    if (!w) return FALSE;
    if (w->ncDirty) drawNonClient(hwnd);
    paint = !rectEmpty(w->invalid) && isVisibleChain(w);
  }
  if (paint) SendMessage(hwnd, WM_PAINT, 0, 0);
  return TRUE;
}

BOOL RedrawWindow(HWND hwnd, const RECT* rect, HRGN, UINT flags) {
  std::vector<HWND> targets;
  {
    Guard g(lock());
    Window* w = find(hwnd);
    if (!w) return FALSE;
    std::vector<Window*> todo{w};
    while (!todo.empty()) {
      Window* cur = todo.back();
      todo.pop_back();
      targets.push_back(cur->handle);
      if (flags & RDW_INVALIDATE) invalidateClient(cur, cur == w ? rect : nullptr, (flags & RDW_ERASE) != 0);
      if (flags & RDW_FRAME) cur->ncDirty = true;
      if (flags & RDW_VALIDATE) cur->invalid = RECT{};
      if (flags & RDW_ALLCHILDREN)
        for (HWND c : cur->children)
          if (Window* cw = find(c)) todo.push_back(cw);
    }
  }
  if (flags & (RDW_UPDATENOW | RDW_ERASENOW))
    for (HWND h : targets) UpdateWindow(h);
  return TRUE;
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps) {
  if (!ps) return nullptr;
  *ps = PAINTSTRUCT{};
  RECT update;
  bool erase;
  HDC dc;
  {
    Guard g(lock());
    Window* w = find(hwnd);
    if (!w) return nullptr;
    if (w->ncDirty) drawNonClient(hwnd);
    update = w->invalid;
    erase = w->erase;
    w->invalid = RECT{};
    w->erase = false;
    cairo_region_t* region = visibleRegion(w, true);
    RECT cs = clientRectOnScreen(w);
    RECT u = update;
    OffsetRect(&u, cs.left, cs.top);
    cairo_rectangle_int_t ur = cr(u);
    cairo_region_intersect_rectangle(region, &ur);
    dc = platform::gdi::makeScreenDC(hwnd, POINT{cs.left, cs.top}, region);
  }
  ps->hdc = dc;
  ps->rcPaint = update;
  if (erase && !SendMessage(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0)) ps->fErase = TRUE;
  return dc;
}

BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* ps) {
  if (!ps) return FALSE;
  return ReleaseDC(hwnd, ps->hdc) ? TRUE : FALSE;
}

HDC GetDC(HWND hwnd) {
  Guard g(lock());
  if (!hwnd) {
    cairo_rectangle_int_t all{0, 0, platform::screenWidth(), platform::screenHeight()};
    return platform::gdi::makeScreenDC(nullptr, POINT{0, 0}, cairo_region_create_rectangle(&all));
  }
  Window* w = find(hwnd);
  if (!w) return nullptr;
  RECT cs = clientRectOnScreen(w);
  return platform::gdi::makeScreenDC(hwnd, POINT{cs.left, cs.top}, visibleRegion(w, true));
}

HDC GetWindowDC(HWND hwnd) {
  Guard g(lock());
  Window* w = find(hwnd);
  if (!w) return GetDC(nullptr);
  RECT wr = windowRectOnScreen(w);
  return platform::gdi::makeScreenDC(hwnd, POINT{wr.left, wr.top}, visibleRegion(w, false));
}

int ReleaseDC(HWND, HDC hdc) {
  platform::gdi::DC* dc = platform::gdi::dcOf(hdc);
  if (!dc || dc->memory) return 0;
  RECT touched{};
  if (!platform::gdi::freeDC(hdc, &touched)) return 0;
  if (!rectEmpty(touched)) platform::screen::changed(touched);
  return 1;
}

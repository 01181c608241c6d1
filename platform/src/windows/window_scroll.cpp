// The standard scroll bars of a window: their state, drawing and stylus.
#include <algorithm>

#include "dc_selection.h"
#include "platform/clock.h"
#include "platform/gdi.h"
#include "window_internal.h"

namespace platform::win {
namespace {

struct Drag {
  HWND hwnd = nullptr;
  int bar = SB_VERT;
  int grab = 0;  // stylus offset inside the thumb
  bool thumb = false;
};

Drag g_drag;

DWORD styleBit(int bar) { return bar == SB_VERT ? WS_VSCROLL : WS_HSCROLL; }

// The bar's rectangle in window coordinates.
RECT barRect(Window* w, int bar) {
  RECT c = clientRectInWindow(w);
  int s = scrollBarWidth();
  if (bar == SB_VERT) return RECT{c.right, c.top, c.right + s, c.bottom};
  return RECT{c.left, c.bottom, c.right, c.bottom + s};
}

// Positions min..max inclusive; wider than an int can hold at the extremes.
int64_t rangeOf(const ScrollBar& sb) { return int64_t(sb.max) - sb.min + 1; }

struct Layout {
  int start, end;        // the track between the arrow buttons, along the bar
  int thumbAt, thumbLen; // thumb position along the bar
  bool hasThumb;
};

Layout layoutOf(Window* w, int bar) {
  RECT r = barRect(w, bar);
  int s = scrollBarWidth();
  bool vert = bar == SB_VERT;
  int a = vert ? r.top : r.left, b = vert ? r.bottom : r.right;
  Layout l{a + s, b - s, 0, 0, false};
  if (l.end < l.start) l.start = l.end = (a + b) / 2;
  const ScrollBar& sb = w->bars[bar];
  int64_t range = rangeOf(sb);
  int track = l.end - l.start;
  if (range > 0 && sb.page > 0 && int64_t(sb.page) < range && track > 8) {
    l.thumbLen = std::max(std::min(8, track), int(int64_t(track) * sb.page / range));
    int64_t room = range - int64_t(sb.page);
    l.thumbAt = l.start + int(int64_t(track - l.thumbLen) * (int64_t(sb.pos) - sb.min) / std::max<int64_t>(1, room));
    l.hasThumb = true;
  }
  return l;
}

void clampPos(ScrollBar& sb) {
  int64_t maxPos = int64_t(sb.max) - std::max<int64_t>(0, int64_t(sb.page) - 1);
  sb.pos = int(std::clamp<int64_t>(sb.pos, sb.min, std::max<int64_t>(sb.min, maxPos)));
}

void postScroll(HWND h, int bar, int code, int pos) {
  Window* w = find(h);
  if (!w) return;
  postTo(w->queue, MSG{h, UINT(bar == SB_VERT ? WM_VSCROLL : WM_HSCROLL), MAKEWPARAM(code, WORD(pos)), 0,
                       DWORD(platform::clockMonotonicMs()), {}});
}

}  // namespace

bool scrollHit(Window* w, POINT screenPt, int* bar) {
  RECT wr = windowRectOnScreen(w);
  POINT p{screenPt.x - wr.left, screenPt.y - wr.top};
  for (int b : {SB_VERT, SB_HORZ}) {
    if (!(w->style & styleBit(b))) continue;
    RECT r = barRect(w, b);
    if (PtInRect(&r, p)) {
      *bar = b;
      return true;
    }
  }
  return false;
}

void scrollPress(HWND h, int bar, POINT screenPt) {
  Window* w = find(h);
  if (!w) return;
  RECT wr = windowRectOnScreen(w);
  int along = bar == SB_VERT ? screenPt.y - wr.top : screenPt.x - wr.left;
  Layout l = layoutOf(w, bar);
  g_drag = Drag{h, bar, 0, false};
  if (along < l.start) {
    postScroll(h, bar, SB_LINEUP, 0);
  } else if (along >= l.end) {
    postScroll(h, bar, SB_LINEDOWN, 0);
  } else if (!l.hasThumb) {
    return;
  } else if (along < l.thumbAt) {
    postScroll(h, bar, SB_PAGEUP, 0);
  } else if (along >= l.thumbAt + l.thumbLen) {
    postScroll(h, bar, SB_PAGEDOWN, 0);
  } else {
    g_drag.thumb = true;
    g_drag.grab = along - l.thumbAt;
    w->bars[bar].trackPos = w->bars[bar].pos;
  }
}

void scrollDrag(POINT screenPt) {
  Window* w = find(g_drag.hwnd);
  if (!w || !g_drag.thumb) return;
  int bar = g_drag.bar;
  RECT wr = windowRectOnScreen(w);
  int along = bar == SB_VERT ? screenPt.y - wr.top : screenPt.x - wr.left;
  Layout l = layoutOf(w, bar);
  if (!l.hasThumb) return;
  ScrollBar& sb = w->bars[bar];
  int64_t room = rangeOf(sb) - int64_t(sb.page);
  int travel = std::max(1, l.end - l.start - l.thumbLen);
  int64_t want = int64_t(sb.min) + int64_t(along - g_drag.grab - l.start) * room / travel;
  int pos = int(std::clamp<int64_t>(want, sb.min, int64_t(sb.min) + std::max<int64_t>(0, room)));
  if (pos == sb.trackPos) return;
  sb.trackPos = pos;
  postScroll(g_drag.hwnd, bar, SB_THUMBTRACK, pos);
}

bool scrollRelease(POINT screenPt) {
  HWND h = g_drag.hwnd;
  Window* w = find(h);
  if (!w) {
    g_drag = Drag{};
    return false;
  }
  if (g_drag.thumb) {
    scrollDrag(screenPt);
    postScroll(h, g_drag.bar, SB_THUMBPOSITION, w->bars[g_drag.bar].trackPos);
  }
  postScroll(h, g_drag.bar, SB_ENDSCROLL, 0);
  g_drag = Drag{};
  return true;
}

void paintScrollBars(Window* w, HDC dc) {
  for (int bar : {SB_VERT, SB_HORZ}) {
    if (!(w->style & styleBit(bar))) continue;
    RECT r = barRect(w, bar);
    bool vert = bar == SB_VERT;
    FillRect(dc, &r, GetSysColorBrush(COLOR_SCROLLBAR));
    Layout l = layoutOf(w, bar);
    int s = scrollBarWidth();
    RECT up = vert ? RECT{r.left, r.top, r.right, r.top + s} : RECT{r.left, r.top, r.left + s, r.bottom};
    RECT down = vert ? RECT{r.left, r.bottom - s, r.right, r.bottom} : RECT{r.right - s, r.top, r.right, r.bottom};
    bool enabled = !(w->style & WS_DISABLED) && l.hasThumb;
    {
      gdi::DcSelection arrow(dc, GetSysColorBrush(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT), GetStockObject(NULL_PEN));
      for (int i = 0; i < 2; ++i) {
        RECT b = i == 0 ? up : down;
        FillRect(dc, &b, GetSysColorBrush(COLOR_BTNFACE));
        DrawEdge(dc, &b, EDGE_RAISED, BF_RECT);
        int cx = (b.left + b.right) / 2, cy = (b.top + b.bottom) / 2, k = std::max(2, s / 4);
        int h = k / 2, sign = i == 0 ? -1 : 1;  // up/left, then down/right
        POINT tri[3];
        if (vert) {
          tri[0] = POINT{cx - k, cy - sign * h};
          tri[1] = POINT{cx + k, cy - sign * h};
          tri[2] = POINT{cx, cy + sign * h};
        } else {
          tri[0] = POINT{cx - sign * h, cy - k};
          tri[1] = POINT{cx - sign * h, cy + k};
          tri[2] = POINT{cx + sign * h, cy};
        }
        Polygon(dc, tri, 3);
      }
    }
    if (l.hasThumb) {
      RECT t = vert ? RECT{r.left, l.thumbAt, r.right, l.thumbAt + l.thumbLen}
                    : RECT{l.thumbAt, r.top, l.thumbAt + l.thumbLen, r.bottom};
      FillRect(dc, &t, GetSysColorBrush(COLOR_BTNFACE));
      DrawEdge(dc, &t, EDGE_RAISED, BF_RECT);
    }
  }
}

}  // namespace platform::win

using namespace platform::win;

int SetScrollInfo(HWND hwnd, int bar, LPCSCROLLINFO info, BOOL redraw) {
  if (!info || (bar != SB_VERT && bar != SB_HORZ)) return 0;
  bool geometry = false;
  int pos;
  {
    Guard g(lock());
    Window* w = find(hwnd);
    if (!w) return 0;
    ScrollBar& sb = w->bars[bar];
    if (info->fMask & SIF_RANGE) {
      sb.min = info->nMin;
      sb.max = std::max(info->nMin, info->nMax);
    }
    if (info->fMask & SIF_PAGE) sb.page = info->nPage;
    int64_t range = rangeOf(sb);
    if (int64_t(sb.page) > range) sb.page = UINT(std::min<int64_t>(range, 0xFFFFFFFF));
    if (info->fMask & SIF_POS) sb.pos = info->nPos;
    clampPos(sb);
    pos = sb.pos;
    if (info->fMask & (SIF_RANGE | SIF_PAGE)) {
      // A bar with nothing to scroll goes away, and comes back when needed.
      bool needed = (info->fMask & SIF_DISABLENOSCROLL) ||
                    (sb.page == 0 ? sb.max > sb.min : int64_t(sb.page) < range);
      DWORD bit = styleBit(bar);
      if (needed != bool(w->style & bit)) {
        w->style ^= bit;
        geometry = true;
        invalidateTree(w);
      }
    }
    if (redraw) w->ncDirty = true;
  }
  if (geometry) {
    RECT cr;
    GetClientRect(hwnd, &cr);
    SendMessage(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(cr.right, cr.bottom));
  }
  return pos;
}

BOOL GetScrollInfo(HWND hwnd, int bar, LPSCROLLINFO info) {
  if (!info || (bar != SB_VERT && bar != SB_HORZ)) return FALSE;
  Guard g(lock());
  Window* w = find(hwnd);
  if (!w) return FALSE;
  const ScrollBar& sb = w->bars[bar];
  if (info->fMask & SIF_RANGE) {
    info->nMin = sb.min;
    info->nMax = sb.max;
  }
  if (info->fMask & SIF_PAGE) info->nPage = sb.page;
  if (info->fMask & SIF_POS) info->nPos = sb.pos;
  if (info->fMask & SIF_TRACKPOS) info->nTrackPos = g_drag.hwnd == hwnd && g_drag.thumb ? sb.trackPos : sb.pos;
  return TRUE;
}

int SetScrollPos(HWND hwnd, int bar, int pos, BOOL redraw) {
  int old = GetScrollPos(hwnd, bar);
  SCROLLINFO si{sizeof si, SIF_POS, 0, 0, 0, pos, 0};
  SetScrollInfo(hwnd, bar, &si, redraw);
  return old;
}

int GetScrollPos(HWND hwnd, int bar) {
  SCROLLINFO si{sizeof si, SIF_POS, 0, 0, 0, 0, 0};
  return GetScrollInfo(hwnd, bar, &si) ? si.nPos : 0;
}

BOOL SetScrollRange(HWND hwnd, int bar, int minPos, int maxPos, BOOL redraw) {
  SCROLLINFO si{sizeof si, SIF_RANGE, minPos, maxPos, 0, 0, 0};
  SetScrollInfo(hwnd, bar, &si, redraw);
  return TRUE;
}

BOOL ShowScrollBar(HWND hwnd, int bar, BOOL show) {
  bool changed = false;
  {
    Guard g(lock());
    Window* w = find(hwnd);
    if (!w) return FALSE;
    DWORD bits = bar == SB_BOTH ? (WS_VSCROLL | WS_HSCROLL) : styleBit(bar);
    DWORD want = show ? (w->style | bits) : (w->style & ~bits);
    if (want != w->style) {
      w->style = want;
      changed = true;
      invalidateTree(w);
    }
  }
  if (changed) {
    RECT cr;
    GetClientRect(hwnd, &cr);
    SendMessage(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(cr.right, cr.bottom));
  }
  return TRUE;
}

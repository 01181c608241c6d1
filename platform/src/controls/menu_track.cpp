// TrackPopupMenuEx: pop-up menu windows driven by keys and the stylus in a
// modal loop, and the modal loop itself, which message boxes share.
#include <algorithm>
#include <cstring>

#include "control_internal.h"
#include "dc_selection.h"
#include "menu_internal.h"
#include "platform/screen.h"
#include "window_activation.h"

namespace platform::menus {
namespace {

ModalIdleHook& hook() {
  static ModalIdleHook* h = new ModalIdleHook;
  return *h;
}

bool headless() {
  DeviceBackend* b = deviceBackend();
  return !b || std::strcmp(b->name(), "headless") == 0;
}

struct Level {
  HMENU menu = nullptr;
  HWND wnd = nullptr;
  std::vector<Item> items;
  std::vector<RECT> rects;  // client coordinates
  int hot = -1;
};

struct Tracking {
  HWND owner = nullptr;
  std::vector<Level> levels;
  bool done = false;
  UINT chosen = 0;
};

Tracking* g_tracking = nullptr;  // one tracked menu at a time (UI thread)

HFONT menuFont() { return GetStockObject(DEFAULT_GUI_FONT); }

int textLineHeight() {
  HDC dc = GetDC(nullptr);
  TEXTMETRIC tm{};
  {
    gdi::DcSelection font(dc, menuFont());
    GetTextMetrics(dc, &tm);
  }
  ReleaseDC(nullptr, dc);
  return tm.tmHeight > 0 ? int(tm.tmHeight) : 12;
}

bool selectable(const Item& it) { return !(it.flags & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED)); }

int levelOf(HWND w) {
  if (!g_tracking) return -1;
  for (size_t i = 0; i < g_tracking->levels.size(); ++i)
    if (g_tracking->levels[i].wnd == w) return int(i);
  return -1;
}

void paintLevel(HWND w) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(w, &ps);
  int li = levelOf(w);
  RECT rc;
  GetClientRect(w, &rc);
  FillRect(dc, &rc, GetSysColorBrush(COLOR_MENU));
  if (li >= 0) {
    Level& L = g_tracking->levels[size_t(li)];
    gdi::DcSelection font(dc, menuFont());
    SetBkMode(dc, TRANSPARENT);
    int lh = textLineHeight();
    for (size_t i = 0; i < L.items.size(); ++i) {
      const Item& it = L.items[i];
      RECT r = L.rects[i];
      if (it.flags & MF_SEPARATOR) {
        RECT line{r.left + 4, (r.top + r.bottom) / 2, r.right - 4, (r.top + r.bottom) / 2 + 1};
        FillRect(dc, &line, GetSysColorBrush(COLOR_GRAYTEXT));
        continue;
      }
      bool hot = int(i) == L.hot;
      if (hot) FillRect(dc, &r, GetSysColorBrush(COLOR_HIGHLIGHT));
      COLORREF colour = !selectable(it) && !(it.flags & MF_POPUP) ? GetSysColor(COLOR_GRAYTEXT)
                        : hot                                     ? GetSysColor(COLOR_HIGHLIGHTTEXT)
                                                                  : GetSysColor(COLOR_MENUTEXT);
      SetTextColor(dc, colour);
      if (it.flags & MF_CHECKED) {
        HPEN pen = CreatePen(PS_SOLID, 2, colour);
        {
          gdi::DcSelection tick(dc, pen);
          int s = lh / 2, cx = r.left + lh / 2 + 2, cy = (r.top + r.bottom) / 2;
          POINT pts[3] = {{cx - s / 2, cy}, {cx - s / 6, cy + s / 2 - 1}, {cx + s / 2, cy - s / 2}};
          Polyline(dc, pts, 3);
        }
        DeleteObject(pen);
      }
      RECT tr{r.left + lh + 4, r.top, r.right - lh, r.bottom};
      DrawText(dc, it.text.c_str(), int(it.text.size()), &tr, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
      if (it.flags & MF_POPUP) {
        int cx = r.right - lh / 2 - 2, cy = (r.top + r.bottom) / 2, s = std::max(3, lh / 4);
        POINT tri[3] = {{cx - s / 2, cy - s}, {cx - s / 2, cy + s}, {cx + s / 2 + 1, cy}};
        HBRUSH b = CreateSolidBrush(colour);
        {
          gdi::DcSelection arrow(dc, b, GetStockObject(NULL_PEN));
          Polygon(dc, tri, 3);
        }
        DeleteObject(b);
      }
    }
  }
  EndPaint(w, &ps);
}

LRESULT CALLBACK popupProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT:
      paintLevel(h);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_ACTIVATE:
      // A tap on the menu must not take the activation (and the focus)
      // from the window the menu belongs to.
      win::bounceActivation(h, wParam, lParam);
      return 0;
  }
  return DefWindowProc(h, msg, wParam, lParam);
}

LPCWSTR popupClass() {
  static bool once = [] {
    WNDCLASS wc{};
    wc.lpfnWndProc = popupProc;
    wc.hbrBackground = GetSysColorBrush(COLOR_MENU);
    wc.lpszClassName = u"MNU_POPUP";
    return RegisterClass(&wc) != 0;
  }();
  (void)once;
  return u"MNU_POPUP";
}

void firstHot(Level& L) {
  L.hot = -1;
  for (size_t i = 0; i < L.items.size(); ++i)
    if (selectable(L.items[i]) || (L.items[i].flags & MF_POPUP)) {
      L.hot = int(i);
      break;
    }
}

// Opens a menu level with its corner at (x, y), or, for a sub-menu, beside
// the item rectangle `beside` (screen coordinates).
bool openLevel(HMENU menu, int x, int y, UINT flags, const RECT* beside) {
  Tracking* t = g_tracking;
  int index = int(t->levels.size());
  if (!(flags & TPM_NONOTIFY) && IsWindow(t->owner))
    SendMessage(t->owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), MAKELPARAM(WORD(index), 0));
  Level L;
  L.menu = menu;
  if (!snapshot(menu, &L.items) || L.items.empty()) return false;
  int lh = textLineHeight();
  int itemH = lh + 8, sepH = 7;
  HDC dc = GetDC(nullptr);
  int textW = 0;
  {
    gdi::DcSelection font(dc, menuFont());
    for (const Item& it : L.items) {
      SIZE sz{0, 0};
      if (!it.text.empty()) GetTextExtentPoint32(dc, it.text.c_str(), int(it.text.size()), &sz);
      textW = std::max<int>(textW, sz.cx);
    }
  }
  ReleaseDC(nullptr, dc);
  int sw = screenWidth(), sh = screenHeight();
  int width = std::min(sw, textW + 2 * lh + 8 + 2);
  int top = 0;
  for (const Item& it : L.items) {
    int hgt = (it.flags & MF_SEPARATOR) ? sepH : itemH;
    L.rects.push_back(RECT{0, top, width - 2, top + hgt});
    top += hgt;
  }
  int height = std::min(sh, top + 2);
  if (beside) {
    x = beside->right;
    y = beside->top - 1;
    if (x + width > sw) x = std::max(0, int(beside->left) - width);
  } else {
    if (flags & TPM_RIGHTALIGN) x -= width;
    else if (flags & TPM_CENTERALIGN) x -= width / 2;
    if (flags & TPM_BOTTOMALIGN) y -= height;
    else if (flags & TPM_VCENTERALIGN) y -= height / 2;
  }
  x = std::clamp(x, 0, std::max(0, sw - width));
  y = std::clamp(y, 0, std::max(0, sh - height));
  L.wnd = CreateWindowEx(WS_EX_TOPMOST | WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW, popupClass(), u"", WS_POPUP | WS_BORDER,
                         x, y, width, height, t->owner, nullptr, nullptr, nullptr);
  if (!L.wnd) return false;
  firstHot(L);
  t->levels.push_back(std::move(L));
  ShowWindow(t->levels.back().wnd, SW_SHOWNOACTIVATE);
  return true;
}

void closeTop() {
  Tracking* t = g_tracking;
  if (t->levels.empty()) return;
  HWND w = t->levels.back().wnd;
  t->levels.pop_back();
  if (IsWindow(w)) DestroyWindow(w);
  if (t->levels.empty()) t->done = true;
}

void repaint(Level& L) { InvalidateRect(L.wnd, nullptr, TRUE); }

void activate(size_t li, int index) {
  Tracking* t = g_tracking;
  while (t->levels.size() > li + 1) closeTop();
  Level& L = t->levels[li];
  if (index < 0 || size_t(index) >= L.items.size()) return;
  const Item& it = L.items[size_t(index)];
  L.hot = index;
  repaint(L);
  if (it.flags & MF_POPUP) {
    if (it.flags & (MF_GRAYED | MF_DISABLED)) return;
    RECT r = L.rects[size_t(index)];
    POINT a{r.left, r.top}, b{r.right, r.bottom};
    ClientToScreen(L.wnd, &a);
    ClientToScreen(L.wnd, &b);
    RECT beside{a.x, a.y, b.x, b.y};
    openLevel(it.sub, 0, 0, 0, &beside);
    return;
  }
  if (!selectable(it)) return;
  t->chosen = it.id;
  t->done = true;
}

void moveHot(int step) {
  Level& L = g_tracking->levels.back();
  int n = int(L.items.size());
  for (int k = 1; k <= n; ++k) {
    int i = ((L.hot < 0 ? (step > 0 ? -1 : 0) : L.hot) + step * k + n * 4) % n;
    const Item& it = L.items[size_t(i)];
    if (selectable(it) || ((it.flags & MF_POPUP) && !(it.flags & (MF_GRAYED | MF_DISABLED)))) {
      L.hot = i;
      repaint(L);
      return;
    }
  }
}

// The level and item under a screen point; false when outside every menu.
bool hit(POINT screen, size_t* li, int* index) {
  Tracking* t = g_tracking;
  for (size_t k = t->levels.size(); k-- > 0;) {
    Level& L = t->levels[k];
    RECT wr;
    GetWindowRect(L.wnd, &wr);
    if (!PtInRect(&wr, screen)) continue;
    POINT p = screen;
    ScreenToClient(L.wnd, &p);
    *li = k;
    *index = -1;
    for (size_t i = 0; i < L.rects.size(); ++i)
      if (PtInRect(&L.rects[i], p)) *index = int(i);
    return true;
  }
  return false;
}

bool filter(MSG& m) {
  Tracking* t = g_tracking;
  switch (m.message) {
    case WM_KEYDOWN: {
      Level& L = t->levels.back();
      switch (m.wParam) {
        case VK_UP:
          moveHot(-1);
          break;
        case VK_DOWN:
          moveHot(1);
          break;
        case VK_RIGHT:
          if (L.hot >= 0 && (L.items[size_t(L.hot)].flags & MF_POPUP)) activate(t->levels.size() - 1, L.hot);
          break;
        case VK_RETURN:
          if (L.hot >= 0) activate(t->levels.size() - 1, L.hot);
          break;
        case VK_LEFT:
          if (t->levels.size() > 1) closeTop();
          break;
        case VK_ESCAPE:
        case VK_TSOFT1:
        case VK_TSOFT2:
          // Back closes one level; a soft key closes them all.
          if (m.wParam == VK_ESCAPE) closeTop();
          else
            while (!t->levels.empty()) closeTop();
          break;
      }
      return true;
    }
    case WM_KEYUP:
    case WM_CHAR:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_CONTEXTMENU:
    case WM_MOUSEWHEEL:
      return true;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP: {
      size_t li;
      int index;
      bool in = hit(m.pt, &li, &index);
      if (m.message == WM_MOUSEMOVE) {
        if (in && index >= 0 && (m.wParam & MK_LBUTTON) && t->levels[li].hot != index) {
          t->levels[li].hot = index;
          repaint(t->levels[li]);
        }
      } else if (!in) {
        // A tap outside every menu dismisses them and is not passed on.
        if (m.message != WM_LBUTTONUP)
          while (!t->levels.empty()) closeTop();
      } else if (index >= 0) {
        const Item& it = t->levels[li].items[size_t(index)];
        if (m.message != WM_LBUTTONUP || !(it.flags & MF_POPUP)) {
          if (m.message == WM_LBUTTONUP || (it.flags & MF_POPUP)) activate(li, index);
          else {
            t->levels[li].hot = index;
            repaint(t->levels[li]);
          }
        }
      }
      return true;
    }
  }
  return false;
}

}  // namespace

bool runModal(HWND modal, const std::function<bool(MSG&)>& filterFn, const std::function<bool()>& done) {
  while (!done()) {
    MSG m;
    if (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message == WM_QUIT) {
        PostQuitMessage(int(m.wParam));
        return false;
      }
      if (filterFn && filterFn(m)) continue;
      TranslateMessage(&m);
      DispatchMessage(&m);
      continue;
    }
    ModalIdleHook h = hook();
    if (h) {
      h(modal);
      if (done()) break;
      if (PeekMessage(&m, nullptr, 0, 0, PM_NOREMOVE)) continue;
    }
    if (headless()) return false;
    // Wait for the next message without taking it.
    if (!GetMessage(&m, nullptr, 0, 0)) {
      PostQuitMessage(int(m.wParam));
      return false;
    }
    if (filterFn && filterFn(m)) continue;
    TranslateMessage(&m);
    DispatchMessage(&m);
  }
  return true;
}

}  // namespace platform::menus

namespace platform {

void setModalIdleHook(ModalIdleHook h) { menus::hook() = std::move(h); }

HWND activeMenuWindow() {
  using namespace menus;
  if (!g_tracking || g_tracking->levels.empty()) return nullptr;
  return g_tracking->levels.back().wnd;
}

bool menuItemRect(HWND menuWindow, int position, RECT* out) {
  using namespace menus;
  int li = levelOf(menuWindow);
  if (li < 0 || !out) return false;
  Level& L = g_tracking->levels[size_t(li)];
  if (position < 0 || size_t(position) >= L.rects.size()) return false;
  RECT r = L.rects[size_t(position)];
  POINT a{r.left, r.top}, b{r.right, r.bottom};
  ClientToScreen(menuWindow, &a);
  ClientToScreen(menuWindow, &b);
  *out = RECT{a.x, a.y, b.x, b.y};
  return true;
}

}  // namespace platform

BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND owner, LPTPMPARAMS) {
  using namespace platform::menus;
  if (g_tracking || !IsMenu(menu) || (owner && !IsWindow(owner))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  HWND prevActive = GetActiveWindow();
  HWND prevFocus = GetFocus();
  Tracking t;
  t.owner = owner;
  g_tracking = &t;
  if (openLevel(menu, x, y, flags, nullptr)) {
    runModal(t.levels.back().wnd, filter, [&] { return t.done || t.levels.empty(); });
  }
  while (!t.levels.empty()) closeTop();
  g_tracking = nullptr;
  // A tap on the menu may have moved the activation; give it back.
  if (prevActive && IsWindow(prevActive) && GetActiveWindow() != prevActive) SetActiveWindow(prevActive);
  if (prevFocus && IsWindow(prevFocus) && GetFocus() != prevFocus) SetFocus(prevFocus);
  UINT chosen = t.chosen;
  if (flags & TPM_RETURNCMD) return BOOL(chosen);
  if (chosen && owner && IsWindow(owner)) PostMessage(owner, WM_COMMAND, MAKEWPARAM(WORD(chosen), 0), 0);
  return chosen ? TRUE : FALSE;
}

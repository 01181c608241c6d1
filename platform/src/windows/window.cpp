// Window classes and the window tree: creation, destruction, geometry, text,
// styles and data slots.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <unordered_map>

#include "ascii.h"
#include "platform/gdi.h"
#include "platform/handles.h"
#include "platform/screen.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "window_internal.h"

#define ERROR_INVALID_WINDOW_HANDLE 1400L
#define ERROR_CLASS_ALREADY_EXISTS 1410L
#define ERROR_CLASS_DOES_NOT_EXIST 1411L
#define ERROR_CANNOT_FIND_WND_CLASS 1407L
#define ERROR_TLW_WITH_WSCHILD 1406L
#define ERROR_ACCESS_DENIED_WND 5L

namespace platform::win {
namespace {

struct Tree {
  std::recursive_mutex m;
  std::unordered_map<uintptr_t, std::unique_ptr<Window>> windows;
  std::vector<HWND> topLevels;
  std::vector<std::shared_ptr<WindowClass>> classes;
  uintptr_t nextHandle = 0x10000;
  ATOM nextAtom = 0xC000;
};

Tree& T() {
  static Tree* t = new Tree;  // outlives every thread that may still touch it
  return *t;
}

bool sameName(const std::u16string& a, LPCWSTR b) {
  return b && asciiEqualNoCase(a, b);
}

std::shared_ptr<WindowClass> findClass(LPCWSTR name, HINSTANCE instance, bool exact) {
  std::shared_ptr<WindowClass> any;
  for (auto& c : T().classes) {
    bool match = IS_INTRESOURCE(name) ? c->atom == ATOM(uintptr_t(name)) : sameName(c->name, name);
    if (!match) continue;
    if (c->wc.hInstance == instance) return c;
    if (!any) any = c;
  }
  return exact ? nullptr : any;
}

}  // namespace

std::recursive_mutex& lock() { return T().m; }

Window* find(HWND h) {
  if (!h) return nullptr;
  auto it = T().windows.find(reinterpret_cast<uintptr_t>(h));
  return it == T().windows.end() ? nullptr : it->second.get();
}

std::vector<HWND>& topLevels() { return T().topLevels; }

std::vector<HWND>& siblingsOf(Window* w) {
  if (Window* p = find(w->parent)) return p->children;
  return T().topLevels;
}

bool isVisibleChain(Window* w) {
  while (w) {
    if (!(w->style & WS_VISIBLE)) return false;
    w = find(w->parent);
  }
  return true;
}

RECT clientRectInWindow(Window* w) {
  RECT r{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
  if ((w->style & WS_CAPTION) == WS_CAPTION) {
    InflateRect(&r, -1, -1);
    r.top += GetSystemMetrics(SM_CYCAPTION);
  } else if (w->style & (WS_BORDER | WS_DLGFRAME)) {
    InflateRect(&r, -1, -1);
  }
  if (w->exStyle & WS_EX_CLIENTEDGE) InflateRect(&r, -2, -2);
  if (w->style & WS_VSCROLL) r.right -= scrollBarWidth();
  if (w->style & WS_HSCROLL) r.bottom -= scrollBarWidth();
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

RECT windowRectOnScreen(Window* w) {
  RECT r = w->rect;
  if (Window* p = find(w->parent)) {
    RECT pc = clientRectOnScreen(p);
    OffsetRect(&r, pc.left, pc.top);
  }
  return r;
}

RECT clientRectOnScreen(Window* w) {
  RECT wr = windowRectOnScreen(w);
  RECT c = clientRectInWindow(w);
  OffsetRect(&c, wr.left, wr.top);
  return c;
}

HWND rootOf(Window* w) {
  while (w && w->parent) w = find(w->parent);
  return w ? w->handle : nullptr;
}

bool isAncestor(HWND ancestor, HWND h) {
  Window* w = find(h);
  while (w) {
    if (w->handle == ancestor) return true;
    w = find(w->parent);
  }
  return false;
}

// Sends WM_SIZE/WM_MOVE after the window's rectangle changed.
void notifyGeometry(HWND h, bool moved, bool sized) {
  RECT c{};
  {
    Guard g(lock());
    Window* w = find(h);
    if (!w) return;
    c = clientRectInWindow(w);
    if (moved) {
      RECT wr = w->rect;
      c.left += wr.left;
      c.top += wr.top;
    }
  }
  if (sized) {
    RECT cr;
    GetClientRect(h, &cr);
    SendMessage(h, WM_SIZE, SIZE_RESTORED, MAKELPARAM(cr.right, cr.bottom));
  }
  if (moved) SendMessage(h, WM_MOVE, 0, MAKELPARAM(c.left, c.top));
}

}  // namespace platform::win

using namespace platform;
using namespace platform::win;

// ---- Classes -------------------------------------------------------------

ATOM RegisterClass(const WNDCLASS* wc) {
  if (!wc || !wc->lpszClassName || !wc->lpfnWndProc || wc->cbWndExtra < 0 || wc->cbWndExtra > 4096) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  Guard g(lock());
  if (!IS_INTRESOURCE(wc->lpszClassName) && findClass(wc->lpszClassName, wc->hInstance, true)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  auto c = std::make_shared<WindowClass>();
  c->wc = *wc;
  c->name = IS_INTRESOURCE(wc->lpszClassName) ? u"" : std::u16string(wc->lpszClassName);
  c->wc.lpszClassName = nullptr;  // the caller's string may not live on
  c->wc.lpszMenuName = nullptr;
  c->atom = T().nextAtom++;
  T().classes.push_back(c);
  return c->atom;
}

BOOL UnregisterClass(LPCWSTR className, HINSTANCE instance) {
  Guard g(lock());
  auto c = findClass(className, instance, true);
  if (!c) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  for (auto& [_, w] : T().windows)
    if (w->cls == c) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
  auto& v = T().classes;
  v.erase(std::remove(v.begin(), v.end(), c), v.end());
  return TRUE;
}

BOOL GetClassInfo(HINSTANCE instance, LPCWSTR className, WNDCLASS* out) {
  Guard g(lock());
  auto c = findClass(className, instance, false);
  if (!c) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  if (out) {
    *out = c->wc;
    out->lpszClassName = c->name.c_str();
  }
  return TRUE;
}

int GetClassName(HWND hwnd, LPWSTR buffer, int size) {
  Guard g(lock());
  Window* w = find(hwnd);
  if (!w || !buffer || size <= 0) return 0;
  int n = std::min<int>(int(w->cls->name.size()), size - 1);
  std::memcpy(buffer, w->cls->name.data(), size_t(n) * sizeof(WCHAR));
  buffer[n] = 0;
  return n;
}

// ---- Creation and destruction -------------------------------------------

HWND CreateWindowEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                    int width, int height, HWND parent, HMENU menuOrId, HINSTANCE instance, LPVOID param) {
  HWND h;
  CREATESTRUCT cs{};
  {
    Guard g(lock());
    auto cls = findClass(className, instance, false);
    if (!cls) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    Window* p = parent && parent != HWND_MESSAGE ? find(parent) : nullptr;
    if ((style & WS_CHILD) && !p) {
      SetLastError(ERROR_TLW_WITH_WSCHILD);
      return nullptr;
    }
    if (parent && parent != HWND_MESSAGE && !p) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    auto w = std::make_unique<Window>();
    h = reinterpret_cast<HWND>(T().nextHandle);
    T().nextHandle += 4;
    w->handle = h;
    w->cls = cls;
    w->proc = cls->wc.lpfnWndProc;
    w->instance = instance;
    w->text = windowName ? std::u16string(windowName) : std::u16string();
    w->style = style & ~WS_VISIBLE;  // shown after WM_CREATE
    w->exStyle = exStyle;
    w->queue = currentQueue();
    w->threadId = w->queue->threadId;
    w->extra.assign(size_t(std::max(0, cls->wc.cbWndExtra)), 0);
    if (style & WS_CHILD) {
      w->parent = parent;
      w->id = reinterpret_cast<UINT_PTR>(menuOrId);
    } else if (p) {
      w->owner = rootOf(p);
    }
    if (x == CW_USEDEFAULT) x = y = 0;
    if (width == CW_USEDEFAULT) {
      if (style & WS_CHILD) {
        width = height = 0;
      } else {
        width = screenWidth() - x;
        height = screenHeight() - y;
      }
    }
    w->rect = RECT{x, y, x + std::max(0, width), y + std::max(0, height)};
    if (w->parent) {
      p->children.push_back(h);  // children go to the bottom: creation order is tab order
    } else {
      T().topLevels.insert(T().topLevels.begin(), h);
    }
    T().windows[reinterpret_cast<uintptr_t>(h)] = std::move(w);
    cs = CREATESTRUCT{param,       instance, menuOrId,  parent,    height, width,
                      y,           x,        LONG(style), windowName, className, exStyle};
  }
  if (!SendMessage(h, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
    DestroyWindow(h);
    return nullptr;
  }
  if (!IsWindow(h)) return nullptr;
  if (SendMessage(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    DestroyWindow(h);
    return nullptr;
  }
  if (!IsWindow(h)) return nullptr;
  notifyGeometry(h, true, true);
  if ((style & WS_VISIBLE) && IsWindow(h)) ShowWindow(h, SW_SHOW);
  return IsWindow(h) ? h : nullptr;
}

namespace {

void collect(Window* w, std::vector<HWND>& out) {
  out.push_back(w->handle);
  for (HWND c : w->children)
    if (Window* cw = find(c)) collect(cw, out);
}

void unlink(Window* w) {
  auto& sib = siblingsOf(w);
  sib.erase(std::remove(sib.begin(), sib.end(), w->handle), sib.end());
}

// Parent first, then each child: every window of the subtree gets WM_DESTROY.
void sendDestroy(HWND h) {
  SendMessage(h, WM_DESTROY, 0, 0);
  std::vector<HWND> kids;
  {
    Guard g(lock());
    if (Window* w = find(h)) kids = w->children;
  }
  for (HWND c : kids)
    if (IsWindow(c)) sendDestroy(c);
}

// Children first: WM_NCDESTROY, then the window leaves every table.
void finalDestroy(HWND h) {
  std::vector<HWND> kids;
  {
    Guard g(lock());
    if (Window* w = find(h)) kids = w->children;
  }
  for (HWND c : kids) finalDestroy(c);
  SendMessage(h, WM_NCDESTROY, 0, 0);
  killTimersOf(h);
  forgetWindowInput(h);
  Guard g(lock());
  Window* w = find(h);
  if (!w) return;
  unlink(w);
  T().windows.erase(reinterpret_cast<uintptr_t>(h));
}

}  // namespace

BOOL DestroyWindow(HWND hwnd) {
  std::vector<HWND> owned;
  RECT screenArea{};
  bool wasVisible;
  {
    Guard g(lock());
    Window* w = find(hwnd);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    if (w->threadId != GetCurrentThreadId()) {
      SetLastError(ERROR_ACCESS_DENIED_WND);
      return FALSE;
    }
    if (w->destroying) return FALSE;
    std::vector<HWND> subtree;
    collect(w, subtree);
    for (HWND s : subtree) find(s)->destroying = true;
    if (!w->parent)
      for (HWND t : T().topLevels)
        if (Window* tw = find(t); tw && tw->owner == hwnd) owned.push_back(t);
    wasVisible = isVisibleChain(w);
    screenArea = windowRectOnScreen(w);
  }
  for (HWND o : owned) DestroyWindow(o);
  // Hide first: focus, activation and capture leave the subtree, and what
  // lay beneath is repainted.
  {
    Guard g(lock());
    if (Window* w = find(hwnd)) w->style &= ~WS_VISIBLE;
  }
  forgetWindowInput(hwnd);
  if (wasVisible) {
    Guard g(lock());
    invalidateScreenArea(screenArea);
  }
  sendDestroy(hwnd);
  finalDestroy(hwnd);
  return TRUE;
}

BOOL IsWindow(HWND hwnd) {
  Guard g(lock());
  return find(hwnd) != nullptr;
}

BOOL IsWindowVisible(HWND hwnd) {
  Guard g(lock());
  Window* w = find(hwnd);
  return w && isVisibleChain(w);
}

BOOL IsWindowEnabled(HWND hwnd) {
  Guard g(lock());
  Window* w = find(hwnd);
  return w && !(w->style & WS_DISABLED);
}

BOOL IsChild(HWND parent, HWND hwnd) {
  Guard g(lock());
  Window* w = find(hwnd);
  while (w && (w->style & WS_CHILD)) {
    if (w->parent == parent) return TRUE;
    w = find(w->parent);
  }
  return FALSE;
}

// ---- Showing, enabling, moving ------------------------------------------

BOOL ShowWindow(HWND hwnd, int cmd) {
  // A phone has no minimised windows: minimising takes the window out of view.
  bool show = cmd != SW_HIDE && cmd != SW_MINIMIZE && cmd != SW_SHOWMINIMIZED && cmd != SW_SHOWMINNOACTIVE;
  bool activate = false;
  bool wasVisible;
  RECT area{};
  {
    Guard g(lock());
    Window* w = find(hwnd);
    if (!w) return FALSE;
    wasVisible = (w->style & WS_VISIBLE) != 0;
    if (wasVisible == show) return wasVisible;
    activate = show && !w->parent && cmd != SW_SHOWNA && cmd != SW_SHOWNOACTIVATE &&
               cmd != SW_SHOWMINNOACTIVE && !(w->exStyle & WS_EX_NOACTIVATE);
  }
  SendMessage(hwnd, WM_SHOWWINDOW, show, 0);
  {
    Guard g(lock());
    Window* w = find(hwnd);
    if (!w) return wasVisible;
    if (show) {
      w->style |= WS_VISIBLE;
      invalidateTree(w);
    } else {
      area = windowRectOnScreen(w);
      bool chain = w->parent ? isVisibleChain(find(w->parent)) : true;
      w->style &= ~WS_VISIBLE;
      if (chain) invalidateScreenArea(area);
    }
  }
  if (!show) {
    forgetWindowInput(hwnd);
  } else if (activate) {
    SetActiveWindow(hwnd);
  }
  return wasVisible;
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  bool wasDisabled;
  {
    Guard g(lock());
    Window* w = find(hwnd);
    if (!w) return FALSE;
    wasDisabled = (w->style & WS_DISABLED) != 0;
    if (wasDisabled == !enable) return wasDisabled;
    if (enable) {
      w->style &= ~WS_DISABLED;
    } else {
      w->style |= WS_DISABLED;
    }
    w->ncDirty = true;
  }
  if (!enable && (GetFocus() == hwnd || IsChild(hwnd, GetFocus()))) SetFocus(nullptr);
  if (!enable && GetCapture() == hwnd) ReleaseCapture();
  SendMessage(hwnd, WM_ENABLE, enable, 0);
  return wasDisabled;
}

BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  bool moved = false, sized = false;
  {
    Guard g(lock());
    Window* w = find(hwnd);
    if (!w) return FALSE;
    bool visible = isVisibleChain(w);
    RECT oldScreen = windowRectOnScreen(w);
    RECT r = w->rect;
    if (!(flags & SWP_NOMOVE)) {
      moved = x != r.left || y != r.top;
      OffsetRect(&r, x - r.left, y - r.top);
    }
    if (!(flags & SWP_NOSIZE)) {
      cx = std::max(0, cx);
      cy = std::max(0, cy);
      sized = cx != r.right - r.left || cy != r.bottom - r.top;
      r.right = r.left + cx;
      r.bottom = r.top + cy;
    }
    bool restack = false;
    if (!(flags & SWP_NOZORDER)) {
      auto& sib = siblingsOf(w);
      auto it = std::find(sib.begin(), sib.end(), hwnd);
      if (it != sib.end()) {
        size_t before = size_t(it - sib.begin());
        sib.erase(it);
        if (insertAfter == HWND_TOP || insertAfter == HWND_TOPMOST || insertAfter == HWND_NOTOPMOST) {
          sib.insert(sib.begin(), hwnd);
        } else if (insertAfter == HWND_BOTTOM) {
          sib.push_back(hwnd);
        } else {
          auto at = std::find(sib.begin(), sib.end(), insertAfter);
          sib.insert(at == sib.end() ? sib.end() : at + 1, hwnd);
        }
        restack = size_t(std::find(sib.begin(), sib.end(), hwnd) - sib.begin()) != before;
      }
    }
    w->rect = r;
    if (flags & SWP_FRAMECHANGED) {
      sized = true;
      w->ncDirty = true;
    }
    if (visible && (moved || sized || restack) && !(flags & SWP_NOREDRAW)) {
      invalidateScreenArea(oldScreen);
      invalidateTree(w);
    }
  }
  if (moved || sized) platform::win::notifyGeometry(hwnd, moved, sized);
  if (flags & SWP_SHOWWINDOW) ShowWindow(hwnd, (flags & SWP_NOACTIVATE) ? SW_SHOWNA : SW_SHOW);
  if (flags & SWP_HIDEWINDOW) ShowWindow(hwnd, SW_HIDE);
  return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
  return SetWindowPos(hwnd, nullptr, x, y, width, height,
                      SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL BringWindowToTop(HWND hwnd) {
  return SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

BOOL GetWindowRect(HWND hwnd, LPRECT rect) {
  Guard g(lock());
  Window* w = find(hwnd);
  if (!w || !rect) return FALSE;
  *rect = windowRectOnScreen(w);
  return TRUE;
}

BOOL GetClientRect(HWND hwnd, LPRECT rect) {
  Guard g(lock());
  Window* w = find(hwnd);
  if (!w || !rect) return FALSE;
  RECT c = clientRectInWindow(w);
  *rect = RECT{0, 0, c.right - c.left, c.bottom - c.top};
  return TRUE;
}

BOOL ClientToScreen(HWND hwnd, LPPOINT pt) {
  Guard g(lock());
  Window* w = find(hwnd);
  if (!w || !pt) return FALSE;
  RECT c = clientRectOnScreen(w);
  pt->x += c.left;
  pt->y += c.top;
  return TRUE;
}

BOOL ScreenToClient(HWND hwnd, LPPOINT pt) {
  Guard g(lock());
  Window* w = find(hwnd);
  if (!w || !pt) return FALSE;
  RECT c = clientRectOnScreen(w);
  pt->x -= c.left;
  pt->y -= c.top;
  return TRUE;
}

int MapWindowPoints(HWND from, HWND to, LPPOINT points, UINT count) {
  Guard g(lock());
  POINT a{0, 0}, b{0, 0};
  if (from) {
    Window* w = find(from);
    if (!w) return 0;
    RECT c = clientRectOnScreen(w);
    a = POINT{c.left, c.top};
  }
  if (to) {
    Window* w = find(to);
    if (!w) return 0;
    RECT c = clientRectOnScreen(w);
    b = POINT{c.left, c.top};
  }
  LONG dx = a.x - b.x, dy = a.y - b.y;
  for (UINT i = 0; i < count; ++i) {
    points[i].x += dx;
    points[i].y += dy;
  }
  return MAKELONG(WORD(dx), WORD(dy));
}

namespace {

HWND hitChild(Window* w, POINT screenPt, bool skipHiddenDisabled) {
  for (HWND c : w->children) {
    Window* cw = find(c);
    if (!cw || !(cw->style & WS_VISIBLE)) continue;
    if (skipHiddenDisabled && (cw->style & WS_DISABLED)) continue;
    RECT wr = windowRectOnScreen(cw);
    if (PtInRect(&wr, screenPt)) {
      RECT client = clientRectOnScreen(cw);
      if (!PtInRect(&client, screenPt)) return c;
      HWND deeper = hitChild(cw, screenPt, skipHiddenDisabled);
      return deeper ? deeper : c;
    }
  }
  return nullptr;
}

}  // namespace

HWND WindowFromPoint(POINT pt) {
  Guard g(lock());
  for (HWND t : T().topLevels) {
    Window* w = find(t);
    if (!w || !(w->style & WS_VISIBLE)) continue;
    RECT r = windowRectOnScreen(w);
    if (!PtInRect(&r, pt)) continue;
    RECT client = clientRectOnScreen(w);
    if (!PtInRect(&client, pt)) return t;
    HWND c = hitChild(w, pt, true);
    return c ? c : t;
  }
  return nullptr;
}

HWND ChildWindowFromPoint(HWND parent, POINT pt) {
  Guard g(lock());
  Window* w = find(parent);
  if (!w) return nullptr;
  RECT c = clientRectOnScreen(w);
  POINT s{pt.x + c.left, pt.y + c.top};
  RECT wr = windowRectOnScreen(w);
  if (!PtInRect(&wr, s)) return nullptr;
  for (HWND ch : w->children) {
    Window* cw = find(ch);
    if (cw && PtInRect(&cw->rect, pt)) return ch;
  }
  return parent;
}

// ---- Navigation ----------------------------------------------------------

HWND GetParent(HWND hwnd) {
  Guard g(lock());
  Window* w = find(hwnd);
  if (!w) return nullptr;
  return w->parent ? w->parent : w->owner;
}

HWND SetParent(HWND hwnd, HWND newParent) {
  Guard g(lock());
  Window* w = find(hwnd);
  Window* p = find(newParent);
  if (!w || (newParent && !p) || (newParent && isAncestor(hwnd, newParent))) return nullptr;
  HWND old = w->parent;
  if (isVisibleChain(w)) invalidateScreenArea(windowRectOnScreen(w));
  unlink(w);
  w->parent = newParent;
  if (p) {
    w->style |= WS_CHILD;
    p->children.insert(p->children.begin(), hwnd);
  } else {
    w->style &= ~WS_CHILD;
    T().topLevels.insert(T().topLevels.begin(), hwnd);
  }
  invalidateTree(w);
  return old;
}

HWND GetAncestor(HWND hwnd, UINT flags) {
  Guard g(lock());
  Window* w = find(hwnd);
  if (!w) return nullptr;
  switch (flags) {
    case GA_PARENT:
      return w->parent;
    case GA_ROOT:
      return rootOf(w);
    case GA_ROOTOWNER: {
      HWND r = rootOf(w);
      while (Window* rw = find(r)) {
        if (!rw->owner) break;
        r = rootOf(find(rw->owner));
      }
      return r;
    }
  }
  return nullptr;
}

HWND GetWindow(HWND hwnd, UINT cmd) {
  Guard g(lock());
  Window* w = find(hwnd);
  if (!w) return nullptr;
  if (cmd == GW_CHILD) return w->children.empty() ? nullptr : w->children.front();
  if (cmd == GW_OWNER) return w->owner;
  auto& sib = siblingsOf(w);
  auto it = std::find(sib.begin(), sib.end(), hwnd);
  switch (cmd) {
    case GW_HWNDFIRST:
      return sib.front();
    case GW_HWNDLAST:
      return sib.back();
    case GW_HWNDNEXT:
      return it + 1 < sib.end() ? *(it + 1) : nullptr;
    case GW_HWNDPREV:
      return it > sib.begin() ? *(it - 1) : nullptr;
  }
  return nullptr;
}

HWND GetDlgItem(HWND dialog, int id) {
  Guard g(lock());
  Window* w = find(dialog);
  if (!w) return nullptr;
  for (HWND c : w->children)
    if (Window* cw = find(c); cw && cw->id == UINT_PTR(id)) return c;
  return nullptr;
}

int GetDlgCtrlID(HWND hwnd) {
  Guard g(lock());
  Window* w = find(hwnd);
  return w && w->parent ? int(w->id) : 0;
}

HWND FindWindow(LPCWSTR className, LPCWSTR windowName) {
  Guard g(lock());
  for (HWND t : T().topLevels) {
    Window* w = find(t);
    if (!w) continue;
    if (className) {
      bool match = IS_INTRESOURCE(className) ? w->cls->atom == ATOM(uintptr_t(className))
                                             : sameName(w->cls->name, className);
      if (!match) continue;
    }
    if (windowName && w->text != std::u16string(windowName)) continue;
    return t;
  }
  return nullptr;
}

HWND GetDesktopWindow() { return nullptr; }

// ---- Text and data slots -------------------------------------------------

BOOL SetWindowText(HWND hwnd, LPCWSTR text) {
  return SendMessage(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : u"")) ? TRUE : FALSE;
}

int GetWindowText(HWND hwnd, LPWSTR buffer, int size) {
  if (!buffer || size <= 0) return 0;
  buffer[0] = 0;
  return int(SendMessage(hwnd, WM_GETTEXT, WPARAM(size), reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLength(HWND hwnd) { return int(SendMessage(hwnd, WM_GETTEXTLENGTH, 0, 0)); }

BOOL SetDlgItemText(HWND dialog, int id, LPCWSTR text) {
  HWND c = GetDlgItem(dialog, id);
  return c ? SetWindowText(c, text) : FALSE;
}

UINT GetDlgItemText(HWND dialog, int id, LPWSTR buffer, int size) {
  HWND c = GetDlgItem(dialog, id);
  if (!c) {
    if (buffer && size > 0) buffer[0] = 0;
    return 0;
  }
  return UINT(GetWindowText(c, buffer, size));
}

LONG_PTR GetWindowLongPtr(HWND hwnd, int index) {
  Guard g(lock());
  Window* w = find(hwnd);
  if (!w) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  switch (index) {
    case GWL_WNDPROC:
      return reinterpret_cast<LONG_PTR>(w->proc);
    case GWL_HINSTANCE:
      return reinterpret_cast<LONG_PTR>(w->instance);
    case GWL_HWNDPARENT:
      return reinterpret_cast<LONG_PTR>(w->parent ? w->parent : w->owner);
    case GWL_STYLE:
      return LONG_PTR(LONG(w->style));
    case GWL_EXSTYLE:
      return LONG_PTR(LONG(w->exStyle));
    case GWL_USERDATA:
      return w->userData;
    case GWL_ID:
      return LONG_PTR(w->id);
  }
  if (index >= 0 && size_t(index) + sizeof(LONG_PTR) <= w->extra.size()) {
    LONG_PTR v;
    std::memcpy(&v, w->extra.data() + index, sizeof v);
    return v;
  }
  if (index >= 0 && size_t(index) + sizeof(LONG) <= w->extra.size()) {
    LONG v;
    std::memcpy(&v, w->extra.data() + index, sizeof v);
    return v;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return 0;
}

LONG_PTR SetWindowLongPtr(HWND hwnd, int index, LONG_PTR value) {
  LONG_PTR old;
  bool styleChanged = false;
  {
    Guard g(lock());
    Window* w = find(hwnd);
    if (!w) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    switch (index) {
      case GWL_WNDPROC:
        old = reinterpret_cast<LONG_PTR>(w->proc);
        if (value) w->proc = reinterpret_cast<WNDPROC>(value);
        return old;
      case GWL_HINSTANCE:
        old = reinterpret_cast<LONG_PTR>(w->instance);
        w->instance = reinterpret_cast<HINSTANCE>(value);
        return old;
      case GWL_HWNDPARENT:
        old = reinterpret_cast<LONG_PTR>(w->owner);
        if (!w->parent) w->owner = reinterpret_cast<HWND>(value);
        return old;
      case GWL_STYLE: {
        old = LONG_PTR(LONG(w->style));
        // Visibility changes only through ShowWindow.
        DWORD v = (DWORD(value) & ~WS_VISIBLE) | (w->style & WS_VISIBLE);
        styleChanged = ((v ^ w->style) & (WS_VSCROLL | WS_HSCROLL | WS_BORDER | WS_CAPTION)) != 0;
        w->style = v;
        w->ncDirty = true;
        break;
      }
      case GWL_EXSTYLE:
        old = LONG_PTR(LONG(w->exStyle));
        styleChanged = ((DWORD(value) ^ w->exStyle) & WS_EX_CLIENTEDGE) != 0;
        w->exStyle = DWORD(value);
        break;
      case GWL_USERDATA:
        old = w->userData;
        w->userData = value;
        return old;
      case GWL_ID:
        old = LONG_PTR(w->id);
        w->id = UINT_PTR(value);
        return old;
      default:
        if (index >= 0 && size_t(index) + sizeof(LONG_PTR) <= w->extra.size()) {
          std::memcpy(&old, w->extra.data() + index, sizeof old);
          std::memcpy(w->extra.data() + index, &value, sizeof value);
          return old;
        }
        if (index >= 0 && size_t(index) + sizeof(LONG) <= w->extra.size()) {
          LONG o, v = LONG(value);
          std::memcpy(&o, w->extra.data() + index, sizeof o);
          std::memcpy(w->extra.data() + index, &v, sizeof v);
          return o;
        }
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (styleChanged) invalidateTree(w);
  }
  if (styleChanged) notifyGeometry(hwnd, false, true);
  return old;
}

LONG GetWindowLong(HWND hwnd, int index) { return LONG(GetWindowLongPtr(hwnd, index)); }

LONG SetWindowLong(HWND hwnd, int index, LONG value) {
  // Procedures are pointers: through the 32-bit call they would be cut.
  if (index == GWL_WNDPROC || index == GWL_HINSTANCE || index == GWL_HWNDPARENT) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return LONG(SetWindowLongPtr(hwnd, index, value));
}

DWORD GetWindowThreadProcessId(HWND hwnd, LPDWORD processId) {
  Guard g(lock());
  Window* w = find(hwnd);
  if (!w) return 0;
  if (processId) *processId = GetCurrentProcessId();
  return w->threadId;
}

namespace platform::win {

void dropThreadWindows(DWORD threadId) {
  Guard g(lock());
  std::vector<HWND> gone;
  for (auto& [_, w] : T().windows)
    if (w->threadId == threadId) gone.push_back(w->handle);
  for (HWND h : gone) {
    Window* w = find(h);
    if (!w) continue;
    if (isVisibleChain(w)) invalidateScreenArea(windowRectOnScreen(w));
    forgetWindowQuietly(h);
    std::vector<HWND> subtree;
    collect(w, subtree);
    unlink(w);
    for (HWND s : subtree) {
      killTimersOf(s);
      T().windows.erase(reinterpret_cast<uintptr_t>(s));
    }
  }
  killThreadTimers(threadId);
}

}  // namespace platform::win

namespace platform {

int enumWindows(HWND* out, int capacity) {
  Guard g(lock());
  std::vector<HWND> all;
  for (HWND t : T().topLevels)
    if (Window* w = find(t)) collect(w, all);
  for (int i = 0; i < capacity && i < int(all.size()); ++i) out[i] = all[size_t(i)];
  return int(all.size());
}

void windowSystemResetThread() {
  DWORD me = GetCurrentThreadId();
  for (;;) {
    HWND victim = nullptr;
    {
      Guard g(lock());
      for (HWND t : T().topLevels)
        if (Window* w = find(t); w && w->threadId == me && !w->destroying) {
          victim = t;
          break;
        }
    }
    if (!victim) break;
    DestroyWindow(victim);
  }
  killThreadTimers(me);
  resetInput();
  auto q = currentQueue();
  std::lock_guard<std::mutex> g(q->m);
  q->posted.clear();
  q->quit = false;
}

}  // namespace platform

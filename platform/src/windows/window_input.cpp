// Focus, activation, capture, keyboard and stylus input, dialog keys.
#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/thread.h"
#include "window_activation.h"
#include "window_internal.h"

namespace platform::win {
namespace {

struct Input {
  HWND focus = nullptr;
  HWND active = nullptr;
  HWND capture = nullptr;
  bool keys[256] = {};
  // The stylus: where and when it went down, and whether the press already
  // turned into a context menu.
  bool down = false;
  bool scrolling = false;
  HWND target = nullptr;
  POINT downAt{};
  int64_t downTime = 0;
  bool holdFired = false;
  // The last press, for double taps.
  HWND lastHwnd = nullptr;
  POINT lastAt{};
  int64_t lastTime = -1000000;
};

Input& I() {
  static Input* i = new Input;
  return *i;
}

bool wantsDoubleClicks(Window* w) { return w->cls && (w->cls->wc.style & CS_DBLCLKS); }

LPARAM clientPoint(HWND h, POINT screen) {
  POINT p = screen;
  ScreenToClient(h, &p);
  return MAKELPARAM(WORD(short(p.x)), WORD(short(p.y)));
}

void post(HWND h, UINT msg, WPARAM wParam, LPARAM lParam, POINT pt) {
  std::shared_ptr<ThreadQueue> q;
  {
    Guard g(lock());
    Window* w = find(h);
    if (!w) return;
    q = w->queue;
  }
  postTo(q, MSG{h, msg, wParam, lParam, DWORD(platform::clockMonotonicMs()), pt});
}

// The next visible top-level window to activate when `gone` stops being
// active: its owner first, else the topmost other one.
HWND nextActive(HWND gone) {
  Guard g(lock());
  Window* w = find(gone);
  if (w && w->owner) {
    Window* o = find(w->owner);
    if (o && (o->style & WS_VISIBLE) && !o->destroying) return w->owner;
  }
  for (HWND t : topLevels()) {
    Window* tw = find(t);
    if (t != gone && tw && (tw->style & WS_VISIBLE) && !tw->destroying && !(tw->exStyle & WS_EX_NOACTIVATE))
      return t;
  }
  return nullptr;
}

void collectTabStops(Window* dlg, std::vector<HWND>& out) {
  for (HWND c : dlg->children) {
    Window* cw = find(c);
    if (!cw || !(cw->style & WS_VISIBLE) || (cw->style & WS_DISABLED)) continue;
    if (cw->style & WS_TABSTOP) out.push_back(c);
    if (cw->exStyle & WS_EX_CONTROLPARENT) collectTabStops(cw, out);
  }
}

}  // namespace

void forgetWindowInput(HWND h) {
  HWND activeGone = nullptr;
  {
    Guard g(lock());
    Input& in = I();
    if (in.capture && isAncestor(h, in.capture)) in.capture = nullptr;
    if (in.target && isAncestor(h, in.target)) in.target = nullptr;
    if (in.lastHwnd && isAncestor(h, in.lastHwnd)) in.lastHwnd = nullptr;
    if (in.active && isAncestor(h, in.active)) activeGone = in.active;
  }
  if (activeGone) SetActiveWindow(nextActive(activeGone));
  HWND focus, newFocus = nullptr;
  {
    Guard g(lock());
    focus = I().focus;
    if (!focus || !isAncestor(h, focus)) return;
    Window* w = find(h);
    Window* p = w ? find(w->parent) : nullptr;
    if (p && !p->destroying && isVisibleChain(p)) newFocus = p->handle;
  }
  SetFocus(newFocus);
}

void forgetWindowQuietly(HWND h) {
  Guard g(lock());
  Input& in = I();
  for (HWND* slot : {&in.focus, &in.active, &in.capture, &in.target, &in.lastHwnd})
    if (*slot && isAncestor(h, *slot)) *slot = nullptr;
}

bool takeHold(DWORD threadId, MSG* out) {
  Guard g(lock());
  Input& in = I();
  if (!in.down || in.holdFired || in.scrolling || !in.target) return false;
  Window* w = find(in.target);
  if (!w || w->threadId != threadId) return false;
  if (platform::clockMonotonicMs() < in.downTime + platform::kTapAndHoldMs) return false;
  in.holdFired = true;
  *out = MSG{in.target, WM_CONTEXTMENU, WPARAM(in.target), MAKELPARAM(WORD(in.downAt.x), WORD(in.downAt.y)),
             DWORD(platform::clockMonotonicMs()), in.downAt};
  return true;
}

int64_t holdDue(DWORD threadId) {
  Guard g(lock());
  Input& in = I();
  if (!in.down || in.holdFired || in.scrolling || !in.target) return -1;
  Window* w = find(in.target);
  if (!w || w->threadId != threadId) return -1;
  return in.downTime + platform::kTapAndHoldMs;
}

void resetInput() {
  Guard g(lock());
  I() = Input{};
}

bool bounceActivation(HWND self, WPARAM wParam, LPARAM lParam) {
  if (LOWORD(wParam) == WA_INACTIVE) return false;
  HWND prev = reinterpret_cast<HWND>(lParam);
  if (!prev || prev == self || !IsWindow(prev)) return false;
  HWND focus = GetFocus();
  SetActiveWindow(prev);
  if (focus && IsWindow(focus) && GetFocus() != focus) SetFocus(focus);
  // Activating brought the other window to the front; the shell's own stays
  // above it.
  SetWindowPos(self, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  return true;
}

}  // namespace platform::win

using namespace platform::win;

HWND SetFocus(HWND hwnd) {
  HWND root = nullptr;
  {
    Guard g(lock());
    if (hwnd) {
      Window* w = find(hwnd);
      if (!w) return nullptr;
      root = rootOf(w);
    }
    if (I().focus == hwnd) return hwnd;
  }
  if (root && GetActiveWindow() != root) SetActiveWindow(root);
  HWND old;
  {
    Guard g(lock());
    if (hwnd && !find(hwnd)) return nullptr;
    old = I().focus;
    if (old == hwnd) return old;
    I().focus = hwnd;
  }
  if (old && IsWindow(old)) SendMessage(old, WM_KILLFOCUS, WPARAM(hwnd), 0);
  if (hwnd && GetFocus() == hwnd) SendMessage(hwnd, WM_SETFOCUS, WPARAM(old), 0);
  return old;
}

HWND GetFocus() {
  Guard g(lock());
  return I().focus;
}

HWND SetActiveWindow(HWND hwnd) {
  HWND old;
  {
    Guard g(lock());
    if (hwnd) {
      Window* w = find(hwnd);
      if (!w) return nullptr;
      hwnd = rootOf(w);
    }
    old = I().active;
    if (old == hwnd) return old;
    I().active = hwnd;
    if (hwnd) {
      auto& top = topLevels();
      auto it = std::find(top.begin(), top.end(), hwnd);
      if (it != top.begin() && it != top.end()) {
        top.erase(it);
        top.insert(top.begin(), hwnd);
        Window* w = find(hwnd);
        if (w->style & WS_VISIBLE) invalidateTree(w);
      }
    }
  }
  if (old && IsWindow(old)) SendMessage(old, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), LPARAM(hwnd));
  if (hwnd && GetActiveWindow() == hwnd) SendMessage(hwnd, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 0), LPARAM(old));
  // Keys must not go on reaching a window that is no longer active.
  HWND focus = GetFocus();
  if (focus && hwnd && GetActiveWindow() == hwnd) {
    Guard g(lock());
    if (isAncestor(hwnd, focus)) return old;
  }
  if (focus && (!hwnd || GetActiveWindow() == hwnd)) SetFocus(nullptr);
  return old;
}

HWND GetActiveWindow() {
  Guard g(lock());
  return I().active;
}

BOOL SetForegroundWindow(HWND hwnd) {
  if (!IsWindow(hwnd)) return FALSE;
  SetActiveWindow(hwnd);
  return TRUE;
}

HWND GetForegroundWindow() { return GetActiveWindow(); }

HWND SetCapture(HWND hwnd) {
  Guard g(lock());
  HWND old = I().capture;
  I().capture = find(hwnd) ? hwnd : nullptr;
  return old;
}

BOOL ReleaseCapture() {
  Guard g(lock());
  I().capture = nullptr;
  return TRUE;
}

HWND GetCapture() {
  Guard g(lock());
  return I().capture;
}

short GetKeyState(int vk) {
  Guard g(lock());
  return vk >= 0 && vk < 256 && I().keys[vk] ? short(0x8000) : 0;
}

short GetAsyncKeyState(int vk) { return GetKeyState(vk); }

UINT GetDoubleClickTime() { return 500; }

HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous) {
  Guard g(lock());
  Window* d = find(dialog);
  if (!d) return nullptr;
  std::vector<HWND> stops;
  collectTabStops(d, stops);
  if (stops.empty()) return control;
  // The control itself, or the tab stop that holds it.
  auto it = stops.end();
  for (HWND c = control; c && c != dialog; c = GetAncestor(c, GA_PARENT)) {
    it = std::find(stops.begin(), stops.end(), c);
    if (it != stops.end()) break;
  }
  if (it == stops.end()) return previous ? stops.back() : stops.front();
  size_t i = size_t(it - stops.begin()), n = stops.size();
  return stops[previous ? (i + n - 1) % n : (i + 1) % n];
}

BOOL IsDialogMessage(HWND dialog, LPMSG msg) {
  if (!dialog || !msg || !IsWindow(dialog)) return FALSE;
  if (msg->hwnd != dialog && !IsChild(dialog, msg->hwnd)) return FALSE;
  if (msg->message == WM_KEYDOWN || msg->message == WM_CHAR) {
    LRESULT code = SendMessage(msg->hwnd, WM_GETDLGCODE, msg->wParam, reinterpret_cast<LPARAM>(msg));
    if (!(code & DLGC_WANTALLKEYS)) {
      bool shift = GetKeyState(VK_SHIFT) < 0;
      if (msg->message == WM_KEYDOWN) {
        switch (msg->wParam) {
          case VK_TAB:
            if (code & DLGC_WANTTAB) break;
            SendMessage(dialog, WM_NEXTDLGCTL, shift ? 1 : 0, 0);
            return TRUE;
          case VK_UP:
          case VK_LEFT:
          case VK_DOWN:
          case VK_RIGHT:
            if (code & DLGC_WANTARROWS) break;
            SendMessage(dialog, WM_NEXTDLGCTL, (msg->wParam == VK_UP || msg->wParam == VK_LEFT) ? 1 : 0, 0);
            return TRUE;
          case VK_RETURN:
            SendMessage(dialog, WM_COMMAND, MAKEWPARAM(IDOK, 0), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
            return TRUE;
          case VK_ESCAPE:
            SendMessage(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0),
                        reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
            return TRUE;
        }
      } else {
        // The characters of keys the dialog used are not passed on.
        WPARAM ch = msg->wParam;
        if ((ch == '\t' && !(code & DLGC_WANTTAB)) || ch == '\r' || ch == 27) return TRUE;
      }
    }
  }
  TranslateMessage(msg);
  DispatchMessage(msg);
  return TRUE;
}

namespace platform {

namespace {
std::atomic<KeyFilter> g_keyFilter{nullptr};
}  // namespace

void setKeyFilter(KeyFilter filter) { g_keyFilter = filter; }

void inputKey(UINT vk, bool down) {
  if (KeyFilter f = g_keyFilter.load(); f && f(vk & 0xFF, down)) return;
  HWND target;
  LPARAM lParam;
  {
    Guard g(lock());
    Input& in = I();
    vk &= 0xFF;
    bool was = in.keys[vk];
    in.keys[vk] = down;
    target = in.focus ? in.focus : in.active;
    lParam = LPARAM(1 | (was ? (1u << 30) : 0) | (down ? 0 : (1u << 30) | (1u << 31)));
    Window* w = find(target);
    if (!w || (w->style & WS_DISABLED)) return;
  }
  post(target, down ? WM_KEYDOWN : WM_KEYUP, vk, lParam, POINT{});
}

void inputChar(WCHAR ch) {
  HWND target;
  {
    Guard g(lock());
    target = I().focus ? I().focus : I().active;
  }
  if (target) post(target, WM_CHAR, ch, 1, POINT{});
}

void inputStylusDown(int x, int y) {
  POINT pt{x, y};
  HWND target;
  UINT msg = WM_LBUTTONDOWN;
  HWND root;
  {
    Guard g(lock());
    Input& in = I();
    target = in.capture ? in.capture : WindowFromPoint(pt);
    Window* w = find(target);
    if (!w) return;
    Window* r = find(rootOf(w));
    if (r && (r->style & WS_DISABLED)) return;
    in.keys[VK_LBUTTON] = true;
    int bar;
    if (!in.capture && scrollHit(w, pt, &bar)) {
      in.down = true;
      in.scrolling = true;
      in.target = nullptr;
      root = nullptr;
      scrollPress(target, bar, pt);
      return;
    }
    int64_t now = platform::clockMonotonicMs();
    int slop = GetSystemMetrics(SM_CXDOUBLECLK);
    if (wantsDoubleClicks(w) && in.lastHwnd == target && now - in.lastTime <= GetDoubleClickTime() &&
        std::abs(x - in.lastAt.x) <= slop && std::abs(y - in.lastAt.y) <= slop) {
      msg = WM_LBUTTONDBLCLK;
      in.lastHwnd = nullptr;
    } else {
      in.lastHwnd = target;
      in.lastAt = pt;
      in.lastTime = now;
    }
    in.down = true;
    in.scrolling = false;
    in.target = target;
    in.downAt = pt;
    in.downTime = now;
    in.holdFired = false;
    root = (w->threadId == GetCurrentThreadId()) ? rootOf(w) : nullptr;
  }
  if (root && GetActiveWindow() != root) SetActiveWindow(root);
  post(target, msg, MK_LBUTTON, clientPoint(target, pt), pt);
}

void inputStylusMove(int x, int y) {
  POINT pt{x, y};
  HWND target;
  bool down;
  {
    Guard g(lock());
    Input& in = I();
    if (in.scrolling) {
      scrollDrag(pt);
      return;
    }
    down = in.down;
    int slop = GetSystemMetrics(SM_CXDOUBLECLK) * 2;
    if (down && (std::abs(x - in.downAt.x) > slop || std::abs(y - in.downAt.y) > slop)) in.holdFired = true;
    target = in.capture ? in.capture : WindowFromPoint(pt);
    if (!find(target)) return;
  }
  post(target, WM_MOUSEMOVE, down ? MK_LBUTTON : 0, clientPoint(target, pt), pt);
}

void inputStylusUp(int x, int y) {
  POINT pt{x, y};
  HWND target;
  {
    Guard g(lock());
    Input& in = I();
    in.keys[VK_LBUTTON] = false;
    bool wasScrolling = in.scrolling;
    in.down = false;
    in.scrolling = false;
    in.target = nullptr;
    if (wasScrolling) {
      scrollRelease(pt);
      return;
    }
    target = in.capture ? in.capture : WindowFromPoint(pt);
    if (!find(target)) return;
  }
  post(target, WM_LBUTTONUP, 0, clientPoint(target, pt), pt);
}

void inputWheel(int x, int y, int delta) {
  HWND target;
  {
    Guard g(lock());
    target = I().focus ? I().focus : WindowFromPoint(POINT{x, y});
    if (!find(target)) return;
  }
  post(target, WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(short(delta))), MAKELPARAM(WORD(x), WORD(y)), POINT{x, y});
}

}  // namespace platform

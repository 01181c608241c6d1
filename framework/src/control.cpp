#include "framework/control.h"

#include <dlfcn.h>

#include <string>

#include "framework/fonts.h"
#include "framework/nav_bar.h"
#include "olvaro/registrations.h"
#include "platform/module.h"

namespace fwk {

namespace {

// Each module compiles its own copy of this file (the framework's symbols are
// hidden), so the address of this function says which module we are in.
const std::u16string& classNameOfThisModule() {
  static const std::u16string name = [] {
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(&classNameOfThisModule), &info);
    return olvaro::handleName(u"KS_CTRL_%p", info.dli_fbase);
  }();
  return name;
}

void registerClassOnce() {
  WNDCLASS existing;
  if (GetClassInfo(Control::moduleInstance(), Control::moduleClassName(), &existing)) return;
  WNDCLASS wc{};
  wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = controlWindowProc;
  wc.hInstance = Control::moduleInstance();
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
  wc.lpszClassName = Control::moduleClassName();
  RegisterClass(&wc);
}

// The messages being dispatched on this thread, innermost first. They live
// on the stack, not in the object, because a handler may delete its control.
struct Dispatch {
  const Control* control;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  const Dispatch* outer;
};
// Initial-exec: the framework is linked into plug-ins that are loaded at run
// time, and a few bytes of static TLS spare every dispatch a call through
// __tls_get_addr (and the sanitizers' bookkeeping of dynamic TLS blocks,
// which has crashed the leak checker at exit).
[[gnu::tls_model("initial-exec")]] thread_local const Dispatch* t_dispatch = nullptr;

class DispatchScope {
 public:
  DispatchScope(const Control* c, UINT msg, WPARAM wParam, LPARAM lParam)
      : m_frame{c, msg, wParam, lParam, t_dispatch} {
    t_dispatch = &m_frame;
  }
  ~DispatchScope() { t_dispatch = m_frame.outer; }
  DispatchScope(const DispatchScope&) = delete;
  DispatchScope& operator=(const DispatchScope&) = delete;

 private:
  Dispatch m_frame;
};

bool sameClass(LPCWSTR a, LPCWSTR b) {
  if (a == b) return true;
  if (!a || !b || IS_INTRESOURCE(a) || IS_INTRESOURCE(b)) return false;
  return std::u16string_view(a) == std::u16string_view(b);
}

}  // namespace

LPCWSTR Control::moduleClassName() { return classNameOfThisModule().c_str(); }

HINSTANCE Control::moduleInstance() {
  static HINSTANCE self = platform::moduleOfAddress(reinterpret_cast<const void*>(&classNameOfThisModule));
  return self;
}

Control* controlFromWindow(HWND hwnd) {
  if (!hwnd) return nullptr;
  auto proc = reinterpret_cast<WNDPROC>(GetWindowLongPtr(hwnd, GWL_WNDPROC));
  if (proc != controlWindowProc) return nullptr;
  return reinterpret_cast<Control*>(GetWindowLongPtr(hwnd, GWL_USERDATA));
}

LRESULT CALLBACK controlWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if ((msg == WM_CREATE || msg == WM_INITDIALOG) && lParam) {
    void* param = msg == WM_CREATE ? reinterpret_cast<CREATESTRUCT*>(lParam)->lpCreateParams
                                   : reinterpret_cast<void*>(lParam);
    if (auto* c = static_cast<Control*>(param)) {
      c->m_hwnd = hwnd;
      SetWindowLongPtr(hwnd, GWL_USERDATA, reinterpret_cast<LONG_PTR>(c));
    }
  }
  auto* c = reinterpret_cast<Control*>(GetWindowLongPtr(hwnd, GWL_USERDATA));
  if (!c) return DefWindowProc(hwnd, msg, wParam, lParam);
  if (msg == WM_NCDESTROY) {
    // The window goes away under a live object (its parent was destroyed):
    // the object must not touch the handle again.
    LRESULT r = c->defaultProc(msg, wParam, lParam);
    c->m_hwnd = nullptr;
    SetWindowLongPtr(hwnd, GWL_USERDATA, 0);
    return r;
  }
  DispatchScope scope(c, msg, wParam, lParam);
  return c->windowProc(msg, wParam, lParam);
}

Control::Control(LPCWSTR className, LPCWSTR text, DWORD style, int x, int y, int width, int height, HWND parent,
                 HINSTANCE instance, DWORD exStyle, UINT id) {
  bool own = !className || sameClass(className, moduleClassName());
  if (own) {
    registerClassOnce();
    className = moduleClassName();
  }
  if (!instance) instance = moduleInstance();
  HWND h = CreateWindowEx(exStyle, className, text, style, x, y, width, height, parent,
                          reinterpret_cast<HMENU>(uintptr_t(id)), instance, own ? this : nullptr);
  if (!h) return;
  if (!own) {
    // A platform control: take over its procedure and pass on what we leave.
    m_hwnd = h;
    SetWindowLongPtr(h, GWL_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtr(h, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&controlWindowProc)));
  }
  m_hwnd = h;
  SendMessage(h, WM_SETFONT, reinterpret_cast<WPARAM>(smallFont()), FALSE);
}

Control::~Control() {
  HWND h = m_hwnd;
  if (!h) return;
  // Nothing may reach the half-destroyed object while its window goes.
  detach();
  DestroyWindow(h);
}

void Control::detach() {
  if (!m_hwnd) return;
  if (m_previous) SetWindowLongPtr(m_hwnd, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(m_previous));
  SetWindowLongPtr(m_hwnd, GWL_USERDATA, 0);
  m_hwnd = nullptr;
}

LRESULT Control::defaultProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!m_hwnd) return 0;
  if (m_previous) return CallWindowProc(m_previous, m_hwnd, msg, wParam, lParam);
  return DefWindowProc(m_hwnd, msg, wParam, lParam);
}

LRESULT Control::passOn(UINT msg, WPARAM wParam, LPARAM lParam) {
  for (const Dispatch* d = t_dispatch; d; d = d->outer) {
    if (d->control != this) continue;
    // Only the message this control is handling right now; a handler that
    // calls another message's default gets that message as it asked.
    if (d->msg == msg) return defaultProc(msg, d->wParam, d->lParam);
    break;
  }
  return defaultProc(msg, wParam, lParam);
}

bool Control::takesFocusOnTap() const {
  if (!m_hwnd) return false;
  if (m_focusOnTap) return true;
  // A subclassed platform control takes the focus in its own procedure.
  if (m_previous) return false;
  LONG style = GetWindowLong(m_hwnd, GWL_STYLE);
  return (style & WS_CHILD) && (style & WS_TABSTOP);
}

LRESULT Control::windowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ACTIVATE:
      return onActivate(LOWORD(wParam), HIWORD(wParam) != 0, reinterpret_cast<HWND>(lParam));
    case WM_CLOSE:
      return onClose();
    case WM_COMMAND:
      return onCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
    case WM_CONTEXTMENU:
      return onContextMenu(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
    case WM_CTLCOLORSTATIC:
      return onCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DESTROY:
      return onDestroy();
    case WM_ERASEBKGND:
      return onEraseBackground(reinterpret_cast<HDC>(wParam));
    case WM_GETDLGCODE:
      return onGetDlgCode(UINT(wParam), reinterpret_cast<MSG*>(lParam));
    case WM_HOTKEY:
      return onHotKey(int(wParam), LOWORD(lParam), HIWORD(lParam));
    case WM_HSCROLL:
      return onHScroll(LOWORD(wParam), int(HIWORD(wParam)), reinterpret_cast<HWND>(lParam));
    case WM_KEYDOWN:
    case WM_KEYUP:
      return onKey(UINT(wParam), msg == WM_KEYDOWN, lParam);
    case WM_KILLFOCUS:
      return onKillFocus(reinterpret_cast<HWND>(wParam));
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      // The handler already sees (and paints) the control focused.
      if (takesFocusOnTap() && GetFocus() != m_hwnd) {
        SetFocus(m_hwnd);
        if (!m_hwnd) return 0;  // the focus change destroyed the window
      }
      return onStylusDown(msg == WM_LBUTTONDBLCLK, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
    case WM_LBUTTONUP:
      return onStylusUp(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
    case WM_NEXTDLGCTL:
      // With lParam set, wParam names the control itself: nothing to order.
      if (LOWORD(lParam)) break;
      return onNextDlgCtl(wParam != 0);
    case WM_PAINT:
      return onPaint();
    case WM_SETFOCUS:
      return onSetFocus(reinterpret_cast<HWND>(wParam));
    case WM_SIZE:
      return onSize(UINT(wParam), LOWORD(lParam), HIWORD(lParam));
    case WM_TIMER:
      return onTimer(wParam);
    case WM_VSCROLL:
      return onVScroll(LOWORD(wParam), int(HIWORD(wParam)), reinterpret_cast<HWND>(lParam));
    case WM_MOUSEWHEEL:
      return onMouseWheel(GET_WHEEL_DELTA_WPARAM(wParam), GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
  }
  return defaultProc(msg, wParam, lParam);
}

LRESULT Control::onActivate(UINT state, bool minimized, HWND other) {
  WPARAM w = MAKEWPARAM(state, minimized ? 1 : 0);
  LPARAM l = reinterpret_cast<LPARAM>(other);
  if (!m_hwnd || (GetWindowLong(m_hwnd, GWL_STYLE) & WS_CHILD)) return passOn(WM_ACTIVATE, w, l);
  if (state == WA_INACTIVE) {
    HWND focus = GetFocus();
    m_focusWhenInactive = focus && IsChild(m_hwnd, focus) ? focus : nullptr;
    return passOn(WM_ACTIVATE, w, l);
  }
  setNavBarTitle(m_hwnd);
  HWND back = m_focusWhenInactive;
  m_focusWhenInactive = nullptr;
  if (back && IsWindow(back) && IsChild(m_hwnd, back)) {
    SetFocus(back);
    return 0;
  }
  return passOn(WM_ACTIVATE, w, l);
}

LRESULT Control::onClose() { return passOn(WM_CLOSE, 0, 0); }

LRESULT Control::onCommand(UINT id, UINT code, HWND control) {
  return passOn(WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(control));
}

LRESULT Control::onContextMenu(int x, int y) {
  return passOn(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(m_hwnd), MAKELPARAM(x, y));
}

LRESULT Control::onCtlColorStatic(HDC dc, HWND control) {
  return passOn(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control));
}

LRESULT Control::onDestroy() { return passOn(WM_DESTROY, 0, 0); }

LRESULT Control::onEraseBackground(HDC dc) { return passOn(WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0); }

LRESULT Control::onGetDlgCode(UINT key, MSG* msg) {
  return passOn(WM_GETDLGCODE, key, reinterpret_cast<LPARAM>(msg));
}

LRESULT Control::onHotKey(int id, UINT modifiers, UINT key) {
  return passOn(WM_HOTKEY, WPARAM(id), MAKELPARAM(modifiers, key));
}

LRESULT Control::onHScroll(UINT code, int pos, HWND bar) {
  return passOn(WM_HSCROLL, MAKEWPARAM(code, pos), reinterpret_cast<LPARAM>(bar));
}

LRESULT Control::onKey(UINT key, bool down, LPARAM repeatData) {
  return passOn(down ? WM_KEYDOWN : WM_KEYUP, key, repeatData);
}

LRESULT Control::onKillFocus(HWND next) { return passOn(WM_KILLFOCUS, reinterpret_cast<WPARAM>(next), 0); }

LRESULT Control::onStylusDown(bool doubleTap, int x, int y) {
  return passOn(doubleTap ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
}

LRESULT Control::onStylusUp(int x, int y) { return passOn(WM_LBUTTONUP, 0, MAKELPARAM(x, y)); }

LRESULT Control::onNextDlgCtl(bool previous) { return passOn(WM_NEXTDLGCTL, previous ? 1 : 0, 0); }

LRESULT Control::onPaint() { return passOn(WM_PAINT, 0, 0); }

LRESULT Control::onSetFocus(HWND previous) {
  return passOn(WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
}

LRESULT Control::onSize(UINT kind, int width, int height) {
  return passOn(WM_SIZE, kind, MAKELPARAM(width, height));
}

LRESULT Control::onTimer(UINT_PTR id) { return passOn(WM_TIMER, id, 0); }

LRESULT Control::onVScroll(UINT code, int pos, HWND bar) {
  return passOn(WM_VSCROLL, MAKEWPARAM(code, pos), reinterpret_cast<LPARAM>(bar));
}

LRESULT Control::onMouseWheel(int delta, int x, int y) {
  return passOn(WM_MOUSEWHEEL, MAKEWPARAM(0, delta), MAKELPARAM(x, y));
}

}  // namespace fwk

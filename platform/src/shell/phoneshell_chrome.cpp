// The device screen's frame: the title bar with the active window's title,
// the tray icons and the Done button; the work area; dialog
// initialisation; the input panel, gestures, vibration and the LED; and the
// table of shell functions found by name in "aygshell.dll".
#include <algorithm>
#include <map>
#include <mutex>
#include <set>

#include "control_internal.h"
#include "dc_selection.h"
#include "menu_internal.h"
#include "phoneshell_internal.h"
#include "platform/clock.h"
#include "platform/module.h"
#include "platform/screen.h"
#include "shell_font.h"
#include "window_activation.h"

namespace platform {
// Present when the window system offers the key hook.
void setKeyFilter(bool (*filter)(UINT, bool)) __attribute__((weak));
}  // namespace platform

namespace platform::shell {
namespace {

constexpr COLORREF kLedColour = RGB(40, 220, 60);
constexpr COLORREF kVibrateColour = RGB(255, 140, 0);

struct Chrome {
  std::recursive_mutex m;
  HWND title = nullptr;
  std::map<HWND, std::u16string> navText;
  std::set<HWND> doneButton;
  std::map<HWND, WNDPROC> watched;
  std::map<HWND, HWND> lastFocus;
  SIPSTATE sip = SIP_DOWN;
  bool vibrating = false;
  std::map<UINT, int> leds;
  std::vector<ShellSignal> signals;  // every change, for tests
  void signal(const ShellSignal& x) {
    if (signals.size() >= 256) signals.erase(signals.begin());  // bounded in long runs
    signals.push_back(x);
  }
};

Chrome& C() {
  static Chrome* c = new Chrome;
  return *c;
}

RECT doneRect() {
  int h = shellTitleHeight();
  int w = screenWidth();
  return RECT{w - h * 3 / 2, 0, w, h};
}

bool hasDone(HWND app) {
  std::lock_guard<std::recursive_mutex> g(C().m);
  return app && C().doneButton.count(app) != 0;
}

HFONT titleFont() {
  static HFONT f = gdi::createShellFont(std::max(10, shellTitleHeight() * 11 / 20), FW_BOLD);
  return f;
}

HWND activeApp() { return appWindowOf(GetActiveWindow()); }

// The motor and the LED shown in the title bar: an orange bar while
// vibrating, a green dot per lit LED. Returns the new right edge.
int paintSignals(HDC dc, int right, int height) {
  bool vibrating;
  int lit = 0;
  {
    std::lock_guard<std::recursive_mutex> g(C().m);
    vibrating = C().vibrating;
    for (auto& [led, state] : C().leds)
      if (state != 0) ++lit;
  }
  int size = std::max(4, height / 3);
  int top = (height - size) / 2;
  for (int i = 0; i < lit; ++i) {
    RECT dot{right - size, top, right, top + size};
    HBRUSH b = CreateSolidBrush(kLedColour);
    FillRect(dc, &dot, b);
    DeleteObject(b);
    right -= size + 2;
  }
  if (vibrating) {
    RECT bar{right - size * 2, top, right, top + size};
    HBRUSH b = CreateSolidBrush(kVibrateColour);
    FillRect(dc, &bar, b);
    DeleteObject(b);
    right -= size * 2 + 2;
  }
  return right;
}

void paintTitle(HWND h) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, &ps);
  RECT rc;
  GetClientRect(h, &rc);
  HBRUSH bg = CreateSolidBrush(kBarColour);
  FillRect(dc, &rc, bg);
  DeleteObject(bg);
  int height = rc.bottom;
  int right = rc.right - 2;
  HWND app = activeApp();
  {
    gdi::DcSelection font(dc, titleFont());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kBarText);
    if (hasDone(app)) {
      RECT d = doneRect();
      RECT face = d;
      InflateRect(&face, -2, -3);
      HBRUSH b = CreateSolidBrush(RGB(60, 110, 190));
      FillRect(dc, &face, b);
      DeleteObject(b);
      DrawText(dc, u"ok", 2, &face, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
      right = d.left - 2;
    }
    int iconSize = std::min(16, height - 4);
    right = paintTray(dc, right, (height - iconSize) / 2, iconSize);
    right = paintSignals(dc, right, height);
    std::u16string title = shellTitleText();
    RECT tr{4, 0, right - 2, height};
    DrawText(dc, title.c_str(), int(title.size()), &tr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
  }
  EndPaint(h, &ps);
}

LRESULT CALLBACK titleProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT:
      paintTitle(h);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_ACTIVATE:
      win::bounceActivation(h, wParam, lParam);
      return 0;
    case WM_LBUTTONDOWN: {
      int x = GET_X_LPARAM(lParam);
      RECT d = doneRect();
      HWND app = activeApp();
      if (hasDone(app) && x >= d.left) {
        SendMessage(app, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
        return 0;
      }
      trayTap(x);
      return 0;
    }
    case WM_DESTROY: {
      std::lock_guard<std::recursive_mutex> g(C().m);
      if (C().title == h) C().title = nullptr;
      return 0;
    }
  }
  return DefWindowProc(h, msg, wParam, lParam);
}

LRESULT CALLBACK watchProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  WNDPROC prev;
  {
    std::lock_guard<std::recursive_mutex> g(C().m);
    auto it = C().watched.find(h);
    prev = it == C().watched.end() ? DefWindowProc : it->second;
    if (msg == WM_ACTIVATE && LOWORD(wParam) == WA_INACTIVE) {
      HWND f = GetFocus();
      if (f && (f == h || IsChild(h, f))) C().lastFocus[h] = f;
    }
  }
  LRESULT r = CallWindowProc(prev, h, msg, wParam, lParam);
  switch (msg) {
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE) {
        if (HWND bar = SHFindMenuBar(h)) {
          SetWindowPos(bar, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
          InvalidateRect(bar, nullptr, TRUE);
        }
        if (HWND t = shellTitleBar()) SetWindowPos(t, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      }
      titleChanged();
      break;
    case WM_SETTEXT:
      titleChanged();
      break;
    case WM_NCDESTROY: {
      std::lock_guard<std::recursive_mutex> g(C().m);
      C().watched.erase(h);
      C().lastFocus.erase(h);
      C().navText.erase(h);
      C().doneButton.erase(h);
      break;
    }
  }
  return r;
}

void installKeyFilter() {
  static bool once = [] {
    if (&platform::setKeyFilter) platform::setKeyFilter(softKeyFilter);
    return true;
  }();
  (void)once;
}

}  // namespace

HWND appWindowOf(HWND h) {
  if (!h) return nullptr;
  HWND root = GetAncestor(h, GA_ROOT);
  return root ? root : h;
}

void titleChanged() {
  if (HWND t = shellTitleBar()) InvalidateRect(t, nullptr, TRUE);
}

void watchWindow(HWND top) {
  installKeyFilter();
  top = appWindowOf(top);
  if (!top) return;
  std::lock_guard<std::recursive_mutex> g(C().m);
  if (C().watched.count(top)) return;
  auto prev = reinterpret_cast<WNDPROC>(GetWindowLongPtr(top, GWLP_WNDPROC));
  if (!prev || prev == watchProc) return;
  C().watched[top] = prev;
  SetWindowLongPtr(top, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(watchProc));
  shellTitleBar();
}

}  // namespace platform::shell

namespace platform {

using namespace shell;

int shellTitleHeight() { return std::max(16, screenDpi() * 18 / 96); }
int shellSoftKeyHeight() { return std::max(18, screenDpi() * 20 / 96); }

RECT shellWorkArea() {
  return RECT{0, shellTitleHeight(), screenWidth(), std::max(shellTitleHeight(), screenHeight() - shellSoftKeyHeight())};
}

HWND shellTitleBar() {
  std::lock_guard<std::recursive_mutex> g(C().m);
  if (C().title && IsWindow(C().title)) return C().title;
  static bool registered = [] {
    WNDCLASS wc{};
    wc.lpfnWndProc = titleProc;
    wc.lpszClassName = u"HHTaskBar";
    return RegisterClass(&wc) != 0;
  }();
  (void)registered;
  installKeyFilter();
  HWND t = CreateWindowEx(WS_EX_TOPMOST | WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW, u"HHTaskBar", u"", WS_POPUP, 0, 0,
                          screenWidth(), shellTitleHeight(), nullptr, nullptr, nullptr, nullptr);
  C().title = t;
  if (t) ShowWindow(t, SW_SHOWNA);
  return t;
}

std::u16string shellTitleText() {
  HWND app = activeApp();
  if (!app) return u"";
  {
    std::lock_guard<std::recursive_mutex> g(C().m);
    auto it = C().navText.find(app);
    if (it != C().navText.end()) return it->second;
  }
  return controls::textOf(app);
}

SIPSTATE shellSipState() {
  std::lock_guard<std::recursive_mutex> g(C().m);
  return C().sip;
}

bool shellVibrating() {
  std::lock_guard<std::recursive_mutex> g(C().m);
  return C().vibrating;
}

std::vector<ShellSignal> shellSignals() {
  std::lock_guard<std::recursive_mutex> g(C().m);
  return C().signals;
}

void shellSignalsReset() {
  std::lock_guard<std::recursive_mutex> g(C().m);
  C().signals.clear();
  C().vibrating = false;
  C().leds.clear();
  desktopRecordReset();
}

int shellLedState(UINT led) {
  std::lock_guard<std::recursive_mutex> g(C().m);
  auto it = C().leds.find(led);
  return it == C().leds.end() ? 0 : it->second;
}

}  // namespace platform

using namespace platform;
using namespace platform::shell;

BOOL SHInitDialog(SHINITDLGINFO* info) {
  if (!info || !(info->dwMask & SHIDIM_FLAGS) || !IsWindow(info->hDlg)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  HWND dlg = info->hDlg;
  DWORD f = info->dwFlags;
  watchWindow(dlg);
  RECT work = shellWorkArea();
  if (f & SHIDIF_FULLSCREENNOMENUBAR) {
    MoveWindow(dlg, 0, work.top, screenWidth(), screenHeight() - work.top, TRUE);
  } else if (f & (SHIDIF_SIZEDLG | SHIDIF_SIZEDLGFULLSCREEN)) {
    MoveWindow(dlg, work.left, work.top, work.right - work.left, work.bottom - work.top, TRUE);
  }
  {
    std::lock_guard<std::recursive_mutex> g(C().m);
    if (f & SHIDIF_DONEBUTTON) C().doneButton.insert(dlg);
    else C().doneButton.erase(dlg);
    if (f & SHIDIF_SIPDOWN) C().sip = SIP_DOWN;
  }
  if (f & SHIDIF_EMPTYMENU) {
    SHMENUBARINFO mb{sizeof(SHMENUBARINFO), dlg, SHCMBF_EMPTYBAR, 0, nullptr, 0, 0, nullptr, 0};
    SHCreateMenuBar(&mb);
  }
  titleChanged();
  return TRUE;
}

BOOL SHDoneButton(HWND hwnd, DWORD state) {
  if (!IsWindow(hwnd)) return FALSE;
  {
    std::lock_guard<std::recursive_mutex> g(C().m);
    if (state == SHDB_SHOW) C().doneButton.insert(appWindowOf(hwnd));
    else if (state == SHDB_HIDE) C().doneButton.erase(appWindowOf(hwnd));
    else return FALSE;
  }
  watchWindow(hwnd);
  titleChanged();
  return TRUE;
}

BOOL SHSetNavBarText(HWND hwnd, LPCWSTR text) {
  if (!IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  HWND app = appWindowOf(hwnd);
  {
    std::lock_guard<std::recursive_mutex> g(C().m);
    C().navText[app] = text ? std::u16string(text) : std::u16string();
  }
  watchWindow(app);
  titleChanged();
  return TRUE;
}

BOOL SHSipPreference(HWND hwnd, SIPSTATE state) {
  if (hwnd && !IsWindow(hwnd)) return FALSE;
  std::lock_guard<std::recursive_mutex> g(C().m);
  if (state == SIP_UP || state == SIP_DOWN || state == SIP_INPUTDIALOG) C().sip = state;
  if (state == SIP_FORCEDOWN) C().sip = SIP_DOWN;
  return TRUE;
}

BOOL SHHandleWMActivate(HWND hwnd, WPARAM wParam, LPARAM, SHACTIVATEINFO* info, DWORD) {
  if (!info) return FALSE;
  info->fActive = LOWORD(wParam) != WA_INACTIVE;
  if (!info->fActive) info->hwndLastFocus = GetFocus();
  (void)hwnd;
  return TRUE;
}

BOOL SHHandleWMSettingChange(HWND, WPARAM, LPARAM, SHACTIVATEINFO* info) { return info ? TRUE : FALSE; }

DWORD SHRecognizeGesture(SHRGINFO* info) {
  if (!info || !IsWindow(info->hwndClient)) return 0;
  if (!(info->dwFlags & SHRG_RETURNCMD)) return 0;
  // Wait while the stylus rests: the platform turns a long rest into
  // WM_CONTEXTMENU for the window under it, which is the answer here.
  bool held = false, ended = false;
  HWND client = info->hwndClient;
  menus::runModal(
      client,
      [&](MSG& m) {
        if (m.message == WM_CONTEXTMENU && (m.hwnd == client || IsChild(client, m.hwnd))) {
          held = true;
          return true;
        }
        if (m.message == WM_LBUTTONUP || m.message == WM_LBUTTONDOWN) {
          ended = true;
          PostMessage(m.hwnd, m.message, m.wParam, m.lParam);  // still for the window
          return true;
        }
        if (m.message == WM_MOUSEMOVE) {
          int slop = GetSystemMetrics(SM_CXDOUBLECLK) * 2;
          if (std::abs(m.pt.x - info->ptDown.x) > slop || std::abs(m.pt.y - info->ptDown.y) > slop) ended = true;
        }
        return false;
      },
      [&] { return held || ended || !(GetKeyState(VK_LBUTTON) < 0); });
  return held ? GN_CONTEXTMENU : 0;
}

HRESULT Vibrate(DWORD, const void*, BOOL, DWORD) {
  {
    std::lock_guard<std::recursive_mutex> g(C().m);
    C().vibrating = true;
    C().signal(ShellSignal{clockMonotonicMs(), true, 0, 1});
  }
  titleChanged();
  if (DeviceBackend* b = deviceBackend()) b->vibrate(true);
  return S_OK;
}

HRESULT VibrateStop() {
  {
    std::lock_guard<std::recursive_mutex> g(C().m);
    C().vibrating = false;
    C().signal(ShellSignal{clockMonotonicMs(), true, 0, 0});
  }
  titleChanged();
  if (DeviceBackend* b = deviceBackend()) b->vibrate(false);
  return S_OK;
}

BOOL NLedSetDevice(UINT deviceId, void* input) {
  if (deviceId != NLED_SETTINGS_INFO_ID || !input) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* s = static_cast<NLED_SETTINGS_INFO*>(input);
  if (s->OffOnBlink < 0 || s->OffOnBlink > 2) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  {
    std::lock_guard<std::recursive_mutex> g(C().m);
    C().leds[s->LedNum] = s->OffOnBlink;
    C().signal(ShellSignal{clockMonotonicMs(), false, s->LedNum, s->OffOnBlink});
  }
  titleChanged();
  if (DeviceBackend* b = deviceBackend()) b->setLed(s->LedNum, s->OffOnBlink);
  return TRUE;
}

namespace {

// The shell functions a module may look up by name.
const bool g_exports = [] {
  auto add = [](const char* name, auto* fn) { registerShellExport(name, reinterpret_cast<FARPROC>(fn)); };
  add("SHCreateMenuBar", &SHCreateMenuBar);
  add("SHFindMenuBar", &SHFindMenuBar);
  add("SHInitDialog", &SHInitDialog);
  add("SHDoneButton", &SHDoneButton);
  add("SHSetNavBarText", &SHSetNavBarText);
  add("SHSipPreference", &SHSipPreference);
  add("SHHandleWMActivate", &SHHandleWMActivate);
  add("SHHandleWMSettingChange", &SHHandleWMSettingChange);
  add("SHRecognizeGesture", &SHRecognizeGesture);
  add("SHSendBackToFocusWindow", &SHSendBackToFocusWindow);
  add("SHNotificationAdd", &SHNotificationAdd);
  add("SHNotificationUpdate", &SHNotificationUpdate);
  add("SHNotificationRemove", &SHNotificationRemove);
  add("Vibrate", &Vibrate);
  add("VibrateStop", &VibrateStop);
  return true;
}();

}  // namespace

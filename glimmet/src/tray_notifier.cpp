#include "tray_notifier.h"

#include <cstring>

#include "framework/fonts.h"
#include "olvaro/api.h"
#include "olvaro/connection_state.h"
#include "platform/bitmap.h"
#include "platform/desktop.h"
#include "platform/resources.h"
#include "platform/systime.h"

namespace glimmet {

const char16_t kBubbleHtml[] =
    u"You have Olvaro messages waiting<br /><br /><table width='100%'><tr><td width='50%'><input type='button' "
    u"name='cmd:10' value='Open Olvaro' style='width: 100%'></td><td width='50%'><input type='button' "
    u"name='cmd:11' value='Dismiss' style='width: 100%'></td></tr></table>";
const char16_t kBubbleTitle[] = u"Olvaro Messages";

namespace {

constexpr char kUnreadVariant[] = "messages.unread";
constexpr DWORD kBubbleFlags = SHNF_STRAIGHTTOTRAY | SHNF_SILENT;

HICON loadIcon(HINSTANCE module, LPCWSTR name, int cx, int cy) {
  return static_cast<HICON>(LoadImage(module, name, IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR));
}

void destroyIcon(HICON& icon) {
  if (icon) DestroyIcon(icon);
  icon = nullptr;
}

bool onSmartPhone() {
  char name[32] = {};
  KS_GetPlatformName(name);
  return std::strcmp(name, "SmartPhone") == 0;
}

}  // namespace

TrayNotifier::TrayNotifier() {
  HINSTANCE module = platform::currentModule();
  WNDCLASS wc{};
  // The class outlives a stop and start of the plug-in; register it once.
  if (!GetClassInfo(module, kSinkWindowClass, &wc)) {
    wc = WNDCLASS{};
    wc.lpfnWndProc = sinkProc;
    wc.hInstance = module;
    wc.lpszClassName = kSinkWindowClass;
    RegisterClass(&wc);
  }
  sinkWindow_ = CreateWindowEx(0, kSinkWindowClass, u"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, module, this);
  if (sinkWindow_) SendMessage(sinkWindow_, WM_SETFONT, reinterpret_cast<WPARAM>(fwk::smallFont()), FALSE);

  HINSTANCE host = GetModuleHandle(nullptr);
  firstIcon_ = loadIcon(host, u"AA_ORVALO", 16, 16);
  iconData_.cbSize = sizeof iconData_;
  iconData_.hWnd = sinkWindow_;
  iconData_.uID = kTrayIconId;
  iconData_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  iconData_.uCallbackMessage = kTrayCallbackMessage;
  iconData_.hIcon = firstIcon_;
  iconAdded_ = sinkWindow_ && Shell_NotifyIcon(NIM_ADD, &iconData_);
  if (iconAdded_)
    platform::shellDesktopTrayMenu(sinkWindow_, kTrayIconId, platform::loadStringWide(module, kOpenText),
                                   platform::loadStringWide(module, kExitText));

  int cx = GetSystemMetrics(SM_CXSMICON), cy = GetSystemMetrics(SM_CYSMICON);
  if (onSmartPhone()) {
    offlineIcon_ = loadIcon(module, MAKEINTRESOURCE(103), cx, cy);
    onlineIcon_ = loadIcon(module, MAKEINTRESOURCE(101), cx, cy);
    unreadIcon_ = loadIcon(module, MAKEINTRESOURCE(102), cx, cy);
  } else {
    offlineIcon_ = loadIcon(host, u"ORVALO_GRAY", cx, cy);
    onlineIcon_ = loadIcon(host, u"AA_ORVALO", cx, cy);
    unreadIcon_ = loadIcon(host, u"MESSAGE_UNREAD", cx, cy);
  }

  stateSubscription_ = olvaro::subscribeVariant<&TrayNotifier::refreshIcon>(olvaro::kConnectionStateVariant, this);
  unreadSubscription_ = olvaro::subscribeVariant<&TrayNotifier::unreadChanged>(kUnreadVariant, this);
  refreshIcon();
  // Messages already waiting blink from the start; the bubble is kept for a
  // change of the count.
  if (sinkWindow_ && KS_GetVariantLong(kUnreadVariant) != 0) SetTimer(sinkWindow_, kBlinkTimer, kBlinkMs, nullptr);
}

TrayNotifier::~TrayNotifier() {
  stateSubscription_.reset();
  unreadSubscription_.reset();
  removeBubble();
  // The shell lets go of the icon before it is destroyed, so it never
  // draws a dead one.
  if (iconAdded_) Shell_NotifyIcon(NIM_DELETE, &iconData_);
  iconAdded_ = false;
  destroyIcon(offlineIcon_);
  destroyIcon(onlineIcon_);
  destroyIcon(unreadIcon_);
  destroyIcon(firstIcon_);
  if (sinkWindow_) {
    SetWindowLongPtr(sinkWindow_, GWLP_USERDATA, 0);
    DestroyWindow(sinkWindow_);
  }
  sinkWindow_ = nullptr;
}

void TrayNotifier::unreadChanged() {
  refreshIcon();
  if (KS_GetVariantLong(kUnreadVariant) == 0) {
    removeBubble();
    if (sinkWindow_) KillTimer(sinkWindow_, kBlinkTimer);
    return;
  }
  if (sinkWindow_) SetTimer(sinkWindow_, kBlinkTimer, kBlinkMs, nullptr);
  // A bubble already shown stays as it is: its text carries no count.
  if (!bubbleShown_) showBubble();
}

void TrayNotifier::refreshIcon() {
  HICON steady = KS_GetVariantLong(olvaro::kConnectionStateVariant) == olvaro::kSignedIn ? onlineIcon_ : offlineIcon_;
  bool unread = KS_GetVariantLong(kUnreadVariant) != 0;
  HICON icon = unread && (GetTickCount() / kBlinkMs) % 2 == 1 ? unreadIcon_ : steady;
  if (!iconAdded_) return;
  iconData_.hIcon = icon;
  Shell_NotifyIcon(NIM_MODIFY, &iconData_);
  // A desktop's tray does its own blinking: it is told that messages wait.
  platform::shellDesktopTrayLook(sinkWindow_, kTrayIconId, steady, unreadIcon_, unread);
}

void TrayNotifier::showBubble() {
  bubble_ = SHNOTIFICATIONDATA{};
  bubble_.cbStruct = sizeof bubble_;
  bubble_.dwID = kBubbleId;
  bubble_.npPriority = SHNP_INFORMATION;
  bubble_.csDuration = 0;
  bubble_.hicon = unreadIcon_;
  bubble_.grfFlags = kBubbleFlags;
  bubble_.clsid = kBubbleClass;
  bubble_.hwndSink = sinkWindow_;
  bubble_.pszHTML = kBubbleHtml;
  bubble_.pszTitle = kBubbleTitle;
  bubble_.lParam = 0;
  bubbleShown_ = SHNotificationAdd(&bubble_) == ERROR_SUCCESS;
}

void TrayNotifier::removeBubble() {
  if (!bubbleShown_) return;
  SHNotificationRemove(&bubble_.clsid, bubble_.dwID);
  bubbleShown_ = false;
}

void TrayNotifier::activateProgram() {
  static const UINT activate = RegisterWindowMessage(u"ORVALO_ACTIVATE");
  PostMessage(HWND_BROADCAST, activate, 0, 0);
}

LRESULT CALLBACK TrayNotifier::sinkProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCT*>(lParam);
    SetWindowLongPtr(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TrayNotifier*>(GetWindowLongPtr(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProc(hwnd, msg, wParam, lParam);
  return self->handle(hwnd, msg, wParam, lParam);
}

LRESULT TrayNotifier::handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_TIMER:
      if (wParam != kBlinkTimer) break;
      refreshIcon();
      return 0;
    case kTrayCallbackMessage:
      if (lParam == WM_LBUTTONDOWN || lParam == WM_LBUTTONDBLCLK) activateProgram();
      removeBubble();
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == kOpenCommand) activateProgram();
      removeBubble();
      return 0;
  }
  return DefWindowProc(hwnd, msg, wParam, lParam);
}

}  // namespace glimmet

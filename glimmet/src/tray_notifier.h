// The tray icon and the unread-message bubble: grey while signed out,
// coloured while signed in, blinking with the unread icon while messages
// wait, and a bubble whose buttons open the program or dismiss it.
#pragma once

#include "olvaro/registrations.h"
#include "platform/phoneshell.h"
#include "platform/window.h"

namespace glimmet {

inline constexpr char16_t kSinkWindowClass[] = u"KS_GLIMMET_SINK_WINDOW";
inline constexpr UINT kTrayIconId = 0x8000;
inline constexpr UINT kTrayCallbackMessage = 0x8000;
inline constexpr UINT_PTR kBlinkTimer = 1;
inline constexpr UINT kBlinkMs = 750;
inline constexpr DWORD kBubbleId = 1;
inline constexpr WORD kOpenCommand = 10;
inline constexpr WORD kDismissCommand = 11;
// The string table's words for the desktop tray's menu.
inline constexpr UINT kOpenText = 120;
inline constexpr UINT kExitText = 121;
// {F41153EC-18E4-4D68-B1F3-E122F476D0EC}
inline constexpr CLSID kBubbleClass = {0xF41153EC, 0x18E4, 0x4D68, {0xB1, 0xF3, 0xE1, 0x22, 0xF4, 0x76, 0xD0, 0xEC}};
extern const char16_t kBubbleHtml[];
extern const char16_t kBubbleTitle[];

class TrayNotifier {
 public:
  TrayNotifier();
  ~TrayNotifier();
  TrayNotifier(const TrayNotifier&) = delete;
  TrayNotifier& operator=(const TrayNotifier&) = delete;

  HWND sinkWindow() const { return sinkWindow_; }
  bool bubbleShown() const { return bubbleShown_; }

 private:
  static LRESULT CALLBACK sinkProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

  LRESULT handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void unreadChanged();
  void refreshIcon();
  void showBubble();
  void removeBubble();
  void activateProgram();

  HWND sinkWindow_ = nullptr;
  NOTIFYICONDATA iconData_{};
  bool iconAdded_ = false;
  HICON firstIcon_ = nullptr;
  HICON offlineIcon_ = nullptr;
  HICON onlineIcon_ = nullptr;
  HICON unreadIcon_ = nullptr;
  SHNOTIFICATIONDATA bubble_{};
  bool bubbleShown_ = false;
  olvaro::VariantSubscription stateSubscription_;
  olvaro::VariantSubscription unreadSubscription_;
};

}  // namespace glimmet

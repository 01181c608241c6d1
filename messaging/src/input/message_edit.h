// The Text tab's input: a capitalising multi-line box that shows a hint
// while empty and unfocused, sends on Enter and breaks the line on
// Shift+Enter.
#pragma once

#include "framework/control.h"

namespace messaging {

class MessageEdit : public fwk::Control {
 public:
  MessageEdit(HWND parent, HWND window);
  // Sends the text as a new message to the window and clears the box;
  // nothing when the box is empty.
  void send();
  static constexpr COLORREF kHintColor = 0x00E0E0E0;  // RGB(224, 224, 224)

  LRESULT windowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 protected:
  LRESULT onKey(UINT key, bool down, LPARAM repeatData) override;
  LRESULT onPaint() override;
  LRESULT onSetFocus(HWND previous) override;
  LRESULT onKillFocus(HWND next) override;

 private:
  bool empty() const { return GetWindowTextLength(hwnd()) == 0; }
  HWND m_window;
  bool m_focused = false;
};

}  // namespace messaging

// What the Voice and Photo tabs' buttons share: Left, Right and Back go to
// the conversation window, Up and Down move the focus, the stylus takes the
// focus, and the face: grey, an edge two pixels in (sunken while pressed),
// the label centred in bold, the focus rectangle four pixels in.
#pragma once

#include "framework/control.h"

namespace messaging {

class InputButton : public fwk::Control {
 protected:
  // `window` is the conversation window the button's messages go to.
  InputButton(HWND parent, HWND window);

  HWND window() const { return m_window; }
  // Paints the whole button inside a WM_PAINT; `textId` is the label's
  // string resource.
  void paintFace(UINT textId, bool sunken);

  LRESULT onGetDlgCode(UINT key, MSG* msg) override;
  // The navigation keys; the buttons handle their action keys first.
  LRESULT onKey(UINT key, bool down, LPARAM repeatData) override;
  LRESULT onSetFocus(HWND previous) override;
  LRESULT onKillFocus(HWND next) override;
  LRESULT onEraseBackground(HDC) override { return 1; }

 private:
  HWND m_window;
  bool m_focused = false;
};

}  // namespace messaging

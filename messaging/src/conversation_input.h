// How an input control hands a new message to its conversation window:
// wParam the control's window, lParam the message handle (the sender keeps
// and releases its own reference).
#pragma once

#include "platform/window.h"

namespace messaging {

constexpr UINT kInputMessage = WM_APP;

// Moves the focus on from `control` among its layout's controls.
void focusNextControl(HWND control, bool previous);

}  // namespace messaging

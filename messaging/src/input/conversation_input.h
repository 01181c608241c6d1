// How an input control hands a new message to its conversation window:
// wParam the control's window, lParam the message handle (the sender keeps
// and releases its own reference).
#pragma once

#include <optional>
#include <string_view>

#include "olvaro/api.h"
#include "platform/window.h"

namespace messaging {

constexpr UINT kInputMessage = WM_APP;

// Moves the focus on from `control` among its layout's controls.
void focusNextControl(HWND control, bool previous);

// A new message of the user's with a fresh id: complete with `payload`, or
// without one left open for its bytes to be appended as they are made (a
// recording, a photo). Null when the hub refuses it.
HMessage* createInputMessage(const char* contentType, std::optional<std::string_view> payload = std::nullopt);

}  // namespace messaging

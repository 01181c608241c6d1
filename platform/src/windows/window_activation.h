// Activation as the shell's own windows and the menus need it.
#pragma once

#include "platform/window.h"

namespace platform::win {

// For WM_ACTIVATE of a window that must not keep the activation (a tapped
// shell bar, a menu): gives it back to the window that had it, with its
// focus, and keeps `self` on top. False when there was nothing to give back.
bool bounceActivation(HWND self, WPARAM wParam, LPARAM lParam);

}  // namespace platform::win

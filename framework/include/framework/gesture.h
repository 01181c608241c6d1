// The shell's tap-and-hold recogniser, looked up by name so a shell without
// it simply never reports a hold.
#pragma once

#include "platform/types.h"

namespace fwk {

// True when the shell recognised a press at (x, y), client coordinates of
// `hwnd`, as tap-and-hold (a context-menu gesture).
bool recognizeTapAndHold(HWND hwnd, int x, int y);

}  // namespace fwk

// The title in the shell's navigation bar. The shell function is looked up
// by name each time, so a shell without it leaves the title alone.
#pragma once

#include "platform/types.h"

namespace fwk {

// Most the navigation bar shows of a window's title.
constexpr int kNavBarTitleMax = 127;

// Shows the window's own title (cut to kNavBarTitleMax characters) for its
// parent, or for the window itself when it has none. False when the shell
// offers no such function or refuses.
bool setNavBarTitle(HWND hwnd);

}  // namespace fwk

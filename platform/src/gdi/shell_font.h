// The face the device's own screens (title bar, soft keys, message boxes,
// the default GUI font) are drawn in.
#pragma once

#include "platform/gdi.h"

namespace platform::gdi {

// A new font of that face, `pixelHeight` pixels to the em; the caller owns it.
HFONT createShellFont(int pixelHeight, LONG weight);

}  // namespace platform::gdi

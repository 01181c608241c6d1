// The three fonts every window of a module shares, sized by the screen's
// vertical DPI when first asked for. They live as long as the module.
#pragma once

#include "platform/types.h"

namespace fwk {

// The screen's logical pixels per inch, vertically.
int screenDpi();

// A new font of `face` whose characters are `decipoints` tenths of a point
// high at the screen's DPI (so 85 is DPI * 17 / 144 pixels). The caller
// deletes it. A face longer than a font can name is cut short.
HFONT createFont(LPCWSTR face, int decipoints, LONG weight);

HFONT smallFont();    // DPI * 17 / 144 pixels, normal
HFONT regularFont();  // DPI * 16 / 144 pixels, normal
HFONT boldFont();     // DPI * 16 / 144 pixels, weight 700

}  // namespace fwk

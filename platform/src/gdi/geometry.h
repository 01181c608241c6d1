// Rectangle arithmetic and the sizes that follow the screen's DPI, shared by
// drawing and the window system.
#pragma once

#include "platform/window.h"

namespace platform::gdi {

bool rectEmpty(const RECT& r);
// Empty results are all zero.
RECT rectIntersect(const RECT& a, const RECT& b);
RECT rectUnion(const RECT& a, const RECT& b);

// A size given for 96 DPI at the screen's DPI, at least one pixel.
int scaledMetric(int base);
int scrollBarWidth();

}  // namespace platform::gdi

// The screen's drawing surface, for the GDI and paint sources.
#pragma once

#include <cairo.h>

#include "platform/screen.h"

namespace platform::screen {

// The screen surface (RGB24); created on first use.
cairo_surface_t* surface();
// Tells the backend that an area of the screen changed.
void changed(const RECT& area);

}  // namespace platform::screen

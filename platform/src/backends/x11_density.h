// The display's density as an X server states it, for the SDL window's
// scale where SDL itself has none (its X11 driver reads it from the RandR
// outputs' sizes, which Xvfb and some remote desktops leave at zero).
// Apart from the backend so that Xlib's macros stay out of the platform's
// own names.
#pragma once

namespace platform {

struct X11Density {
  float resource = 0;  // the desktop's chosen dots per inch: Xft.dpi, 0 when unset
  float screen = 0;    // the X screen's width in pixels over its width in inches
};

// Asks the X server named by DISPLAY; all 0 when none answers.
X11Density x11Density();

}  // namespace platform

#ifdef OLVARO_HAVE_X11
#include "x11_density.h"

#include <X11/Xlib.h>
#include <X11/Xresource.h>

#include <cstdlib>

namespace platform {

X11Density x11Density() {
  X11Density out;
  Display* display = XOpenDisplay(nullptr);
  if (!display) return out;
  // The resources desktops and xrdb put on the root window.
  if (const char* resources = XResourceManagerString(display)) {
    XrmInitialize();
    if (XrmDatabase db = XrmGetStringDatabase(resources)) {
      char* type = nullptr;
      XrmValue value{};
      if (XrmGetResource(db, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr) {
        float dpi = std::strtof(value.addr, nullptr);
        if (dpi > 0 && dpi < 2000) out.resource = dpi;
      }
      XrmDestroyDatabase(db);
    }
  }
  int screen = DefaultScreen(display);
  if (int mm = DisplayWidthMM(display, screen); mm > 0) out.screen = float(DisplayWidth(display, screen)) * 25.4f / float(mm);
  XCloseDisplay(display);
  return out;
}

}  // namespace platform
#endif  // OLVARO_HAVE_X11

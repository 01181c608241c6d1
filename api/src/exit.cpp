#include "hub.h"
#include "platform/window.h"

// Asks the main window to close; the host decides whether to ask the user.
KS_API void KS_Exit() {
  HWND window = static_cast<HWND>(KS_GetVariantPtr("core.window.hwnd"));
  if (window && IsWindow(window)) SendMessage(window, WM_CLOSE, 0, 0);
}

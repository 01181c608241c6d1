#include "hub.h"
#include "olvaro/hub_records.h"
#include "platform/window.h"

// Asks the main window to close; the host decides whether to ask the user.
KS_API void KS_Exit() {
  HWND window = olvaro::mainWindow();
  if (window && IsWindow(window)) SendMessage(window, WM_CLOSE, 0, 0);
}

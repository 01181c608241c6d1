#include "alerts.h"

#include "olvaro/api.h"
#include "olvaro/hub_records.h"
#include "platform/msgbox.h"
#include "platform/text.h"
#include "platform/window.h"

namespace olvaro::conn {

void showError(const std::string& caption, const std::string& text) {
  HWND owner = mainWindow();
  MessageBox(owner, platform::widen(text).c_str(), platform::widen(caption).c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace olvaro::conn

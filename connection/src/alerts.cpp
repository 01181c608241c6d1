#include "alerts.h"

#include "olvaro/api.h"
#include "platform/text.h"
#include "platform/window.h"
#include "platform/msgbox.h"

namespace olvaro::conn {
namespace {
AlertHook& hook() {
  static AlertHook h;
  return h;
}
}  // namespace

void setAlertHook(AlertHook h) { hook() = std::move(h); }

void showError(const std::string& caption, const std::string& text) {
  if (hook()) {
    hook()(caption, text);
    return;
  }
  HWND owner = static_cast<HWND>(KS_GetVariantPtr("core.window.hwnd"));
  MessageBox(owner, platform::widen(text).c_str(), platform::widen(caption).c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace olvaro::conn

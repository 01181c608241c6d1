// Modal error boxes over the main window. Tests replace the box with a hook
// that records what would be shown.
#pragma once

#include <functional>
#include <string>

namespace olvaro::conn {

using AlertHook = std::function<void(const std::string& caption, const std::string& text)>;

void showError(const std::string& caption, const std::string& text);
void setAlertHook(AlertHook hook);

}  // namespace olvaro::conn

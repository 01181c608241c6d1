// Modal error boxes over the main window.
#pragma once

#include <string>

namespace olvaro::conn {

void showError(const std::string& caption, const std::string& text);

}  // namespace olvaro::conn

// Folder helpers the services and the shell share.
#pragma once

#include <string>

namespace platform {

// The variable's value, or the fallback when it is unset or empty.
std::string envOr(const char* name, const std::string& fallback);
// Makes the folder and its parents (mode 0700); true when it is there.
bool makeFolders(const std::string& folder);

}  // namespace platform

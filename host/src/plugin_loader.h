// Finding and loading what lies beside the host: language libraries and
// plug-ins.
#pragma once

#include <string>

#include "olvaro/plugin.h"

namespace host {

// The interface version the host offers to PluginLoad.
using olvaro::kPluginInterfaceVersion;
// Plug-ins are the shared libraries of the program folder.
inline const std::u16string kPluginPattern = u"*.so";

// The running program's full path, and its folder with the trailing
// separator (everything up to the last slash or backslash).
std::u16string hostPath();
std::u16string folderOf(const std::u16string& path);

// "*.%04X.mui" for a language id, such as "*.0409.mui".
std::u16string languagePattern(unsigned languageId);

// Loads every "*.%04X.mui" of the folder for the user's UI language. They
// stay loaded for the life of the process. Returns how many loaded.
int loadLanguageLibraries(const std::u16string& folder, unsigned languageId);

// Loads every library of the folder matching the pattern, in listing
// order, and adds each one whose PluginLoad accepts the interface version
// to the hub. Others are unloaded again. Returns how many were added.
int loadPlugins(const std::u16string& folder, const std::u16string& pattern = kPluginPattern);

}  // namespace host

// The start-up shortcut that starts the host hidden when the device boots.
#pragma once

#include <string>

namespace host {

// The start-up folder, a backslash, the name and ".lnk"; empty when the
// folder cannot be found.
std::u16string shortcutPath(const std::u16string& name);
// The target text: the host's full path in double quotes, a blank, "/hidden".
std::u16string shortcutTarget(const std::u16string& hostPath);
// Creates the shortcut for the running program; 1 when it was made, 0 when
// not (rather than claiming success).
int createShortcut(const std::u16string& name);
bool shortcutExists(const std::u16string& name);
bool deleteShortcut(const std::u16string& name);

inline const std::u16string kShortcutName = u"Olvaro";

}  // namespace host

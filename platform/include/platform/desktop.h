// The desktop around the device's window. Where the window sits on a
// desktop whose session bus has a notification service, every notification
// the shell holds (SHNotificationAdd) also goes there: its title as the
// summary, its text as the body, its buttons as actions (chosen: the
// button's command to the sink; closed by the user: the last button's);
// removing it closes it there too. Without a desktop (headless) nothing
// goes anywhere.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/device_backend.h"

namespace platform {

// A plain note for the desktop's notification service (replacing the one
// shown before).
void shellDesktopNote(const std::u16string& summary, const std::u16string& body);
// Whether the device's window has the desktop's keyboard (always true
// without a desktop).
bool shellDesktopFocused();

// The desktop's own tray, where the session bus has one: while the program
// shows no window (tool windows such as the shell's bars aside), its first
// tray icon is also an item there, whose click is a tap on the icon and
// whose menu opens the program or ends it. Its look: `icon` as it usually
// is, `attentionIcon` while `attention` (where the phone's icon blinks);
// without a look given, the tray icon's own.
void shellDesktopTrayLook(HWND hwnd, UINT id, HICON icon, HICON attentionIcon, bool attention);
// The words of the item's menu, in the program's language ("Open" and
// "Exit" until the program gives its own).
void shellDesktopTrayMenu(HWND hwnd, UINT id, const std::u16string& openLabel, const std::u16string& exitLabel);
// The item the desktop's tray would show now; false while there is none.
bool shellDesktopTray(DesktopTrayItem* out);

// What the test kit reads and sets: the plain notes asked for (summary,
// body), and the focus as a desktop would report it (both cleared with the
// shell's signals, platform::shellSignalsReset).
std::vector<std::pair<std::u16string, std::u16string>> shellDesktopNotes();
void shellDesktopSetFocused(bool focused);

}  // namespace platform

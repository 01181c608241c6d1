// What the shell's parts share: the title bar, the soft-key bars, the
// notification icons and bubbles.
#pragma once

#include <cstdint>
#include <string>

#include "platform/phoneshell.h"

namespace platform::shell {

// Repaints the title bar (title, tray icons, Done button).
void titleChanged();
// Watches a top-level window's activation so its soft-key bar comes to the
// front and the title follows it.
void watchWindow(HWND top);
// The top-level application window a window belongs to (its root).
HWND appWindowOf(HWND h);
// The soft keys of the active window: true when a bar took the key.
bool softKeyFilter(UINT vk, bool down);
// A tap on the title bar at screen x: a tray icon or a tray bubble.
bool trayTap(int x);
// Drawing the tray icons from the right edge leftwards; returns the left
// end.
int paintTray(HDC dc, int right, int top, int size);
// Straight-to-tray notifications show as icons; the bubble code owns them.
void showTrayNotification(size_t index);
// Whether the desktop's tray wants the program's item now, and a number
// that changes whenever its look does.
bool desktopTrayWanted(uint64_t* generation);
// Forgets the plain desktop notes asked for and the focus a test set.
void desktopRecordReset();

constexpr COLORREF kBarColour = RGB(24, 48, 96);
constexpr COLORREF kBarText = RGB(255, 255, 255);
constexpr COLORREF kBarDisabledText = RGB(128, 144, 176);

}  // namespace platform::shell

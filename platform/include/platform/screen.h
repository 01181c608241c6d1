// The emulated device screen: an image in memory that every window draws
// into, and the device backend that shows it (and plays, vibrates, ...). The headless backend shows nothing;
// tests read the image pixel by pixel and save it as PNG. Another backend
// (a real window) registers itself under a name and is picked with
// OLVARO_BACKEND.
#pragma once

#include <memory>
#include <string>

#include "platform/device_backend.h"
#include "platform/types.h"

namespace platform {

// The screen's backend is the device backend (device_backend.h); the old
// names stay for callers that only think of the screen.
using ScreenBackend = DeviceBackend;
using ScreenBackendFactory = DeviceBackendFactory;

// (Re)creates the screen, white, of the given size and DPI. Zero values are
// taken from the device settings (OLVARO_SCREEN "240x320", OLVARO_DPI).
void screenInit(int width = 0, int height = 0, int dpi = 0);
int screenWidth();
int screenHeight();
int screenDpi();

// The colour of one pixel as RGB(); CLR_INVALID (0xFFFFFFFF) outside.
COLORREF screenPixel(int x, int y);
bool screenSavePng(const std::string& path);

void screenRegisterBackend(const std::string& name, DeviceBackendFactory factory);
// Picks a registered backend ("headless" is always there); false when
// unknown. With an empty name OLVARO_BACKEND decides, else headless.
bool screenSelectBackend(const std::string& name = "");
// The device backend now in use (headless until another is selected).
DeviceBackend* deviceBackend();
inline DeviceBackend* screenBackend() { return deviceBackend(); }

}  // namespace platform

// The emulated device screen: an image in memory that every window draws
// into, and the device backend (device_backend.h) that shows it and is the
// phone's other hardware: sound out and in, vibration, LEDs. The headless
// backend shows nothing and has no such hardware; tests read the image pixel
// by pixel and save it as PNG. The "sdl" backend (src/backends, built when
// SDL2 is there) registers itself when the library loads and, when a desktop
// display is set and OLVARO_BACKEND is not, sets OLVARO_BACKEND to "sdl".
#pragma once

#include <memory>
#include <string>

#include "platform/device_backend.h"
#include "platform/types.h"

namespace platform {

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
// unknown or when it cannot start. With an empty name OLVARO_BACKEND
// decides, and headless when it is unset.
bool screenSelectBackend(const std::string& name = "");
// The device backend now in use (headless until another is selected).
DeviceBackend* deviceBackend();

}  // namespace platform

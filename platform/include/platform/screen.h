// The emulated device screen: an image in memory that every window draws
// into, and the backend that shows it. The headless backend shows nothing;
// tests read the image pixel by pixel and save it as PNG. Another backend
// (a real window) registers itself under a name and is picked with
// OLVARO_BACKEND.
#pragma once

#include <memory>
#include <string>

#include "platform/types.h"

namespace platform {

class ScreenBackend {
 public:
  virtual ~ScreenBackend() = default;
  virtual const char* name() const = 0;
  // The pixels inside `area` (screen coordinates) changed.
  virtual void present(const RECT& area) = 0;
  // Called from the message loop of the thread that waits for input; turns
  // device events into platform::input* calls.
  virtual void pollInput() {}
};

using ScreenBackendFactory = std::unique_ptr<ScreenBackend> (*)();

// (Re)creates the screen, white, of the given size and DPI. Zero values are
// taken from the device settings (OLVARO_SCREEN "240x320", OLVARO_DPI).
void screenInit(int width = 0, int height = 0, int dpi = 0);
int screenWidth();
int screenHeight();
int screenDpi();

// The colour of one pixel as RGB(); CLR_INVALID (0xFFFFFFFF) outside.
COLORREF screenPixel(int x, int y);
bool screenSavePng(const std::string& path);

void screenRegisterBackend(const std::string& name, ScreenBackendFactory factory);
// Picks a registered backend ("headless" is always there); false when
// unknown. With an empty name OLVARO_BACKEND decides, else headless.
bool screenSelectBackend(const std::string& name = "");
ScreenBackend* screenBackend();

}  // namespace platform

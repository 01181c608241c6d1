// The device backend: one object that is the phone's hardware to the
// platform — the screen it shows, the input it gives, and the sound, the
// vibration motor and the LEDs. "headless" does nothing with any of them
// (tests read the screen image and the shell's record instead); "sdl" shows
// the screen in a window and takes the desktop's keys and mouse. Every
// operation but name() has a default that does nothing, so a backend
// overrides only the parts it has.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/types.h"

namespace platform {

// PCM as a wave device takes it: interleaved little-endian samples.
struct AudioFormat {
  int samplesPerSecond = 8000;
  int bitsPerSample = 16;
  int channels = 1;
};

// A notification for the desktop's own notification service: a bubble of
// the phone shell, or a plain note. Each button's command goes to `sink` as
// WM_COMMAND when its action is chosen; `dismissCommand` (0 for none) when
// the user closes the notification.
struct DesktopNote {
  std::u16string summary;
  std::u16string body;  // plain text, lines separated by '\n'
  HWND sink = nullptr;
  std::vector<std::pair<std::u16string, int>> buttons;  // label, command
  int dismissCommand = 0;
};

// An image as the desktop's tray takes it: ARGB32 in network byte order,
// rows top-down.
struct DesktopPixmap {
  int width = 0, height = 0;
  std::vector<uint8_t> argb;
  bool operator==(const DesktopPixmap&) const = default;
};

// The program's item in the desktop's own tray, standing for the shell's
// tray icon (`hwnd`, `id`): a click on it is a tap on that icon (the icon's
// `callback` message to `hwnd`).
struct DesktopTrayItem {
  std::u16string title;
  DesktopPixmap icon, attentionIcon;
  bool attention = false;  // something waits for the user
  HWND hwnd = nullptr;
  UINT id = 0, callback = 0;
  std::u16string openLabel, exitLabel;  // its menu's two entries
};

class DeviceBackend {
 public:
  virtual ~DeviceBackend() = default;
  virtual const char* name() const = 0;

  // ---- Screen: the pixels inside `area` (screen coordinates) changed.
  virtual void present(const RECT& /*area*/) {}

  // ---- Input: called from the message loop of the thread that waits for
  // input; turns device events into platform::input* calls.
  virtual void pollInput() {}

  // ---- Sound out: every open output is a stream of its own format, and
  // all of them are heard together. Open returns the stream, 0 when there
  // is no speaker (the caller reports it). Play takes whole samples and
  // returns the bytes accepted. Drain: nothing more is queued for now, so
  // what a converter holds back goes out too. Clear drops what the stream
  // has not yet played.
  virtual int audioOutOpen(const AudioFormat& /*format*/) { return 0; }
  virtual size_t audioOutPlay(int /*stream*/, const void* /*data*/, size_t bytes) { return bytes; }
  virtual void audioOutDrain(int /*stream*/) {}
  virtual void audioOutClear(int /*stream*/) {}
  virtual void audioOutClose(int /*stream*/) {}

  // ---- Sound in: records into `buffer`, returning the bytes got so far
  // (0 when nothing is there yet). Without a microphone open fails.
  virtual bool audioInOpen(const AudioFormat& /*format*/) { return false; }
  virtual size_t audioInRead(void* /*buffer*/, size_t /*bytes*/) { return 0; }
  virtual void audioInClose() {}

  // ---- The vibration motor and the notification LEDs (0 off, 1 on,
  // 2 blink); the shell keeps its own record for tests either way.
  virtual void vibrate(bool /*on*/) {}
  virtual void setLed(UINT /*led*/, int /*state*/) {}

  // ---- The desktop around the window: notifications shown by the
  // desktop's service (one at a time; a later one with another key replaces
  // the earlier), closed by key; whether the window has the keyboard.
  // Without a desktop nothing is shown and the device is always in front.
  virtual void desktopNotify(uint64_t /*key*/, const DesktopNote& /*note*/) {}
  virtual void desktopNotifyClose(uint64_t /*key*/) {}
  virtual bool desktopFocused() const { return true; }
};

using DeviceBackendFactory = std::unique_ptr<DeviceBackend> (*)();

}  // namespace platform

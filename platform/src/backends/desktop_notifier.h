// The desktop's notification service (org.freedesktop.Notifications on the
// session bus) through GLib's GDBus. Every call is asynchronous on a main
// context of our own, which the window's input poll runs without waiting,
// so a slow or absent service never holds the device's loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/device_backend.h"

namespace platform {

class DesktopNotifier {
 public:
  // `opened`: called when the user chose a note's first button (the one
  // that brings the program forward).
  explicit DesktopNotifier(std::function<void()> opened);
  ~DesktopNotifier();
  DesktopNotifier(const DesktopNotifier&) = delete;
  DesktopNotifier& operator=(const DesktopNotifier&) = delete;

  void show(uint64_t key, const DesktopNote& note);
  void close(uint64_t key);
  // Runs what the bus has delivered; returns at once.
  void pump();

  struct State;

 private:
  std::unique_ptr<State> s_;
};

}  // namespace platform

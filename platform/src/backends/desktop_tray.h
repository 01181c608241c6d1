// The program's item in the desktop's own tray: a StatusNotifierItem (with
// a com.canonical.dbusmenu menu) registered with the session bus's
// org.kde.StatusNotifierWatcher, through GLib's GDBus. Only while a watcher
// is there; one that comes later gets the item then. Everything runs on a
// main context of our own, which the window's input poll runs without
// waiting.
#pragma once

#include <functional>
#include <memory>

#include "platform/device_backend.h"

namespace platform {

class DesktopTray {
 public:
  // `activate`: the item was clicked or its menu's Open chosen; `exit`:
  // the menu's Exit.
  DesktopTray(std::function<void(const DesktopTrayItem&)> activate, std::function<void()> exit);
  ~DesktopTray();
  DesktopTray(const DesktopTray&) = delete;
  DesktopTray& operator=(const DesktopTray&) = delete;

  // The item as it should be now (shown or updated), or gone.
  void show(const DesktopTrayItem& item);
  void hide();
  // Runs what the bus has delivered; returns at once.
  void pump();

  struct State;

 private:
  std::unique_ptr<State> s_;
};

}  // namespace platform

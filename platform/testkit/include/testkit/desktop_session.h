// A desktop of a test's own: an X server (Xvfb) on a free display, a
// private session bus, a real notification daemon (dunst) on both and, when
// asked for, a tray host (TrayWatcher), all stopped with the object.
// Programs started with env() see only these.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "testkit/tray_watcher.h"

namespace testkit {

class DesktopSession {
 public:
  DesktopSession() = default;
  ~DesktopSession();
  DesktopSession(const DesktopSession&) = delete;
  DesktopSession& operator=(const DesktopSession&) = delete;

  // The X screen start() makes: its size in pixels and its density (Xvfb
  // gives it the size in millimetres that makes so many dots per inch).
  // 800x480 at 96 unless set.
  void setScreen(int width, int height, int dpi) {
    width_ = width;
    height_ = height;
    dpi_ = dpi;
  }
  // False, with the reason, when a tool is missing or a part did not start.
  // Without `notifier` the bus has no notification service.
  bool start(std::string* why, bool notifier = true);

  // DISPLAY and DBUS_SESSION_BUS_ADDRESS of this desktop.
  std::vector<std::string> env() const;
  const std::string& display() const { return display_; }
  // A shell command run on this desktop; its exit code and standard output.
  int run(const std::string& command, std::string* output = nullptr) const;
  // What the bus carried to the notification service's Notify since start,
  // as dbus-monitor prints it.
  std::string notifyCalls() const;
  // Starts a program on this desktop with more NAME=value entries, its
  // output to `output`; stopped with the session.
  pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& output);
  const std::string& folder() const { return folder_; }
  // A tray host on this desktop's bus (after start); false, with the
  // reason, when it cannot be had.
  bool startTray(std::string* why);
  const TrayWatcher& tray() const { return tray_; }

 private:
  std::string folder_;
  std::string display_, bus_;
  int width_ = 800, height_ = 480, dpi_ = 96;
  std::vector<pid_t> pids_;  // in starting order
  TrayWatcher tray_;
};

}  // namespace testkit

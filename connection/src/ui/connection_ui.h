// The connection's screens for one plug-in run: the status bar in the main
// window and the presence menu with its dialogs. The session asks through
// here for an account when it has none.
#pragma once

#include <memory>

#include "presence_menu.h"
#include "status_bar.h"

namespace olvaro::conn {

class Connection;

class ConnectionUi {
 public:
  explicit ConnectionUi(Connection* connection);
  ~ConnectionUi();
  ConnectionUi(const ConnectionUi&) = delete;
  ConnectionUi& operator=(const ConnectionUi&) = delete;

  // Null when there is no main window to put it in.
  ConnectionStatusBar* statusBar() const { return statusBar_.get(); }
  PresenceMenu& presenceMenu() { return *menu_; }

 private:
  Connection* connection_;
  std::unique_ptr<PresenceMenu> menu_;
  std::unique_ptr<ConnectionStatusBar> statusBar_;
};

}  // namespace olvaro::conn

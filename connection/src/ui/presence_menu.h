// The presence menu of the user's own account, offered as the primary
// service's "CreatePopupMenu"/"HandlePopupMenu", and the dialogs it opens.
#pragma once

#include <memory>

#include "account_dialogs.h"
#include "olvaro/api.h"
#include "olvaro/menu_commands.h"
#include "olvaro/registrations.h"

namespace olvaro::conn {

class PresenceMenu {
 public:
  explicit PresenceMenu(HService* service);
  ~PresenceMenu();
  PresenceMenu(const PresenceMenu&) = delete;
  PresenceMenu& operator=(const PresenceMenu&) = delete;

  // A new popup menu; the caller destroys it.
  HMENU create();
  // 1 when the command opened a dialog, else 0.
  int handle(UINT command);
  // Shows the menu at a screen point through the service's functions, as
  // anyone else would, and handles the choice.
  void popUp(HWND owner, int x, int y);

  void showSignIn();
  void showIdentity();
  SignInDialog* signInDialog() const { return signIn_.get(); }
  IdentityDialog* identityDialog() const { return identity_.get(); }

  enum Item { kOnline, kAway, kBusy, kInvisible, kOffline, kMyIdentity, kSignInAs, kItems };
  UINT command(Item item) const { return commands_[item]; }

 private:
  uint32_t onCreate();
  int onHandle(void* argument);
  void onCommand(void* argument);

  HService* service_;
  MenuCommands<kItems> commands_;
  FunctionRegistration create_;
  FunctionRegistration handle_;
  EventSubscription commandWatch_;
  std::unique_ptr<SignInDialog> signIn_;
  std::unique_ptr<IdentityDialog> identity_;
};

}  // namespace olvaro::conn

// The per-service submenus at the top of the main window's "Menu".
#pragma once

#include <string>

#include "platform/types.h"

namespace host {

// Room the host keeps for services in the menu.
constexpr int kMaxMenuServices = 16;

// The submenu's label: the type's long name (or "Olvaro" for a service
// without a type), then " (account)" when there is an account text. The
// account is the user name, or the display name when that is empty; past 16
// characters it is cut at "@", and if still too long shown as 13 characters
// and "...". Texts are UTF-8; null counts as empty.
std::u16string serviceMenuLabel(bool hasType, const char* longName, const char* userName,
                                const char* displayName);

class ServiceMenu {
 public:
  // Removes the submenus inserted last time, then inserts one at the top
  // for every service whose "Service/%p/CreatePopupMenu" gives a menu.
  // Returns how many are now inserted.
  int rebuild(HMENU menu);
  int inserted() const { return inserted_; }

 private:
  int inserted_ = 0;
};

}  // namespace host

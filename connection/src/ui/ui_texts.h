// Texts of the connection's screens, by their ids in this module's string
// table.
#pragma once

#include <cstdint>
#include <string>

namespace olvaro::conn {

enum : unsigned {
  kStrNotConnected = 102,
  kStrConnecting = 103,
  kStrLoggingIn = 104,
  kStrOk = 106,
  kStrSynchronizing = 107,
  kStrCancel = 108,
  kStrDialing = 109,
  kStrOnline = 110,
  kStrReconnectPending = 111,
  kStrBusy = 112,
  kStrAway = 113,
  kStrOneNewMessage = 114,
  kStrNewMessages = 115,  // "%d New Messages"
  kStrRetrievingContacts = 116,
  kStrRetrievingGroups = 117,
  kStrRetrievingMessages = 118,
  kStrNoMessages = 119,
  kStrNeedAccount = 120,
  kStrMissingInformation = 121,
  kStrNeedIdentity = 122,
  kStrOffline = 125,
  kStrMyIdentity = 126,
  kStrLoggingOff = 128,
  kStrConnectingViaProxy = 131,
  kStrSignInAs = 132,
  kStrInvisible = 133,
};

// The string id naming a presence, or 0 for a value without a name.
unsigned presenceTextId(int32_t presence);

// The string of this module's table as wide text.
std::u16string loadWideText(unsigned id);

// UTF-8 to wide text; null counts as empty.
std::u16string widen(const char* utf8);

}  // namespace olvaro::conn

// The connection's texts, by their ids in this module's string table.
#pragma once

#include <string>

namespace olvaro::conn {

// Every id of the string table (resources/connection.strings).
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
  kStrLoginRefused = 123,  // "The server did not allow you to sign in at this time."
  kStrLoginFailed = 124,   // "Login Failed"
  kStrOffline = 125,
  kStrMyIdentity = 126,
  kStrRemoveService = 127,
  kStrLoggingOff = 128,
  kStrAccept = 129,
  kStrDecline = 130,
  kStrConnectingViaProxy = 131,
  kStrSignInAs = 132,
  kStrInvisible = 133,
  kStrContactAccepted = 134,
  kStrAddToListQuestion = 135,
  kStrTlsFailed = 136,
  kStrCertificate = 137,
  kStrTlsUntrusted = 138,
  kStrTlsNameMismatch = 139,
  kStrTlsExpired = 140,
  kStrTlsPinMismatch = 141,
  kStrTlsNotSpoken = 142,
  kStrTlsSetup = 143,
  kStrTlsRequired = 144,
};

// The string of this module's table; empty when it lacks the id.
std::string loadText(unsigned id);

inline constexpr const char* kReasonGiven = "The reason given was:";
inline constexpr const char* kProxyRejected = "The proxy rejected the connection:\n\n";

}  // namespace olvaro::conn

// The values of the variant "connection.state", which the connection plug-in
// publishes and the host and the other plug-ins watch.
#pragma once

namespace olvaro {

enum ConnectionState : long {
  kSignedOut = 0,
  kCheckingNetwork = 10,
  kConnecting = 30,
  kWaitingForProxy = 35,
  kLoggingOn = 40,
  kReceivingContacts = 50,
  kReceivingGroups = 60,
  kFetchingStored = 70,
  kSignedIn = 100,
  kWaitingToReconnect = 130,
};

inline constexpr const char* kConnectionStateVariant = "connection.state";
// Long: 1 while the link is encrypted and the server verified.
inline constexpr const char* kEncryptedVariant = "Olvaro/Connection/Encrypted";

// A short English name, for traces.
inline const char* connectionStateName(long state) {
  switch (state) {
    case kSignedOut: return "signed out";
    case kCheckingNetwork: return "checking network";
    case kConnecting: return "connecting";
    case kWaitingForProxy: return "waiting for the proxy";
    case kLoggingOn: return "logging on";
    case kReceivingContacts: return "receiving the contact list";
    case kReceivingGroups: return "receiving groups";
    case kFetchingStored: return "fetching stored messages";
    case kSignedIn: return "signed in";
    case kWaitingToReconnect: return "waiting to reconnect";
  }
  return "unknown";
}

}  // namespace olvaro

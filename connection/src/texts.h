// Texts the session shows, by their ids in this module's string table.
#pragma once

#include <string>

namespace olvaro::conn {

enum : unsigned {
  kStrLoginRefused = 123,  // "The server did not allow you to sign in at this time."
  kStrLoginFailed = 124,   // "Login Failed"
};

// The string of this module's table; empty when it lacks the id.
std::string loadText(unsigned id);

inline constexpr const char* kReasonGiven = "The reason given was:";
inline constexpr const char* kProxyRejected = "The proxy rejected the connection:\n\n";

}  // namespace olvaro::conn

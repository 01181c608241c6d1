// Texts the session shows, by their string-table ids.
#pragma once

#include <string>

namespace olvaro::conn {

enum : unsigned {
  kStrLoginRefused = 123,  // "The server did not allow you to sign in at this time."
  kStrLoginFailed = 124,   // "Login Failed"
};

// The module's string, or the built-in English text when the table lacks it.
std::string loadText(unsigned id);

inline constexpr const char* kReasonGiven = "The reason given was:";
inline constexpr const char* kProxyRejected = "The proxy rejected the connection:\n\n";

}  // namespace olvaro::conn

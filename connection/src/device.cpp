#include "device.h"

#include <cstring>

#include "olvaro/api.h"
#include "platform/text.h"
#include "platform/thread.h"

// Hubs built before these queries existed lack them; the session then sends
// the values of a device that reports nothing.
#pragma weak KS_GetPlatformName
#pragma weak KS_GetOperatorName

namespace olvaro::conn {

std::string platformName() {
  if (!KS_GetPlatformName) return std::string();
  char buffer[64] = {};
  KS_GetPlatformName(buffer);
  buffer[31] = '\0';
  return buffer;
}

bool operatorName(std::string* out) {
  if (!KS_GetOperatorName) return false;
  char buffer[32] = {};
  if (!KS_GetOperatorName(buffer, sizeof buffer)) return false;
  buffer[sizeof buffer - 1] = '\0';
  *out = buffer;
  return true;
}

bool startedHidden() {
  LPWSTR line = GetCommandLine();
  if (!line) return false;
  return platform::narrow(line).find("/hidden") != std::string::npos;
}

}  // namespace olvaro::conn

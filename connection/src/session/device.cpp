#include "device.h"

#include <cstring>

#include "olvaro/api.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace olvaro::conn {

std::string platformName() {
  char buffer[64] = {};
  KS_GetPlatformName(buffer);
  buffer[31] = '\0';
  return buffer;
}

bool operatorName(std::string* out) {
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

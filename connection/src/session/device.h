// What the session needs to know about the device.
#pragma once

#include <string>

namespace olvaro::conn {

// The platform type text, at most 31 bytes ("PocketPC", "SmartPhone").
std::string platformName();
// The mobile operator's name; false when the device reports none.
bool operatorName(std::string* out);
bool startedHidden();

}  // namespace olvaro::conn

// Texts of the connection's screens, by their ids in this module's string
// table.
#pragma once

#include <cstdint>
#include <string>

#include "texts.h"

namespace olvaro::conn {


// The string id naming a presence, or 0 for a value without a name.
unsigned presenceTextId(int32_t presence);

// The string of this module's table as wide text.
std::u16string loadWideText(unsigned id);

// UTF-8 to wide text; null counts as empty.
std::u16string widen(const char* utf8);

}  // namespace olvaro::conn

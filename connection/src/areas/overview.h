// The records of the contact list's overview functions ("Overview/...") are
// shared with the contact list in olvaro/connection_calls.h. The contact list
// may be absent: every call then answers 0.
#pragma once

#include "olvaro/connection_calls.h"

namespace olvaro::conn {
using olvaro::OverviewContextMenuInfo;
using olvaro::OverviewItemInfo;
using olvaro::OverviewSectionInfo;
}  // namespace olvaro::conn

// The device's power calls. On this platform there is no power manager, so
// they do nothing; the session still keeps its bookkeeping of when the
// device would be held awake.
#pragma once

#include "timestamp.h"

namespace olvaro::conn {

void powerPolicyNotifyUnattended(bool on);
void systemIdleTimerReset();
// Wakes the program at `at`; a zero time cancels.
void scheduleWakeUp(const Timestamp& at);

}  // namespace olvaro::conn

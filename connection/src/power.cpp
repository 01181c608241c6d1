#include "power.h"

namespace olvaro::conn {

void powerPolicyNotifyUnattended(bool) {}
void systemIdleTimerReset() {}
void scheduleWakeUp(const Timestamp&) {}

}  // namespace olvaro::conn

// The one platform clock. Every "now" of the system reads it: GetTickCount,
// GetSystemTime, timers. Normally it follows the real clock; tests switch it to
// manual and run it forward by hand.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since 1970-01-01 UTC.
int64_t clockNowUnixMs();
// Milliseconds on a monotonic scale (GetTickCount is its low 32 bits).
int64_t clockMonotonicMs();

// Manual mode: the clock stands still until advanced. The wall time starts at
// `unixMs` (0 keeps the current real time).
void clockSetManual(int64_t unixMs = 0);
void clockSetReal();
bool clockIsManual();
// Runs a manual clock forward; both scales move together.
void clockAdvance(int64_t ms);
// Sets the wall time of a manual clock without moving the monotonic scale.
void clockSetWallTime(int64_t unixMs);

}  // namespace platform

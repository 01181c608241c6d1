// The status strip's lock, for tests of the connection's own screens (the
// strip's code is the connection's: other modules' tests do not see it).
#pragma once

#include "status_bar.h"
#include "testkit/testkit.h"

namespace conntest {

// The status strip's lock as the screen shows it: the pixels of its box in
// the lock's colour (none when no lock is drawn).
inline int lockPixels(HWND strip) {
  RECT client{};
  GetClientRect(strip, &client);
  RECT box = olvaro::conn::statusLockBox(client);
  RECT screen = testkit::screenRect(strip);
  OffsetRect(&box, screen.left, screen.top);
  return testkit::countPixels(box, RGB(160, 160, 160));
}

}  // namespace conntest

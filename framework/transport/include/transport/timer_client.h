// Periodic timers on the user-interface thread: SetTimer on this module's
// hidden "KS_TIMER_SINK_WINDOW" with the client's address as the timer id.
#pragma once

#include "platform/types.h"

namespace olvaro::net {

class TimerClient {
 public:
  TimerClient() = default;
  virtual ~TimerClient();
  TimerClient(const TimerClient&) = delete;
  TimerClient& operator=(const TimerClient&) = delete;

  virtual void onTimer() = 0;
  void startTimer(UINT periodMs);
  void stopTimer();
};

HWND timerSinkWindow();

}  // namespace olvaro::net

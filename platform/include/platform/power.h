// Power management: unattended mode, the idle timer, timed wake-ups and
// device power requirements. On Linux none of them changes the machine;
// each call is kept in a record that the test kit reads, so code that
// manages the device's power can be checked.
#pragma once

#include <string>
#include <vector>

#include "platform/systime.h"
#include "platform/types.h"

// PowerPolicyNotify messages.
#define PPN_REEVALUATESTATE 0x0001
#define PPN_POWERCHANGE 0x0002
#define PPN_UNATTENDEDMODE 0x0003
#define PPN_SUSPENDKEYPRESSED 0x0004
#define PPN_POWERBUTTONPRESSED 0x0005
#define PPN_SUSPENDKEYRELEASED 0x0006
#define PPN_APPBUTTONPRESSED 0x0007

enum CEDEVICE_POWER_STATE {
  PwrDeviceUnspecified = -1,
  D0 = 0,  // full on
  D1,
  D2,
  D3,
  D4,  // off
  PwrDeviceMaximum
};
#define POWER_NAME 0x00000001
#define POWER_FORCE 0x00001000

// PPN_UNATTENDEDMODE counts: every TRUE must be matched by a FALSE before
// the device may sleep again. Unknown messages fail (ERROR_INVALID_PARAMETER).
BOOL PowerPolicyNotify(DWORD message, DWORD flag);
void SystemIdleTimerReset();
// Starts `app` at the local time `at`; one pending time per program, a new
// call replaces it and a NULL time cancels it. An invalid time fails.
BOOL CeRunAppAtTime(LPCWSTR app, const SYSTEMTIME* at);
// Keeps a device (e.g. u"BKL1:") at least in `state` until released. NULL
// on a missing name or a state outside D0..D4.
HANDLE SetPowerRequirement(LPCWSTR device, CEDEVICE_POWER_STATE state, ULONG deviceFlags, LPVOID systemState,
                           ULONG stateFlags);
// ERROR_SUCCESS, or ERROR_INVALID_HANDLE for a handle not (or no longer) held.
DWORD ReleasePowerRequirement(HANDLE requirement);

namespace platform {

// What the power calls asked for, for tests.
struct PowerRecord {
  struct WakeUp {
    std::u16string app;
    SYSTEMTIME at;     // as given (local time)
    int64_t atUnixMs;  // the same moment, UTC
  };
  struct Requirement {
    HANDLE handle;
    std::u16string device;
    CEDEVICE_POWER_STATE state;
    ULONG deviceFlags;
  };
  int unattendedCount = 0;  // open PPN_UNATTENDEDMODE TRUE calls
  int unattendedChanges = 0;  // times the device went in or out of unattended mode
  int notifications = 0;      // every accepted PowerPolicyNotify
  int idleTimerResets = 0;
  std::vector<WakeUp> wakeUps;  // pending, in the order set
  std::vector<Requirement> requirements;  // held
  bool unattended() const { return unattendedCount > 0; }
  // The pending wake-up of one program (nullptr when none).
  const WakeUp* wakeUpOf(const std::u16string& app) const;
};

PowerRecord powerRecord();
void powerRecordReset();

}  // namespace platform

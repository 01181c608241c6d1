#include "platform/power.h"

#include <mutex>

#include "ascii.h"
#include "platform/handles.h"

namespace platform {
namespace {

struct Power {
  std::mutex m;
  PowerRecord record;
  uintptr_t nextHandle = 0x7001;  // odd: never a kernel handle value
};

Power& P() {
  static Power* p = new Power;  // power calls may come late in shutdown
  return *p;
}

}  // namespace

const PowerRecord::WakeUp* PowerRecord::wakeUpOf(const std::u16string& app) const {
  for (const WakeUp& w : wakeUps)
    if (asciiEqualNoCase(w.app, app)) return &w;
  return nullptr;
}

PowerRecord powerRecord() {
  std::lock_guard<std::mutex> g(P().m);
  return P().record;
}

void powerRecordReset() {
  std::lock_guard<std::mutex> g(P().m);
  P().record = PowerRecord();
}

}  // namespace platform

using platform::P;
using platform::PowerRecord;

BOOL PowerPolicyNotify(DWORD message, DWORD flag) {
  if (message < PPN_REEVALUATESTATE || message > PPN_APPBUTTONPRESSED) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> g(P().m);
  PowerRecord& r = P().record;
  ++r.notifications;
  if (message == PPN_UNATTENDEDMODE) {
    bool was = r.unattended();
    if (flag) {
      ++r.unattendedCount;
    } else if (r.unattendedCount > 0) {
      --r.unattendedCount;  // an unmatched FALSE leaves the count at zero
    }
    if (was != r.unattended()) ++r.unattendedChanges;
  }
  return TRUE;
}

void SystemIdleTimerReset() {
  std::lock_guard<std::mutex> g(P().m);
  ++P().record.idleTimerResets;
}

BOOL CeRunAppAtTime(LPCWSTR app, const SYSTEMTIME* at) {
  if (!app || !*app) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::u16string name(app);
  PowerRecord::WakeUp w{name, SYSTEMTIME{}, 0};
  if (at) {
    FILETIME local{}, utc{};
    if (!SystemTimeToFileTime(at, &local) || !LocalFileTimeToFileTime(&local, &utc)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    w.at = *at;
    w.atUnixMs = platform::fileTimeToUnixMs(utc);
  }
  std::lock_guard<std::mutex> g(P().m);
  auto& list = P().record.wakeUps;
  for (auto it = list.begin(); it != list.end(); ++it)
    if (platform::asciiEqualNoCase(it->app, name)) {
      list.erase(it);
      break;
    }
  if (at) list.push_back(std::move(w));
  return TRUE;
}

HANDLE SetPowerRequirement(LPCWSTR device, CEDEVICE_POWER_STATE state, ULONG deviceFlags, LPVOID, ULONG) {
  if (!device || !*device || state < D0 || state > D4) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard<std::mutex> g(P().m);
  HANDLE h = reinterpret_cast<HANDLE>(P().nextHandle);
  P().nextHandle += 4;
  P().record.requirements.push_back(PowerRecord::Requirement{h, device, state, deviceFlags});
  return h;
}

DWORD ReleasePowerRequirement(HANDLE requirement) {
  std::lock_guard<std::mutex> g(P().m);
  auto& list = P().record.requirements;
  for (auto it = list.begin(); it != list.end(); ++it)
    if (it->handle == requirement) {
      list.erase(it);
      return ERROR_SUCCESS;
    }
  return ERROR_INVALID_HANDLE;
}

#include "platform/systime.h"

#include <ctime>

#include "platform/clock.h"
#include "platform/handles.h"
#include "platform/text.h"

namespace platform {
namespace {

constexpr int64_t kTicksPerMs = 10000;

// Days since 1970-01-01 of a proleptic Gregorian date (civil-from-days inverse).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

bool validDate(const SYSTEMTIME& st) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12) return false;
  bool leap = (st.wYear % 4 == 0 && st.wYear % 100 != 0) || st.wYear % 400 == 0;
  int dim = kDays[st.wMonth - 1] + (st.wMonth == 2 && leap ? 1 : 0);
  return st.wDay >= 1 && st.wDay <= dim && st.wHour < 24 && st.wMinute < 60 && st.wSecond < 60 &&
         st.wMilliseconds < 1000;
}

SYSTEMTIME systemTimeFromUnixMs(int64_t ms) {
  int64_t days = ms >= 0 ? ms / 86400000 : -((-ms + 86399999) / 86400000);
  int64_t rest = ms - days * 86400000;
  int64_t y;
  unsigned m, d;
  civilFromDays(days, &y, &m, &d);
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(y);
  st.wMonth = static_cast<WORD>(m);
  st.wDay = static_cast<WORD>(d);
  st.wDayOfWeek = static_cast<WORD>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  st.wHour = static_cast<WORD>(rest / 3600000);
  st.wMinute = static_cast<WORD>(rest / 60000 % 60);
  st.wSecond = static_cast<WORD>(rest / 1000 % 60);
  st.wMilliseconds = static_cast<WORD>(rest % 1000);
  return st;
}

int64_t unixMsFromSystemTime(const SYSTEMTIME& st) {
  return daysFromCivil(st.wYear, st.wMonth, st.wDay) * 86400000 + st.wHour * 3600000LL + st.wMinute * 60000LL +
         st.wSecond * 1000LL + st.wMilliseconds;
}

// Offset of local time from UTC, in seconds, at the given UTC instant.
int64_t localOffsetAt(int64_t unixSec) {
  // TZ is read again whenever it changed, so the zone follows the process.
  tzset();
  time_t t = static_cast<time_t>(unixSec);
  struct tm lt;
  if (!localtime_r(&t, &lt)) return 0;
  return lt.tm_gmtoff;
}

// Offset for a local wall time: found by trying the offset of the nearby UTC
// instant, which settles within two steps outside the switch hours.
int64_t localOffsetForLocal(int64_t localSec) {
  int64_t off = localOffsetAt(localSec);
  off = localOffsetAt(localSec - off);
  return off;
}

}  // namespace

int64_t fileTimeToUnixMs(const FILETIME& ft) {
  uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<int64_t>(ticks / kTicksPerMs) - kFileTimeUnixOffsetSeconds * 1000;
}

FILETIME unixMsToFileTime(int64_t unixMs) {
  uint64_t ticks = static_cast<uint64_t>(unixMs + kFileTimeUnixOffsetSeconds * 1000) * kTicksPerMs;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

int64_t unixTimeNow() {
  int64_t ms = clockNowUnixMs();
  return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

}  // namespace platform

using namespace platform;

DWORD GetTickCount() { return static_cast<DWORD>(clockMonotonicMs()); }

void GetSystemTime(LPSYSTEMTIME st) {
  if (st) *st = systemTimeFromUnixMs(clockNowUnixMs());
}

void GetLocalTime(LPSYSTEMTIME st) {
  if (!st) return;
  int64_t ms = clockNowUnixMs();
  *st = systemTimeFromUnixMs(ms + localOffsetAt(unixTimeNow()) * 1000);
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* st, LPFILETIME ft) {
  if (!st || !ft || !validDate(*st)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *ft = unixMsToFileTime(unixMsFromSystemTime(*st));
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* ft, LPSYSTEMTIME st) {
  // Win32 refuses values with the top bit set.
  if (!ft || !st || (ft->dwHighDateTime & 0x80000000u)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *st = systemTimeFromUnixMs(fileTimeToUnixMs(*ft));
  return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME* utc, LPFILETIME local) {
  if (!utc || !local) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int64_t ms = fileTimeToUnixMs(*utc);
  *local = unixMsToFileTime(ms + localOffsetAt(ms / 1000) * 1000);
  return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME* local, LPFILETIME utc) {
  if (!local || !utc) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int64_t ms = fileTimeToUnixMs(*local);
  *utc = unixMsToFileTime(ms - localOffsetForLocal(ms / 1000) * 1000);
  return TRUE;
}

BOOL SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION* zone, const SYSTEMTIME* utc, LPSYSTEMTIME local) {
  if (zone || !utc || !local || !validDate(*utc)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int64_t ms = unixMsFromSystemTime(*utc);
  *local = systemTimeFromUnixMs(ms + localOffsetAt(ms / 1000) * 1000);
  return TRUE;
}

DWORD GetTimeZoneInformation(LPTIME_ZONE_INFORMATION tzi) {
  if (!tzi) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return TIME_ZONE_ID_INVALID;
  }
  *tzi = TIME_ZONE_INFORMATION{};
  tzset();
  time_t t = static_cast<time_t>(unixTimeNow());
  struct tm lt;
  if (!localtime_r(&t, &lt)) return TIME_ZONE_ID_UNKNOWN;
  tzi->Bias = static_cast<LONG>(-lt.tm_gmtoff / 60);
  std::u16string name = widen(lt.tm_zone ? lt.tm_zone : "");
  name.resize(std::min<size_t>(name.size(), 31));
  std::copy(name.begin(), name.end(), lt.tm_isdst > 0 ? tzi->DaylightName : tzi->StandardName);
  if (lt.tm_isdst > 0) return TIME_ZONE_ID_DAYLIGHT;
  return TIME_ZONE_ID_UNKNOWN;
}

LONG CompareFileTime(const FILETIME* a, const FILETIME* b) {
  uint64_t x = (static_cast<uint64_t>(a->dwHighDateTime) << 32) | a->dwLowDateTime;
  uint64_t y = (static_cast<uint64_t>(b->dwHighDateTime) << 32) | b->dwLowDateTime;
  return x < y ? -1 : x > y ? 1 : 0;
}

// System time, read from the one platform clock (platform/clock.h), so tests
// that run the clock by hand see every "now" move together.
#pragma once

#include "platform/types.h"

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};
typedef SYSTEMTIME* LPSYSTEMTIME;

// 100-nanosecond intervals since 1601-01-01 UTC.
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
typedef FILETIME* LPFILETIME;

struct TIME_ZONE_INFORMATION {
  LONG Bias;  // minutes: UTC = local time + Bias
  WCHAR StandardName[32];
  SYSTEMTIME StandardDate;
  LONG StandardBias;
  WCHAR DaylightName[32];
  SYSTEMTIME DaylightDate;
  LONG DaylightBias;
};
typedef TIME_ZONE_INFORMATION* LPTIME_ZONE_INFORMATION;

#define TIME_ZONE_ID_INVALID ((DWORD)0xFFFFFFFF)
#define TIME_ZONE_ID_UNKNOWN 0
#define TIME_ZONE_ID_STANDARD 1
#define TIME_ZONE_ID_DAYLIGHT 2

// Milliseconds of the monotonic scale; wraps after 49.7 days.
DWORD GetTickCount();
void GetSystemTime(LPSYSTEMTIME st);
void GetLocalTime(LPSYSTEMTIME st);
// FALSE with ERROR_INVALID_PARAMETER for an impossible date.
BOOL SystemTimeToFileTime(const SYSTEMTIME* st, LPFILETIME ft);
BOOL FileTimeToSystemTime(const FILETIME* ft, LPSYSTEMTIME st);
BOOL FileTimeToLocalFileTime(const FILETIME* utc, LPFILETIME local);
BOOL LocalFileTimeToFileTime(const FILETIME* local, LPFILETIME utc);
// Only the current zone is supported: `zone` must be NULL.
BOOL SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION* zone, const SYSTEMTIME* utc, LPSYSTEMTIME local);
DWORD GetTimeZoneInformation(LPTIME_ZONE_INFORMATION tzi);
LONG CompareFileTime(const FILETIME* a, const FILETIME* b);

namespace platform {

// Seconds between 1601-01-01 and 1970-01-01.
inline constexpr int64_t kFileTimeUnixOffsetSeconds = 11644473600LL;

int64_t fileTimeToUnixMs(const FILETIME& ft);
FILETIME unixMsToFileTime(int64_t unixMs);
// Seconds since 1970-01-01 UTC of the platform clock.
int64_t unixTimeNow();

}  // namespace platform

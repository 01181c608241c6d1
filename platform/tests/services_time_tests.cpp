#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include "platform/clock.h"
#include "platform/systime.h"
#include "platform/thread.h"

class ServicesTime : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = getenv("TZ");
    savedTz_ = tz ? tz : "";
    hadTz_ = tz != nullptr;
  }
  void TearDown() override {
    if (hadTz_)
      setenv("TZ", savedTz_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
    platform::clockSetReal();
  }
  std::string savedTz_;
  bool hadTz_ = false;
};

TEST_F(ServicesTime, SystemTimeFollowsTheManualClock) {
  platform::clockSetManual(1200000000250LL);  // 2008-01-10 21:20:00.250 UTC, a Thursday
  SYSTEMTIME st;
  GetSystemTime(&st);
  EXPECT_EQ(st.wYear, 2008);
  EXPECT_EQ(st.wMonth, 1);
  EXPECT_EQ(st.wDay, 10);
  EXPECT_EQ(st.wDayOfWeek, 4);
  EXPECT_EQ(st.wHour, 21);
  EXPECT_EQ(st.wMinute, 20);
  EXPECT_EQ(st.wSecond, 0);
  EXPECT_EQ(st.wMilliseconds, 250);
  DWORD t0 = GetTickCount();
  platform::clockAdvance(1500);
  EXPECT_EQ(GetTickCount() - t0, 1500u);
  GetSystemTime(&st);
  EXPECT_EQ(st.wSecond, 1);
  EXPECT_EQ(st.wMilliseconds, 750);
  // Sleep under the manual clock moves it instead of waiting.
  Sleep(60000);
  EXPECT_EQ(GetTickCount() - t0, 61500u);
}

TEST_F(ServicesTime, FileTimeConversionsRoundTrip) {
  SYSTEMTIME st{2000, 2, 0, 29, 23, 59, 58, 999};  // a leap day
  FILETIME ft;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
  EXPECT_EQ(platform::fileTimeToUnixMs(ft), 951868798999LL);
  SYSTEMTIME back;
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
  EXPECT_EQ(back.wYear, 2000);
  EXPECT_EQ(back.wMonth, 2);
  EXPECT_EQ(back.wDay, 29);
  EXPECT_EQ(back.wDayOfWeek, 2);  // a Tuesday
  EXPECT_EQ(back.wMilliseconds, 999);
  FILETIME epoch = platform::unixMsToFileTime(0);
  EXPECT_EQ((uint64_t(epoch.dwHighDateTime) << 32) | epoch.dwLowDateTime, 116444736000000000ULL);
  SYSTEMTIME bad{2001, 2, 0, 29, 0, 0, 0, 0};
  EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft));
  SYSTEMTIME badHour{2001, 3, 0, 1, 24, 0, 0, 0};
  EXPECT_FALSE(SystemTimeToFileTime(&badHour, &ft));
}

TEST_F(ServicesTime, LocalTimeUsesTheZone) {
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  platform::clockSetManual(1200000000000LL);  // winter: UTC+1
  SYSTEMTIME st;
  GetLocalTime(&st);
  EXPECT_EQ(st.wHour, 22);
  platform::clockSetManual(1215000000000LL);  // 2008-07-02 12:00 UTC, summer: UTC+2
  GetLocalTime(&st);
  EXPECT_EQ(st.wHour, 14);
  FILETIME utc = platform::unixMsToFileTime(1215000000000LL), local, again;
  ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
  EXPECT_EQ(platform::fileTimeToUnixMs(local), 1215000000000LL + 7200000);
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &again));
  EXPECT_EQ(CompareFileTime(&utc, &again), 0);
  TIME_ZONE_INFORMATION tzi;
  EXPECT_EQ(GetTimeZoneInformation(&tzi), static_cast<DWORD>(TIME_ZONE_ID_DAYLIGHT));
  EXPECT_EQ(tzi.Bias, -120);
}

// Local time follows the process's TZ, also when it changes while running.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/systime.h"
#include "testkit/testkit.h"

namespace {

class LocalZone : public testkit::PlatformTest {
 protected:
  void SetUp() override {
    testkit::PlatformTest::SetUp();
    if (const char* tz = std::getenv("TZ")) old_ = tz, had_ = true;
  }
  void TearDown() override {
    if (had_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    testkit::PlatformTest::TearDown();
  }
  // Local minus UTC, in minutes, for an instant in January.
  static int64_t offsetMinutes() {
    FILETIME utc = platform::unixMsToFileTime(1767225600000), local{};
    EXPECT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    return (platform::fileTimeToUnixMs(local) - 1767225600000) / 60000;
  }
  std::string old_;
  bool had_ = false;
};

TEST_F(LocalZone, TheZoneIsReadAgainWhenTzChanges) {
  setenv("TZ", "UTC0", 1);
  EXPECT_EQ(offsetMinutes(), 0);
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  EXPECT_EQ(offsetMinutes(), 60);
  TIME_ZONE_INFORMATION tzi{};
  GetTimeZoneInformation(&tzi);
  EXPECT_EQ(tzi.Bias, -60);
  setenv("TZ", "EST5", 1);
  EXPECT_EQ(offsetMinutes(), -300);
  SYSTEMTIME st{};
  GetLocalTime(&st);
  SYSTEMTIME u{};
  GetSystemTime(&u);
  EXPECT_EQ((u.wHour + 24 - st.wHour) % 24, 5);
}

}  // namespace

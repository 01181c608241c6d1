// The power calls change nothing on Linux; what they asked for is recorded.
#include "platform/handles.h"
#include "platform/power.h"
#include "testkit/testkit.h"

namespace {

class ServicesPower : public testkit::PlatformTest {};

SYSTEMTIME localTime(WORD year, WORD month, WORD day, WORD hour, WORD minute) {
  SYSTEMTIME t{};
  t.wYear = year;
  t.wMonth = month;
  t.wDay = day;
  t.wHour = hour;
  t.wMinute = minute;
  return t;
}

}  // namespace

TEST_F(ServicesPower, UnattendedModeCountsItsRequests) {
  EXPECT_TRUE(PowerPolicyNotify(PPN_UNATTENDEDMODE, TRUE));
  EXPECT_TRUE(PowerPolicyNotify(PPN_UNATTENDEDMODE, TRUE));
  EXPECT_TRUE(PowerPolicyNotify(PPN_UNATTENDEDMODE, FALSE));
  EXPECT_TRUE(testkit::powerRecord().unattended());  // one request still open
  EXPECT_TRUE(PowerPolicyNotify(PPN_UNATTENDEDMODE, FALSE));
  EXPECT_TRUE(PowerPolicyNotify(PPN_UNATTENDEDMODE, FALSE));  // unmatched: stays out
  platform::PowerRecord r = testkit::powerRecord();
  EXPECT_FALSE(r.unattended());
  EXPECT_EQ(r.unattendedCount, 0);
  EXPECT_EQ(r.unattendedChanges, 2);
  EXPECT_FALSE(PowerPolicyNotify(0x99, TRUE));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(testkit::powerRecord().notifications, 5);

  SystemIdleTimerReset();
  SystemIdleTimerReset();
  EXPECT_EQ(testkit::powerRecord().idleTimerResets, 2);
  testkit::resetPowerRecord();
  EXPECT_EQ(testkit::powerRecord().idleTimerResets, 0);
}

TEST_F(ServicesPower, OneWakeUpPerProgramReplacedOrCancelled) {
  const std::u16string host = u"/opt/olvaro/olvaro";
  SYSTEMTIME first = localTime(2026, 1, 2, 10, 0);
  SYSTEMTIME later = localTime(2026, 1, 2, 10, 5);
  ASSERT_TRUE(CeRunAppAtTime(host.c_str(), &first));
  ASSERT_TRUE(CeRunAppAtTime(host.c_str(), &later));
  ASSERT_TRUE(CeRunAppAtTime(u"/opt/other", &first));
  platform::PowerRecord r = testkit::powerRecord();
  ASSERT_EQ(r.wakeUps.size(), 2u);
  const platform::PowerRecord::WakeUp* w = r.wakeUpOf(u"/OPT/olvaro/OLVARO");  // paths ignore ASCII case
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->at.wMinute, 5);
  EXPECT_EQ(r.wakeUpOf(u"/opt/other")->atUnixMs - w->atUnixMs, -5 * 60 * 1000);

  EXPECT_TRUE(CeRunAppAtTime(host.c_str(), nullptr));
  EXPECT_EQ(testkit::powerRecord().wakeUpOf(host), nullptr);
  SYSTEMTIME bad = localTime(2026, 13, 1, 0, 0);
  EXPECT_FALSE(CeRunAppAtTime(host.c_str(), &bad));
  EXPECT_FALSE(CeRunAppAtTime(nullptr, &first));
  EXPECT_EQ(testkit::powerRecord().wakeUps.size(), 1u);
}

TEST_F(ServicesPower, PowerRequirementsAreHeldUntilReleased) {
  HANDLE backlight = SetPowerRequirement(u"BKL1:", D0, POWER_NAME, nullptr, 0);
  HANDLE radio = SetPowerRequirement(u"WAV1:", D2, POWER_NAME, nullptr, 0);
  ASSERT_NE(backlight, nullptr);
  ASSERT_NE(radio, nullptr);
  EXPECT_NE(backlight, radio);
  EXPECT_EQ(SetPowerRequirement(u"BKL1:", PwrDeviceMaximum, POWER_NAME, nullptr, 0), nullptr);
  EXPECT_EQ(SetPowerRequirement(nullptr, D0, POWER_NAME, nullptr, 0), nullptr);
  platform::PowerRecord r = testkit::powerRecord();
  ASSERT_EQ(r.requirements.size(), 2u);
  EXPECT_EQ(r.requirements[0].device, u"BKL1:");
  EXPECT_EQ(r.requirements[0].state, D0);
  EXPECT_EQ(ReleasePowerRequirement(backlight), DWORD(ERROR_SUCCESS));
  EXPECT_EQ(ReleasePowerRequirement(backlight), DWORD(ERROR_INVALID_HANDLE));
  r = testkit::powerRecord();
  ASSERT_EQ(r.requirements.size(), 1u);
  EXPECT_EQ(r.requirements[0].handle, radio);
}

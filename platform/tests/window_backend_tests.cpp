// One device backend takes the screen, the input, the vibration motor and
// the LEDs.
#include "platform/device_backend.h"
#include "platform/phoneshell.h"
#include "platform/screen.h"
#include "testkit/testkit.h"

namespace {

struct Seen {
  int presents = 0;
  int polls = 0;
  std::vector<bool> vibrations;
  std::vector<std::pair<UINT, int>> leds;
};
Seen g_seen;

class RecordingBackend : public platform::DeviceBackend {
 public:
  const char* name() const override { return "recording"; }
  void present(const RECT&) override { ++g_seen.presents; }
  void pollInput() override { ++g_seen.polls; }
  void vibrate(bool on) override { g_seen.vibrations.push_back(on); }
  void setLed(UINT led, int state) override { g_seen.leds.emplace_back(led, state); }
};

class DeviceBackends : public testkit::PlatformTest {
 protected:
  void TearDown() override {
    platform::screenSelectBackend("headless");
    testkit::PlatformTest::TearDown();
  }
};

TEST_F(DeviceBackends, OneBackendTakesScreenInputVibrationAndLeds) {
  g_seen = Seen();
  platform::screenRegisterBackend("recording", [] {
    return std::unique_ptr<platform::DeviceBackend>(std::make_unique<RecordingBackend>());
  });
  ASSERT_TRUE(platform::screenSelectBackend("recording"));
  EXPECT_STREQ(platform::deviceBackend()->name(), "recording");
  EXPECT_FALSE(platform::screenSelectBackend("no-such-backend"));
  EXPECT_STREQ(platform::deviceBackend()->name(), "recording");  // the one in use stays

  HWND w = CreateWindowEx(0, u"STATIC", u"x", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
  testkit::pump();
  EXPECT_GT(g_seen.presents, 0);
  EXPECT_GT(g_seen.polls, 0);

  Vibrate(0, nullptr, FALSE, 0);
  VibrateStop();
  EXPECT_EQ(g_seen.vibrations, (std::vector<bool>{true, false}));
  NLED_SETTINGS_INFO led{1, 2, 0, 0, 0, 0, 0};
  ASSERT_TRUE(NLedSetDevice(NLED_SETTINGS_INFO_ID, &led));
  led.OffOnBlink = 5;
  EXPECT_FALSE(NLedSetDevice(NLED_SETTINGS_INFO_ID, &led));  // refused before the device sees it
  EXPECT_EQ(g_seen.leds, (std::vector<std::pair<UINT, int>>{{1u, 2}}));
  EXPECT_EQ(platform::shellLedState(1), 2);
  DestroyWindow(w);
}

}  // namespace

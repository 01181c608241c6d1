// One device backend takes the screen, the input, the vibration motor and
// the LEDs.
#include <cstdlib>
#include <fstream>
#include <optional>

#include "platform/device_backend.h"
#include "platform/phoneshell.h"
#include "platform/screen.h"
#include "testkit/desktop_session.h"
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

// An environment variable set for a while, then put back as it was.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* was = std::getenv(name)) was_ = was;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedVariable() {
    if (was_) setenv(name_, was_->c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> was_;
};

// With OLVARO_SDL_SCALE unset, the SDL window is scaled by the display's
// density, one step per 96 dots per inch, on an X server of the test's own:
// the density the screen's size gives, or the desktop's Xft.dpi before it,
// and never so large that the window leaves the screen.
TEST_F(DeviceBackends, TheSdlWindowsScaleFollowsTheDisplaysDensity) {
  struct Case {
    int width, height, dpi;
    const char* resource;
    int scale;
  };
  const Case cases[] = {{1024, 768, 96, nullptr, 1},
                        {1024, 768, 192, nullptr, 2},
                        {1024, 768, 96, "Xft.dpi: 192", 2},
                        {1024, 768, 192, "Xft.dpi: 96", 1},
                        {800, 480, 192, nullptr, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.dpi) + " dpi, " + (c.resource ? c.resource : "no resources"));
    testkit::DesktopSession desktop;
    desktop.setScreen(c.width, c.height, c.dpi);
    std::string why;
    if (!desktop.start(&why, false)) GTEST_SKIP() << why;
    if (c.resource) {
      std::ofstream(desktop.folder() + "/resources") << c.resource << "\n";
      ASSERT_EQ(desktop.run("xrdb -merge '" + desktop.folder() + "/resources'"), 0) << "xrdb";
    }
    ScopedVariable x("DISPLAY", desktop.display().c_str()), driver("SDL_VIDEODRIVER", "x11"), scale("OLVARO_SDL_SCALE", nullptr);
    if (!platform::screenSelectBackend("sdl")) GTEST_SKIP() << "no SDL window backend here";
    std::string geometry;
    int found = desktop.run("timeout 10 xdotool search --sync --name '^Olvaro$' getwindowgeometry --shell", &geometry);
    platform::screenSelectBackend("headless");
    ASSERT_EQ(found, 0) << "no window";
    EXPECT_NE(geometry.find("WIDTH=" + std::to_string(platform::screenWidth() * c.scale) + "\n"), std::string::npos)
        << geometry;
    EXPECT_NE(geometry.find("HEIGHT=" + std::to_string(platform::screenHeight() * c.scale) + "\n"), std::string::npos)
        << geometry;
  }
}

}  // namespace

// The built plug-in as the host loads it: only interface version 5, its own
// icons on a phone, and everything gone when it stops.
#include "hubtest/plugin_loading.h"
#include "platform/module.h"
#include "tray_fixture.h"

using namespace glimmettest;

TEST_F(TrayTest, PluginStartsAndStopsWithItsOwnIconsOnAPhone) {
  setenv("OLVARO_PLATFORM", "SmartPhone", 1);
  HMODULE library = nullptr;
  kestrum::Plugin* plugin = hubtest::loadAsHost(GLIMMET_PLUGIN, &library);
  ASSERT_NE(plugin, nullptr);

  for (int run = 0; run < 2; ++run) {
    plugin->Start();
    testkit::pump();
    EXPECT_EQ(plugin->state, 1);
    HWND sinkWindow = testkit::findWindow("KS_GLIMMET_SINK_WINDOW");
    ASSERT_NE(sinkWindow, nullptr);
    auto icons = platform::shellTrayIcons();
    ASSERT_EQ(icons.size(), 1u);
    EXPECT_EQ(icons[0].hwnd, sinkWindow);
    // The plug-in's own offline icon, not this program's stand-in.
    EXPECT_TRUE(drawsAs(icons[0].icon, library, MAKEINTRESOURCE(103)));
    EXPECT_FALSE(drawsAs(icons[0].icon, GetModuleHandle(nullptr), MAKEINTRESOURCE(103)));
    unread(run + 1);
    EXPECT_EQ(bubbles().size(), 1u);

    plugin->Stop();
    testkit::pump();
    EXPECT_EQ(plugin->state, 0);
    EXPECT_TRUE(platform::shellTrayIcons().empty());
    EXPECT_TRUE(bubbles().empty());
    EXPECT_EQ(testkit::findWindow("KS_GLIMMET_SINK_WINDOW"), nullptr);
    unread(0);
    unread(5);
    EXPECT_TRUE(bubbles().empty()) << "no longer listening";
    unread(0);
  }
}

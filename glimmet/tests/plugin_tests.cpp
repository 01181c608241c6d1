// The built plug-in as the host loads it: only interface version 5, its own
// icons on a phone, and everything gone when it stops.
#include "platform/module.h"
#include "tray_fixture.h"

using namespace glimmettest;

namespace {

using LoadFn = int (*)(int, kestrum::Plugin**);

}  // namespace

TEST_F(TrayTest, PluginStartsAndStopsWithItsOwnIconsOnAPhone) {
  setenv("OLVARO_PLATFORM", "SmartPhone", 1);
  HMODULE library = LoadLibrary(testkit::wide(GLIMMET_PLUGIN).c_str());
  ASSERT_NE(library, nullptr);
  auto load = reinterpret_cast<LoadFn>(GetProcAddress(library, "PluginLoad"));
  ASSERT_NE(load, nullptr);
  ASSERT_NE(GetProcAddress(library, "PluginUnload"), nullptr);
  kestrum::Plugin* plugin = reinterpret_cast<kestrum::Plugin*>(1);
  EXPECT_EQ(load(4, &plugin), 0);
  EXPECT_EQ(plugin, nullptr);
  ASSERT_EQ(load(5, &plugin), 1);
  ASSERT_NE(plugin, nullptr);
  kestrum::Plugin* again = nullptr;
  load(5, &again);
  EXPECT_EQ(again, plugin);

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

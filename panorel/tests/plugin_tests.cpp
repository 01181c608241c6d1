// The built plug-in as the host loads it: only interface version 5, and
// everything it put into the main window gone when it stops.
#include "hubtest/plugin_loading.h"
#include "panorel_fixture.h"

namespace panoreltest {
namespace {

int childCount(HWND parent) {
  int n = 0;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) ++n;
  return n;
}

TEST_F(PanorelTest, PluginFillsTheMainWindowAndLeavesNothingBehind) {
  kestrum::Plugin* plugin = hubtest::loadAsHost(PANOREL_PLUGIN);
  ASSERT_TRUE(plugin);

  HWND layout = static_cast<fwk::BoxLayout*>(KS_GetVariantPtr("core.window.layout"))->hwnd();
  int before = childCount(layout);
  for (int run = 0; run < 2; ++run) {
    plugin->Start();
    testkit::pump();
    EXPECT_EQ(plugin->state, 1);
    EXPECT_EQ(childCount(layout), before + 2) << "the view and the tab strip";
    EXPECT_EQ(GetMenuItemCount(host->menu()), 8);
    EXPECT_TRUE(KS_GetFunctionProcAddress("Overview/CreateSection", nullptr, nullptr));
    GroupData d{};
    d.size = sizeof d;
    HGroup* own = KS_GetGroup(0);
    KS_GetGroupData(own, &d);
    EXPECT_STREQ(d.name, "Contacts") << "from the plug-in's own string table";
    KS_ReleaseGroup(own);

    plugin->Stop();
    testkit::pump();
    EXPECT_EQ(plugin->state, 0);
    EXPECT_EQ(childCount(layout), before);
    EXPECT_EQ(GetMenuItemCount(host->menu()), 4);
    EXPECT_FALSE(KS_GetFunctionProcAddress("Overview/CreateSection", nullptr, nullptr));
  }
}

}  // namespace
}  // namespace panoreltest

// The built plug-in as the host loads it: it signs in by itself with the
// saved account, keeps its own sink window class, and stops cleanly.
#include <set>

#include "hubtest/plugin_loading.h"
#include "server_fixture.h"

using namespace conntest;

namespace {

std::set<std::string> sinkClasses() {
  std::set<std::string> names;
  HWND windows[512];
  int n = platform::enumWindows(windows, 512);
  for (int i = 0; i < n && i < 512; ++i) {
    std::string name = testkit::className(windows[i]);
    if (name.rfind("KS_CON_SINK_WINDOW_", 0) == 0) names.insert(name);
  }
  return names;
}

}  // namespace

TEST_F(ServerTest, PluginSignsInByItselfWithTheSavedAccount) {
  kestrum::Plugin* plugin = hubtest::loadAsHost(CONNECTION_PLUGIN);
  ASSERT_TRUE(plugin);

  credentials("ann@example.org", "secret12");
  useServer(port(*server));
  olvaro::net::connectionSinkWindow();  // this program's own sink
  plugin->Start();
  EXPECT_EQ(plugin->state, 1);
  ASSERT_TRUE(waitState(100));
  EXPECT_EQ(server->signed_in_count(), 1u);

  // The plug-in and this program each carry the transport: two classes.
  EXPECT_EQ(sinkClasses().size(), 2u);
  EXPECT_TRUE(testkit::findWindow("KS_TIMER_SINK_WINDOW"));

  int32_t busy = 5;
  EXPECT_EQ(KS_CallFunction("Connection/SetPresenceStatus", &busy), 1u);
  plugin->Stop();
  EXPECT_EQ(plugin->state, 0);
  EXPECT_EQ(state(), 0);
  EXPECT_EQ(KS_CallFunction("Connection/SetPresenceStatus", &busy), 0u);  // unregistered
  EXPECT_TRUE(waitFor([&] { return server->signed_in_count() == 0; }));
  runClock(30000);
  EXPECT_EQ(state(), 0);
}

// Signing in through the real tinyproxy, started on a free port for the test.
#include "server_fixture.h"

using namespace conntest;

TEST_F(ServerTest, SignsInThroughTinyproxy) {
  Tinyproxy proxy(session().home());
  ASSERT_TRUE(proxy.ready());
  credentials("ann@example.org", "secret12");
  useServer(port(*server));
  KS_SetSettingLong("Connection/Proxy/Type", 1);
  KS_SetSettingString("Connection/Proxy/Host", "127.0.0.1");
  KS_SetSettingLong("Connection/Proxy/Port", proxy.port());
  start();
  ASSERT_TRUE(waitState(100));
  EXPECT_EQ(states, (std::vector<long>{10, 30, 35, 40, 50, 60, 100}));
  EXPECT_TRUE((boxes->count() == 0));
  EXPECT_EQ(server->signed_in_count(), 1u);
}

TEST_F(ServerTest, TinyproxyRefusingTheTunnelStopsTheAttempt) {
  // Only port 1 may be tunnelled, so the server's port is refused.
  Tinyproxy restricted(session().home(), "ConnectPort 1\n");
  ASSERT_TRUE(restricted.ready());
  credentials("ann@example.org", "secret12");
  useServer(port(*server));
  KS_SetSettingLong("Connection/Proxy/Type", 1);
  KS_SetSettingString("Connection/Proxy/Host", "127.0.0.1");
  KS_SetSettingLong("Connection/Proxy/Port", restricted.port());
  start();
  ASSERT_TRUE(waitFor([&] { return !(boxes->count() == 0); }));
  EXPECT_EQ(boxes->boxes()[0].text.rfind("The proxy rejected the connection:\n\nHTTP/1.", 0), 0u) << boxes->boxes()[0].text;
  ASSERT_TRUE(waitState(0, 10000));
  EXPECT_EQ(connection->disconnectReason(), 4);
  runClock(30000);
  EXPECT_EQ(state(), 0);
}

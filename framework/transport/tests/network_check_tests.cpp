// The network check: already online, a link made by the connection manager,
// or none to be had; and the manager's links are always given back.
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "platform/connmgr.h"
#include "testkit/testkit.h"
#include "transport/socket_connection.h"

namespace {

class Checking : public olvaro::net::SocketConnection {
 public:
  void onNetworkReady(bool linkMade) override {
    ++reports;
    made = linkMade;
  }
  int reports = 0;
  bool made = false;
};

class NetworkCheck : public testkit::PlatformTest {
 protected:
  // The check runs on a worker thread that reports through the sink window:
  // handle messages until `done`, for at most five seconds of real time.
  static bool pumpUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 5000; ++i) {
      testkit::pump();
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
  static bool check(Checking& c) {
    int before = c.reports;
    c.checkNetwork();
    return pumpUntil([&] { return c.reports > before; });
  }
};

TEST_F(NetworkCheck, AnOwnAddressOtherThanLoopbackOrBroadcastMeansOnline) {
  testkit::FakeNetwork net({"127.0.0.1", "10.20.30.40"}, {"127.0.0.1"});
  int requests = platform::connMgrRequests();
  Checking c;
  ASSERT_TRUE(check(c));
  EXPECT_FALSE(c.made);
  EXPECT_FALSE(c.holdsNetworkLink());
  EXPECT_EQ(platform::connMgrRequests(), requests);  // the manager was not asked
}

TEST_F(NetworkCheck, OfflineAsksTheConnectionManagerForAnInternetLink) {
  // The own name resolves to loopback and broadcast only, as on a machine
  // whose host name is in /etc/hosts; an interface has a real address.
  testkit::FakeNetwork net({"127.0.1.1", "255.255.255.255"}, {"127.0.0.1", "10.1.2.3"});
  {
    Checking c;
    ASSERT_TRUE(check(c));
    EXPECT_TRUE(c.made);
    EXPECT_TRUE(c.holdsNetworkLink());
    EXPECT_EQ(platform::connMgrOpenConnections(), 1);
    CONNMGR_CONNECTIONINFO asked = platform::connMgrLastRequest();
    EXPECT_EQ(asked.cbSize, sizeof(CONNMGR_CONNECTIONINFO));
    EXPECT_EQ(asked.dwParams, DWORD(CONNMGR_PARAM_GUIDDESTNET));
    EXPECT_EQ(asked.dwPriority, 0x200u);
    EXPECT_TRUE(asked.guidDestNet == IID_DestNetInternet);
    EXPECT_FALSE(asked.bExclusive);

    // A new check gives the held link back before asking again.
    ASSERT_TRUE(check(c));
    EXPECT_TRUE(c.made);
    EXPECT_EQ(platform::connMgrOpenConnections(), 1);
  }
  EXPECT_EQ(platform::connMgrOpenConnections(), 0);  // and so does the destructor
}

TEST_F(NetworkCheck, NoPathReportsReadyWithoutALink) {
  testkit::FakeNetwork net({"127.0.0.1"}, {"127.0.0.1"});
  Checking c;
  int requests = platform::connMgrRequests();
  ASSERT_TRUE(check(c));
  EXPECT_FALSE(c.made);
  EXPECT_FALSE(c.holdsNetworkLink());
  EXPECT_EQ(platform::connMgrRequests(), requests + 1);
  EXPECT_EQ(platform::connMgrOpenConnections(), 0);
}

TEST_F(NetworkCheck, ALinkMadeForAConnectionThatIsGoneIsGivenBack) {
  testkit::FakeNetwork net({"127.0.0.1"}, {"10.1.2.3"});
  int requests = platform::connMgrRequests();
  auto c = std::make_unique<Checking>();
  c->checkNetwork();
  c.reset();
  EXPECT_TRUE(pumpUntil(
      [&] { return platform::connMgrRequests() == requests + 1 && platform::connMgrOpenConnections() == 0; }));
}

TEST(ConnectionManager, RefusesABadRecord) {
  CONNMGR_CONNECTIONINFO info{};
  HANDLE h = INVALID_HANDLE_VALUE;
  EXPECT_EQ(ConnMgrEstablishConnectionSync(&info, &h, 1000, nullptr), E_INVALIDARG);  // cbSize 0
  EXPECT_EQ(h, nullptr);
  info.cbSize = sizeof info;
  EXPECT_EQ(ConnMgrEstablishConnectionSync(&info, nullptr, 1000, nullptr), E_INVALIDARG);
  EXPECT_EQ(ConnMgrEstablishConnectionSync(nullptr, &h, 1000, nullptr), E_INVALIDARG);
  EXPECT_EQ(ConnMgrReleaseConnection(reinterpret_cast<HANDLE>(0x12345), FALSE), E_INVALIDARG);
}

}  // namespace

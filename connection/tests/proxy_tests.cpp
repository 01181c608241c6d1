// Signing in through the real tinyproxy, started on a free port for the test.
#include <signal.h>
#include <sys/wait.h>

#include <fstream>

#include "server_fixture.h"

using namespace conntest;

namespace {

class Tinyproxy {
 public:
  explicit Tinyproxy(const std::string& folder, const std::string& extra = std::string()) {
    port_ = closedPort();
    std::string conf = folder + "/tinyproxy.conf";
    std::ofstream(conf) << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 600\nAllow 127.0.0.1\n"
                        << "MaxClients 10\nLogLevel Critical\nLogFile \"" << folder << "/tinyproxy.log\"\n" << extra;
    pid_ = fork();
    if (pid_ == 0) {
      execlp("tinyproxy", "tinyproxy", "-d", "-c", conf.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~Tinyproxy() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  int port() const { return port_; }
  // Waits until the proxy accepts connections.
  bool ready() {
    return waitFor([&] {
      int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(uint16_t(port_));
      bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      ::close(s);
      return ok;
    }, 5000);
  }

 private:
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace

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

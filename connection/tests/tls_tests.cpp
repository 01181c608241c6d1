// The encrypted link against the real server: a verified sign-in and
// messages over TLS directly, through tinyproxy and over IPv6, a server's
// bytes cut into single bytes on the way, and each way verification refuses,
// always with a box, never in plain and never again on its own.
#include <netinet/tcp.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "connection_ui.h"
#include "messenger_fixture.h"
#include "status_bar.h"
#include "status_lock.h"
#include "ui_fixture.h"

using namespace conntest;

namespace {

struct Keys {
  std::string cert, key;
};

// A certificate authority of the test's own, and what it signs.
struct Authority {
  Keys ca;
  Authority() { EXPECT_TRUE(srv::make_certificate({"Olvaro Test CA"}, "", "", true, &ca.cert, &ca.key)); }
  Keys issue(const std::vector<std::string>& names) const {
    Keys k;
    EXPECT_TRUE(srv::make_certificate(names, ca.cert, ca.key, false, &k.cert, &k.key));
    return k;
  }
};

Keys selfSigned(const std::vector<std::string>& names) {
  Keys k;
  EXPECT_TRUE(srv::make_certificate(names, "", "", false, &k.cert, &k.key));
  return k;
}

int listenOn(int family, int* port) {
  int s = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_storage a{};
  socklen_t size = 0;
  if (family == AF_INET6) {
    auto& a6 = reinterpret_cast<sockaddr_in6&>(a);
    a6.sin6_family = AF_INET6;
    a6.sin6_addr = in6addr_loopback;
    size = sizeof a6;
  } else {
    auto& a4 = reinterpret_cast<sockaddr_in&>(a);
    a4.sin_family = AF_INET;
    a4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    size = sizeof a4;
  }
  if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&a), size) != 0 || listen(s, 4) != 0) {
    if (s >= 0) ::close(s);
    return -1;
  }
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
  *port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(a).sin6_port
                                   : reinterpret_cast<sockaddr_in&>(a).sin_port);
  return s;
}

// Stands between the client and a server port: what the client says goes
// on as it comes, what the server says goes back one byte per send, with a
// pause after each, so every record reaches the client cut into pieces.
class ByteRelay {
 public:
  explicit ByteRelay(int target) : target_(target) {
    listener_ = listenOn(AF_INET, &port_);
    thread_ = std::thread([this] { run(); });
  }
  ~ByteRelay() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  int port() const { return port_; }
  size_t bytesToClient() const { return toClient_; }

 private:
  void run() {
    pollfd wait{listener_, POLLIN, 0};
    while (!stop_ && poll(&wait, 1, 50) == 0) {}
    if (stop_) return;
    int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(target_));
    int one = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (client >= 0 && ::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      char buffer[4096];
      while (!stop_) {
        if (poll(p, 2, 50) <= 0) continue;
        if (p[0].revents) {
          ssize_t n = recv(client, buffer, sizeof buffer, 0);
          if (n <= 0 || ::send(server, buffer, size_t(n), MSG_NOSIGNAL) != n) break;
        }
        if (p[1].revents) {
          ssize_t n = recv(server, buffer, sizeof buffer, 0);
          if (n <= 0) break;
          for (ssize_t i = 0; i < n && !stop_; ++i) {
            if (::send(client, buffer + i, 1, MSG_NOSIGNAL) != 1) break;
            ++toClient_;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
          }
        }
      }
    }
    if (client >= 0) ::close(client);
    ::close(server);
  }
  int target_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<size_t> toClient_{0};
  std::thread thread_;
};

class TlsTest : public MessengerTest {
 protected:
  // Trusts the authority through "Connection/TLS/CAFile".
  void trust(const Authority& authority) {
    std::string file = session().home() + "/ca.pem";
    std::ofstream(file) << authority.ca.cert;
    KS_SetSettingString("Connection/TLS/CAFile", file.c_str());
  }
  void signInTo(const std::string& entry) {
    credentials("ann@example.org", "secret12");
    servers(entry);
    start();
  }
  std::string tlsEntry(const std::string& host = "127.0.0.1") { return "tls:" + host + ":" + std::to_string(tlsPort()); }
  // Messages both ways over the signed-in link, bob speaking plain.
  void exchangeMessages(const std::string& tag) {
    auto b = signInBob(*server);
    sendFromHub(bob, "text/plain", "to bob " + tag);
    WireMessage got;
    ASSERT_TRUE(b->nextMessage(&got));
    EXPECT_EQ(got.payload, "to bob " + tag);
    size_t before = inbox->messages.size();
    ASSERT_EQ(b->response(b->sendMessage(ann, false, "text/plain", "to ann " + tag)), 4);
    ASSERT_TRUE(waitFor([&] { return inbox->messages.size() == before + 1; }));
    EXPECT_EQ(inbox->messages.back().payload, "to ann " + tag);
  }
  // The attempt ended with the box saying why, no sign-in, nothing more
  // tried: one connect, no reconnect even after a while.
  void expectRefused(const std::string& reason, const std::string& subject = std::string()) {
    ASSERT_TRUE(waitFor([&] { return boxes->count() != 0; }, 20000));
    ASSERT_TRUE(waitState(0));
    EXPECT_EQ(boxes->boxes()[0].caption, "Login Failed");
    std::string text = "The encrypted connection to the server could not be made.\n\n" + reason;
    if (!subject.empty()) text += "\n\nCertificate: " + subject;
    EXPECT_EQ(boxes->boxes()[0].text, text);
    EXPECT_EQ(connection->disconnectReason(), 4);
    runClock(60000, 5000);
    EXPECT_EQ(state(), 0);
    EXPECT_EQ(std::count(states.begin(), states.end(), 30L), 1) << "connected again";
    EXPECT_EQ(boxes->count(), 1u);
    EXPECT_EQ(server->signed_in_count(), 0u);
    EXPECT_EQ(KS_GetVariantLong(olvaro::kEncryptedVariant), 0);
  }
};

bool ipv6Loopback() {
  int port = 0;
  int s = listenOn(AF_INET6, &port);
  if (s >= 0) ::close(s);
  return s >= 0;
}

}  // namespace

TEST_F(TlsTest, SignsInVerifiedByAuthorityAndNameThenMessagesAcrossAKeyUpdate) {
  Authority authority;
  Keys keys = authority.issue({"127.0.0.1"});
  restartWithTls(keys.cert, keys.key);
  trust(authority);
  MainWindowStandIn main;
  signInTo(tlsEntry());
  olvaro::conn::ConnectionUi ui(connection.get());
  ASSERT_TRUE(waitState(100));
  EXPECT_EQ(states, (std::vector<long>{10, 30, 40, 50, 60, 100}));
  EXPECT_TRUE(connection->encrypted());
  EXPECT_EQ(KS_GetVariantLong(olvaro::kEncryptedVariant), 1);
  // The strip shows the lock, and the status line beside it whole.
  testkit::pump();
  EXPECT_GT(lockPixels(ui.statusBar()->hwnd()), 20);
  EXPECT_EQ(testkit::narrow(olvaro::conn::statusSecondLine(100, 0, service())), "around");
  testkit::saveScreenshot("connection_status_bar_encrypted");
  exchangeMessages("first");
  // New keys both ways mid-session; the conversation goes on.
  ASSERT_TRUE(connection->tlsSession()->requestKeyUpdate());
  exchangeMessages("after the key update");
  EXPECT_TRUE(connection->encrypted());
  EXPECT_EQ(boxes->count(), 0u);
  // The lock goes with the link.
  server.reset();
  ASSERT_TRUE(waitFor([&] { return state() != 100; }));
  testkit::pump();
  EXPECT_EQ(lockPixels(ui.statusBar()->hwnd()), 0);
}

TEST_F(TlsTest, SignsInThroughTinyproxyAndOverIpv6WithAPinnedKey) {
  Keys keys = selfSigned({"localhost"});
  bool v6 = ipv6Loopback();
  restartWithTls(keys.cert, keys.key, v6 ? "::" : "127.0.0.1");
  KS_SetSettingString("Connection/TLS/Pin", srv::key_pin(keys.cert).c_str());
  Tinyproxy proxy(session().home());
  ASSERT_TRUE(proxy.ready());
  KS_SetSettingLong("Connection/Proxy/Type", 1);
  KS_SetSettingString("Connection/Proxy/Host", "127.0.0.1");
  KS_SetSettingLong("Connection/Proxy/Port", proxy.port());
  signInTo(tlsEntry());
  ASSERT_TRUE(waitState(100));
  EXPECT_EQ(states, (std::vector<long>{10, 30, 35, 40, 50, 60, 100}));
  EXPECT_TRUE(connection->encrypted());
  exchangeMessages("through the proxy");
  connection.reset();
  if (!v6) GTEST_SKIP() << "no IPv6 loopback here";

  // The same server by its IPv6 loopback address, directly.
  KS_SetSettingLong("Connection/Proxy/Type", 0);
  olvaro::conn::ServerList::instance().reset();
  states.clear();
  signInTo(tlsEntry("[::1]"));
  ASSERT_TRUE(waitState(100));
  EXPECT_TRUE(connection->encrypted());
  EXPECT_EQ(olvaro::conn::ServerList::instance().current().host, "::1");
  exchangeMessages("over IPv6");
}

TEST_F(TlsTest, ARecordArrivingAByteAtATimeStillSignsIn) {
  Keys keys = selfSigned({"localhost"});
  restartWithTls(keys.cert, keys.key);
  KS_SetSettingString("Connection/TLS/Pin", srv::key_pin(keys.cert).c_str());
  ByteRelay relay(tlsPort());
  signInTo("tls:127.0.0.1:" + std::to_string(relay.port()));
  ASSERT_TRUE(waitState(100, 30000));
  EXPECT_TRUE(connection->encrypted());
  // The certificate alone is several hundred bytes, each its own send.
  EXPECT_GT(relay.bytesToClient(), 500u);
}

TEST_F(TlsTest, ACertificateForAnotherNameIsRefused) {
  Authority authority;
  Keys keys = authority.issue({"other.example"});
  restartWithTls(keys.cert, keys.key);
  trust(authority);
  signInTo(tlsEntry());
  expectRefused("The server's certificate was made for another server name.", "/CN=other.example");
}

TEST_F(TlsTest, ASelfSignedCertificateWithoutAPinIsRefused) {
  Keys keys = selfSigned({"127.0.0.1"});
  restartWithTls(keys.cert, keys.key);
  signInTo(tlsEntry());
  expectRefused("The server's certificate is not signed by an authority this device trusts.", "/CN=127.0.0.1");
}

TEST_F(TlsTest, AnotherKeyThanThePinnedOneIsRefusedEvenWithATrustedChain) {
  Authority authority;
  Keys keys = authority.issue({"127.0.0.1"});
  restartWithTls(keys.cert, keys.key);
  trust(authority);
  KS_SetSettingString("Connection/TLS/Pin", srv::key_pin(selfSigned({"127.0.0.1"}).cert).c_str());
  signInTo(tlsEntry());
  expectRefused("The server's key is not the one this device was told to expect.", "/CN=127.0.0.1");
}

TEST_F(TlsTest, APlainServerOnAnEncryptedEntryIsRefused) {
  KS_SetSettingString("Connection/TLS/Pin", srv::key_pin(selfSigned({"localhost"}).cert).c_str());
  signInTo("tls:127.0.0.1:" + std::to_string(port(*server)));
  // Whether it hangs up or waits for more, the attempt ends without a hang.
  ASSERT_TRUE(waitFor([&] { return state() == 40 || boxes->count() != 0; }));
  runClock(20000, 5000);
  expectRefused("The server did not answer in encrypted form; it may not take encrypted connections on this port.");
}

TEST_F(TlsTest, AnEncryptedServerOnAPlainEntryRefusesClearly) {
  Keys keys = selfSigned({"localhost"});
  restartWithTls(keys.cert, keys.key);
  signInTo("127.0.0.1:" + std::to_string(tlsPort()));
  ASSERT_TRUE(waitFor([&] { return boxes->count() != 0; }));
  EXPECT_EQ(boxes->boxes()[0].text,
            "The server did not allow you to sign in at this time.\n\nThe reason given was:\n"
            "This port takes encrypted connections only; use a \"tls:\" entry in the server list.");
  ASSERT_TRUE(waitState(0));
  EXPECT_EQ(connection->disconnectReason(), 4);
  runClock(30000, 5000);
  EXPECT_EQ(std::count(states.begin(), states.end(), 30L), 1);
  EXPECT_STREQ(service().password, "secret12");
}

TEST_F(TlsTest, RequiringEncryptionRefusesAPlainEntryBeforeConnecting) {
  KS_SetSettingLong("Connection/TLS/Required", 1);
  signInTo("127.0.0.1:" + std::to_string(port(*server)));
  ASSERT_TRUE(waitFor([&] { return boxes->count() != 0; }));
  EXPECT_EQ(boxes->boxes()[0].text, "Only encrypted connections are allowed, and this server entry is not encrypted:\n\n127.0.0.1:" +
                                       std::to_string(port(*server)));
  ASSERT_TRUE(waitState(0));
  runClock(30000, 5000);
  EXPECT_EQ(std::count(states.begin(), states.end(), 30L), 0);
  EXPECT_EQ(connection->disconnectReason(), 4);
}

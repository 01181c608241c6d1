// A fresh platform, hub and session for every test, with the state changes
// and the message boxes recorded.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "olvaro/api.h"
#include "peer.h"
#include "platform/registry.h"
#include "platform/thread.h"
#include "server_list.h"
#include "session.h"

namespace conntest {

using olvaro::conn::Connection;

class SessionTest : public testkit::PlatformTest {
 protected:
  void SetUp() override {
    testkit::PlatformTest::SetUp();
    KS_API_Cleanup();
    platform::registryReset();
    unsetenv("OLVARO_OPERATOR");
    platform::setCommandLine(u"olvaro");
    olvaro::conn::ServerList::instance().reset();
    boxes = std::make_unique<testkit::MessageBoxRecorder>(IDOK);
    stateWatch_ = KS_VariantSubscribe(&SessionTest::onState, "connection.state", this);
  }
  void TearDown() override {
    connection.reset();
    KS_VariantUnsubscribe(stateWatch_);
    boxes.reset();
    KS_API_Cleanup();
    testkit::PlatformTest::TearDown();
  }

  static uint32_t onState(void* user, void*) {
    static_cast<SessionTest*>(user)->states.push_back(KS_GetVariantLong("connection.state"));
    return 0;
  }

  void credentials(const std::string& user, const std::string& pass) {
    KS_SetSettingString("connection.user", user.c_str());
    KS_SetSettingString("connection.pass", pass.c_str());
  }
  void servers(const std::string& list) {
    KS_SetSettingString("Connection/Servers/List", list.c_str());
    olvaro::conn::ServerList::instance().reset();
  }
  void useServer(int port) { servers("127.0.0.1:" + std::to_string(port)); }
  void start() { connection = std::make_unique<Connection>(); }

  long state() const { return KS_GetVariantLong("connection.state"); }
  bool waitState(long s, int ms = 5000) {
    return waitFor([&] { return state() == s; }, ms);
  }
  ServiceData service() {
    ServiceData d{};
    d.size = sizeof d;
    KS_GetServiceData(connection->service(), &d);
    return d;
  }
  // Runs the platform clock by hand in steps, letting socket work finish
  // after each step.
  void runClock(int64_t ms, int64_t step = 1000) {
    for (int64_t done = 0; done < ms; done += step) {
      testkit::runClock(std::min(step, ms - done));
      settle(2);
    }
  }

  std::unique_ptr<Connection> connection;
  std::vector<long> states;
  // Every message box the session shows, answered at once.
  std::unique_ptr<testkit::MessageBoxRecorder> boxes;

 private:
  Subscription* stateWatch_ = nullptr;
};

// The challenge a server sends first, with 4-byte member ids.
inline const char kAuthChallenge[] = "AUTH\nAuth-Target: 0\nWord-Size: 4\n\n";

inline std::string bigEndian(uint64_t value, int width) {
  std::string out;
  for (int i = width - 1; i >= 0; --i) out += char((value >> (8 * i)) & 0xff);
  return out;
}

inline std::string withBody(const std::string& head, const std::string& body) {
  return head + "Content-Length: " + std::to_string(body.size()) + "\n\n" + body;
}

// A session against a scripted peer.
class ScriptedSessionTest : public SessionTest {
 protected:
  // Takes the link the client opens and its "LOGON", sends the challenge
  // and waits for the answer with the password; the peer is left empty.
  void openLink(const std::string& challenge = kAuthChallenge) {
    ASSERT_TRUE(peer.accept());
    peer.takePacket();
    peer.send(challenge);
    ASSERT_TRUE(waitFor([&] { return peer.received().find("secret12") != std::string::npos; }));
    peer.clear();
  }
  // Sends the bytes and waits until the client has handled them: a setting
  // pushed behind them arrives last.
  void deliver(const std::string& bytes) {
    std::string mark = std::to_string(++marks_);
    peer.send(bytes + "SETTING\nName: test.mark\nValue: " + mark + "\n\n");
    ASSERT_TRUE(waitFor([&] { return KS_GetSettingLong("test.mark", 0) == marks_; }));
  }
  // The server's answer to request `id`.
  void respond(uint64_t id, uint32_t code) {
    deliver(withBody("RESPONSE\nMesg-Id: " + std::to_string(id) + "\n", bigEndian(code, 4)));
  }

  Peer peer;
  long marks_ = 0;
};

}  // namespace conntest

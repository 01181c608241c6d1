#include "session_fixture.h"

#include <cstring>

#include "device.h"

namespace conntest {

void SessionTest::SetUp() {
  testkit::PlatformTest::SetUp();
  KS_API_Cleanup();
  platform::registryReset();
  unsetenv("OLVARO_OPERATOR");
  platform::setCommandLine(u"olvaro");
  olvaro::conn::ServerList::instance().reset();
  boxes = std::make_unique<testkit::MessageBoxRecorder>(IDOK);
  stateWatch_ = KS_VariantSubscribe(&SessionTest::onState, "connection.state", this);
}

void SessionTest::TearDown() {
  connection.reset();
  KS_VariantUnsubscribe(stateWatch_);
  boxes.reset();
  KS_API_Cleanup();
  testkit::PlatformTest::TearDown();
}

uint32_t SessionTest::onState(void* user, void*) {
  static_cast<SessionTest*>(user)->states.push_back(KS_GetVariantLong("connection.state"));
  return 0;
}

void SessionTest::credentials(const std::string& user, const std::string& pass) {
  KS_SetSettingString("connection.user", user.c_str());
  KS_SetSettingString("connection.pass", pass.c_str());
}

void SessionTest::servers(const std::string& list) {
  KS_SetSettingString("Connection/Servers/List", list.c_str());
  olvaro::conn::ServerList::instance().reset();
}

ServiceData SessionTest::service() {
  ServiceData d{};
  d.size = sizeof d;
  KS_GetServiceData(connection->service(), &d);
  return d;
}

void SessionTest::runClock(int64_t ms, int64_t step) {
  for (int64_t done = 0; done < ms; done += step) {
    testkit::runClock(std::min(step, ms - done));
    settle(2);
  }
}

std::string expectedLogon(const std::string& op) {
  std::string app = olvaro::conn::platformName();
  return "LOGON\n" + (app.empty() ? std::string() : "App-Type: " + app + "\n") + "Operator: " + op +
         "\nProtocol-Version: 1.0\n\n";
}

std::string bigEndian(uint64_t value, int width) {
  std::string out;
  for (int i = width - 1; i >= 0; --i) out += char((value >> (8 * i)) & 0xff);
  return out;
}

std::string withBody(const std::string& head, const std::string& body) {
  return head + "Content-Length: " + std::to_string(body.size()) + "\n\n" + body;
}

std::string response(uint64_t id, uint32_t code) {
  return withBody("RESPONSE\nMesg-Id: " + std::to_string(id) + "\n", bigEndian(code, 4));
}

void ScriptedSessionTest::openLink(const std::string& challenge) {
  ASSERT_TRUE(peer.accept());
  peer.takePacket();
  peer.send(challenge);
  ASSERT_TRUE(waitFor([&] { return peer.received().find("secret12") != std::string::npos; }));
  peer.clear();
}

void ScriptedSessionTest::signIn(const SignInScript& script) {
  if (script.fresh) {
    credentials("ann@example.org", "secret12");
    useServer(peer.port());
    start();
  }
  if (script.exact) {
    ASSERT_TRUE(peer.accept());
    ASSERT_EQ(peer.takePacket(), expectedLogon());
    peer.send(script.challenge);
    ASSERT_EQ(peer.take(strlen(kAuthAnswer)), kAuthAnswer);
  } else {
    openLink(script.challenge);
    if (HasFatalFailure()) return;
  }
  if (script.upTo < olvaro::kReceivingContacts) return;
  if (!script.contacts.empty()) {
    peer.send(script.contacts);
    ASSERT_TRUE(waitState(olvaro::kReceivingContacts));
  }
  if (script.upTo < olvaro::kReceivingGroups) return;
  if (!script.groups.empty()) {
    peer.send(script.groups);
    ASSERT_TRUE(waitState(olvaro::kReceivingGroups));
  }
  if (script.upTo < olvaro::kSignedIn) return;
  peer.send(script.logon);
  ASSERT_TRUE(waitFor([&] { return state() == olvaro::kSignedIn || state() == olvaro::kFetchingStored; }));
}

void ScriptedSessionTest::deliver(const std::string& bytes) {
  std::string all = bytes + "SETTING\nName: test.mark\nValue: " + std::to_string(++marks_) + "\n\n";
  const size_t piece = 16 * 1024;
  for (size_t at = 0; at < all.size(); at += piece) {
    peer.send(all.substr(at, piece));
    if (all.size() > piece) settle(1);
  }
  ASSERT_TRUE(waitFor([&] { return KS_GetSettingLong("test.mark", 0) == marks_; }, 20000));
}

}  // namespace conntest

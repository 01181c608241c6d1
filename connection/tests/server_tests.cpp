// The session against the real reference server.
#include "server_fixture.h"

using namespace conntest;

namespace {

// Signs in as a second device with the same account, over a bare socket.
int signInElsewhere(int port, const std::string& user, const std::string& pass) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(uint16_t(port));
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return -1;
  std::string bytes = "LOGON\nApp-Type: Desktop\n\nAUTH\nauth-target: 0\ncontent-length: " +
                      std::to_string(pass.size()) + "\nencryption-type: 0\nname: " + user +
                      "\nonline-status: 1\n\n" + pass;
  ::send(s, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  return s;
}

}  // namespace

TEST_F(ServerTest, SignsInPassingEveryState) {
  signIn();
  EXPECT_EQ(states, (std::vector<long>{10, 30, 40, 50, 60, 100}));
  EXPECT_EQ(connection->mySubId(), ann);
  EXPECT_EQ(KS_GetVariantLong("Olvaro/Connection/Sub-Id"), long(ann));
  EXPECT_STREQ(service().displayName, "Ann");
  EXPECT_STREQ(service().text24, "around");
  EXPECT_EQ(connection->wordSize(), 4);
  EXPECT_TRUE(waitFor([&] { return server->signed_in_count() == 1; }));
}

TEST_F(ServerTest, WrongPasswordShowsTheBoxAndForgetsThePassword) {
  credentials("ann@example.org", "wrongpass");
  useServer(port(*server));
  start();
  ASSERT_TRUE(waitFor([&] { return !(boxes->count() == 0); }));
  EXPECT_EQ(boxes->boxes()[0].caption, "Login Failed");
  EXPECT_EQ(boxes->boxes()[0].text,
            "The server did not allow you to sign in at this time.\n\nThe reason given was:\n"
            "The e-mail address or the password is wrong.");
  ASSERT_TRUE(waitState(0));
  EXPECT_STREQ(service().password, "");
  EXPECT_EQ(service().signInRequested, 0);
  runClock(30000);
  EXPECT_EQ(state(), 0);
  EXPECT_EQ(states, (std::vector<long>{10, 30, 40, 0}));
  // The saved setting keeps the password; only the session forgot it.
  char buffer[64];
  KS_GetSettingString("connection.pass", "", buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "wrongpass");
}

TEST_F(ServerTest, RefusalWithRetryKeepsThePasswordAndDoesNotReconnect) {
  srv::Faults faults;
  faults.refuse_sign_in = true;
  faults.refuse_reason = "Down for maintenance";
  faults.refuse_retry = 1;
  server->set_faults(faults);
  credentials("ann@example.org", "secret12");
  useServer(port(*server));
  start();
  ASSERT_TRUE(waitFor([&] { return !(boxes->count() == 0); }));
  EXPECT_NE(boxes->boxes()[0].text.find("\n\nThe reason given was:\nDown for maintenance"), std::string::npos);
  ASSERT_TRUE(waitState(0));
  EXPECT_STREQ(service().password, "secret12");
  runClock(30000);
  EXPECT_EQ(state(), 0);
}

TEST_F(ServerTest, SigningInElsewhereGhostsTheSessionForGood) {
  signIn();
  int other = signInElsewhere(port(*server), "ann@example.org", "secret12");
  ASSERT_GE(other, 0);
  ASSERT_TRUE(waitState(0));
  EXPECT_EQ(connection->disconnectReason(), 3);
  EXPECT_EQ(service().signInRequested, 0);
  runClock(30000);
  EXPECT_EQ(state(), 0);
  ::close(other);
}

TEST_F(ServerTest, KilledServerMeansReconnectThenTheNextServer) {
  auto second = startServer();
  ASSERT_TRUE(second);
  second->create_account({"ann@example.org", "secret12", "Ann Two", "", 0});
  credentials("ann@example.org", "secret12");
  servers("127.0.0.1:" + std::to_string(port(*server)) + ",127.0.0.1:" + std::to_string(port(*second)));
  start();
  ASSERT_TRUE(waitState(100));
  states.clear();
  server->stop();
  ASSERT_TRUE(waitState(130));
  EXPECT_EQ(connection->disconnectReason(), 2);
  EXPECT_TRUE(connection->reconnecting());
  // The first retry finds nobody there and moves on; the next reaches the
  // second server.
  runClock(5000);
  ASSERT_TRUE(waitFor([&] { return states.size() >= 5 && state() == 130; }));
  EXPECT_EQ(olvaro::conn::ServerList::instance().currentIndex(), 1u);
  runClock(5000);
  ASSERT_TRUE(waitState(100));
  EXPECT_STREQ(service().displayName, "Ann Two");
  EXPECT_EQ(states, (std::vector<long>{0, 130, 10, 30, 0, 130, 10, 30, 40, 100}));
  connection.reset();
  second.reset();
}

TEST_F(ServerTest, KeepAliveIsAnsweredAfterThirtySeconds) {
  srv::Config config;
  config.client_interval_ms = 100;
  config.ping_margin_ms = 100;
  config.grace_ms = 1000;
  auto quick = startServer(config);
  ASSERT_TRUE(quick);
  quick->create_account({"ann@example.org", "secret12", "Ann", "", 0});
  credentials("ann@example.org", "secret12");
  useServer(port(*quick));
  start();
  ASSERT_TRUE(waitState(100));
  // The server pings after 200 ms of quiet and drops a client that leaves a
  // ping unanswered for 1.1 s; rounds for three seconds keep the session up
  // only because each ping is answered.
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  int rounds = 0;
  while (std::chrono::steady_clock::now() < until) {
    ASSERT_TRUE(waitFor([&] { return connection->pingPending(); }, 3000)) << rounds;
    runClock(20000, 10000);
    EXPECT_TRUE(connection->pingPending());  // not yet answered
    runClock(20000, 10000);
    EXPECT_FALSE(connection->pingPending());
    ++rounds;
  }
  EXPECT_GE(rounds, 3);
  EXPECT_EQ(state(), 100);
  EXPECT_EQ(quick->signed_in_count(), 1u);
  connection.reset();
  quick.reset();
}

TEST_F(ServerTest, SilentServerIsDroppedAfterIntervalPlusThirty) {
  srv::Faults faults;
  faults.no_keepalive = true;
  server->set_faults(faults);
  signIn();
  runClock(60000, 10000);
  EXPECT_EQ(state(), 100);
  runClock(10000, 10000);
  ASSERT_TRUE(waitState(130));
  EXPECT_EQ(connection->disconnectReason(), 1);
  runClock(5000);
  ASSERT_TRUE(waitState(100));  // signed in again
}

TEST_F(ServerTest, SettingPushedByTheServerIsStored) {
  signIn();
  ASSERT_TRUE(server->push_setting(ann, "Updates/ServerPort", "8080"));
  ASSERT_TRUE(waitFor([] { return KS_GetSettingLong("Updates/ServerPort", 80) == 8080; }));
}

TEST_F(ServerTest, SignOffEndsTheSessionWithoutReconnect) {
  signIn();
  EXPECT_EQ(connection->setPresenceStatus(0), 1);
  EXPECT_EQ(state(), 0);
  EXPECT_TRUE(waitFor([&] { return server->signed_in_count() == 0; }));
  runClock(30000);
  EXPECT_EQ(state(), 0);
  // Going online again signs in with the remembered account.
  EXPECT_EQ(connection->setPresenceStatus(5), 1);
  ASSERT_TRUE(waitState(100));
  EXPECT_EQ(service().state, 5);
}

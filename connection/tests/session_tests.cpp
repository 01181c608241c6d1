// The session against a scripted server on a loopback socket: the exact
// bytes the client sends, its states, keep-alive, reconnect and sign-off.
#include "contacts.h"
#include "device.h"
#include "pending_requests.h"
#include "platform/module.h"
#include "platform/power.h"
#include "session_fixture.h"

using namespace conntest;
using olvaro::conn::PendingRequest;
using olvaro::conn::Timestamp;
using olvaro::conn::AddContactRequest;
using olvaro::conn::IdentityRequest;

namespace {

struct Recorded : PendingRequest {
  Recorded(uint64_t id, std::vector<std::pair<int64_t, std::string>>* log, bool finish = true)
      : PendingRequest(id), log(log), finish(finish) {}
  bool onResponse(int64_t code, const std::string& text) override {
    log->push_back({code, text});
    return finish;
  }
  std::vector<std::pair<int64_t, std::string>>* log;
  bool finish;
};

class Session : public ScriptedSessionTest {
 protected:
  // Signs in through every state with the exact bytes, up to the state given.
  void signIn(long upTo = 100) {
    ScriptedSessionTest::signIn({.groups = "GROUP DETAIL\nGroup-ID: 3\nName: Friends\n\n",
                                 .logon = "LOGON SUCCESSFUL\nSub-Id: 4294967297\nNickname: Ann\nStatus: here\n"
                                          "Timestamp: 1767225700.250000\n\n",
                                 .upTo = upTo});
  }
  // A "P" must be the last packet (anything after it cancels the answer).
  void deliverPing() {
    peer.send("P\n\n");
    ASSERT_TRUE(waitFor([&] { return connection->pingPending(); }));
  }

  std::vector<std::pair<int64_t, std::string>> log;  // outlives the session
};

}  // namespace

TEST_F(Session, SignsInThroughEveryStateWithExactBytes) {
  signIn();
  EXPECT_EQ(states, (std::vector<long>{10, 30, 40, 50, 60, 100}));
  EXPECT_EQ(connection->wordSize(), 4);
  EXPECT_EQ(connection->mySubId(), 4294967297);
  EXPECT_EQ(KS_GetVariantLong("Olvaro/Connection/Sub-Id"), 1);  // the low 32 bits
  ServiceData d = service();
  EXPECT_STREQ(d.displayName, "Ann");
  EXPECT_STREQ(d.text24, "here");
  EXPECT_EQ(d.state, 1);
  // The test clock stands at 1767225600.000: the server is 100.25 s ahead.
  EXPECT_EQ(connection->clockOffset().sec, 100);
  EXPECT_EQ(connection->clockOffset().usec, 250000);
}

TEST_F(Session, ClockOffsetBorrowsAndIgnoresOddStamps) {
  signIn(60);
  testkit::runClock(500);  // now 1767225600.500
  peer.send("LOGON SUCCESSFUL\nSub-Id: 9\nTimestamp: 1767225601.250000\n\n");
  ASSERT_TRUE(waitState(100));
  EXPECT_EQ(connection->clockOffset().sec, 0);
  EXPECT_EQ(connection->clockOffset().usec, 750000);
  peer.send("LOGON SUCCESSFUL\nSub-Id: 9\nTimestamp: 1.2.3\n\nSETTING\nName: seen\nValue: 1\n\n");
  ASSERT_TRUE(waitFor([] { return KS_GetSettingLong("seen", 0) == 1; }));
  EXPECT_EQ(connection->clockOffset().usec, 750000);
}

TEST_F(Session, AuthForAnotherTargetGetsNoAnswer) {
  credentials("ann@example.org", "secret12");
  useServer(peer.port());
  start();
  ASSERT_TRUE(peer.accept());
  peer.takePacket();
  peer.send("AUTH\nAuth-Target: 1\nWord-Size: 8\n\nSETTING\nName: after\nValue: 2\n\n");
  // An answer would have been sent before the setting behind it was read.
  ASSERT_TRUE(waitFor([] { return KS_GetSettingLong("after", 0) == 2; }));
  EXPECT_EQ(peer.received(), "");
  EXPECT_EQ(connection->wordSize(), 0);
}

TEST_F(Session, OperatorNameGoesIntoLogon) {
  setenv("OLVARO_OPERATOR", "Skylink", 1);
  platform::registryReset();
  std::string op;
  bool reported = olvaro::conn::operatorName(&op);
  credentials("ann@example.org", "secret12");
  useServer(peer.port());
  start();
  ASSERT_TRUE(peer.accept());
  EXPECT_EQ(peer.takePacket(), expectedLogon(reported ? "Skylink" : "PC_CLIENT"));
  unsetenv("OLVARO_OPERATOR");
}

TEST_F(Session, PresenceChangesAreSentOnlyWhenSignedIn) {
  signIn();
  int32_t away = 2;
  uint32_t luid = KS_GetLUID();
  EXPECT_EQ(connection->setPresenceStatus(away), 1);
  EXPECT_EQ(peer.takePacket(), "CONTACT DETAIL\nmesg-id: " + std::to_string(luid + 1) + "\nonline-status: 2\n\n");
  EXPECT_EQ(service().signInRequested, 2);
}

TEST_F(Session, RawPacketsGoOutAsGivenAndOnlyWhileConnected) {
  signIn();
  auto functions = std::make_unique<olvaro::conn::ConnectionFunctions>(connection.get());
  struct {
    const char* data;
    int32_t length;
  } raw{"MESG\nodd: Case\n\nxyz", 19};
  EXPECT_EQ(KS_CallFunction("Connection/SendPacket", &raw), 1u);
  EXPECT_EQ(peer.take(19), "MESG\nodd: Case\n\nxyz");
  int32_t off = 0;
  EXPECT_EQ(KS_CallFunction("Connection/SetPresenceStatus", &off), 1u);
  EXPECT_EQ(state(), 0);
  EXPECT_EQ(KS_CallFunction("Connection/SendPacket", &raw), 0u);
  // The functions go away with their owner.
  functions.reset();
  EXPECT_EQ(KS_CallFunction("Connection/SetPresenceStatus", &off), 0u);
}

TEST_F(Session, PingIsAnsweredAfterTheIntervalUnlessOtherTrafficCame) {
  signIn();
  deliverPing();
  runClock(20000);
  EXPECT_EQ(peer.received(), "");
  runClock(20000);  // the 10-second tick after the 30 s pause
  EXPECT_EQ(peer.takePacket(), "P\n\n");

  // Any packet after a "P" cancels the answer.
  deliverPing();
  runClock(10000);
  deliver("MESG\nMesg-Id: 1\n\n");
  runClock(40000);
  EXPECT_EQ(peer.received(), "");
  EXPECT_EQ(state(), 100);
}

TEST_F(Session, SilentLinkIsClosedAndRetriedAfterFiveSeconds) {
  signIn();
  states.clear();
  runClock(60000);
  EXPECT_EQ(state(), 100);  // deadline is 60 s: not yet passed
  runClock(10000);
  EXPECT_EQ(connection->disconnectReason(), 1);
  EXPECT_TRUE(connection->reconnecting());
  EXPECT_EQ(state(), 130);
  EXPECT_TRUE(waitFor([&] { return peer.closedByClient(); }));
  runClock(5000);
  ASSERT_TRUE(peer.accept());
  EXPECT_EQ(peer.takePacket(), expectedLogon());
  EXPECT_EQ(states, (std::vector<long>{0, 130, 10, 30, 40}));
}

TEST_F(Session, PowerSaveGrowsTheIntervalWithTheAgeOfTheLink) {
  KS_SetSettingLong("advanced.powersave", 1);
  signIn();
  // Keep the link busy, then ping so the answer falls due at age 595 s.
  for (int age = 0; age < 550; age += 50) {
    runClock(50000, 10000);
    deliver("NOOP\n\n");
  }
  runClock(15000, 5000);  // age 565
  deliverPing();
  runClock(35000, 5000);  // the tick at 600
  EXPECT_EQ(peer.takePacket(), "P\ni: 200\n\n");
  EXPECT_EQ(connection->keepAliveInterval(), 200);
  // The deadline is now 230 s away: keep the link busy, then ping at 995 so
  // the answer falls due at age 1195.
  for (int i = 0; i < 2; ++i) {
    runClock(150000, 10000);
    deliver("NOOP\n\n");
  }
  runClock(95000, 5000);
  deliverPing();
  runClock(205000, 5000);  // the tick at 1200
  EXPECT_EQ(peer.takePacket(), "P\ni: 300\n\n");
  EXPECT_EQ(connection->keepAliveInterval(), 300);
}

// On a Pocket PC the device stays awake while fast keep-alives run and is
// woken at the next deadline once they slow down; the stop gives it back.
TEST_F(Session, PowerCallsFollowTheKeepAliveAndEndWithTheStop) {
  KS_SetSettingLong("advanced.powersave", 1);
  signIn();
  EXPECT_TRUE(testkit::powerRecord().unattended());
  EXPECT_GT(testkit::powerRecord().idleTimerResets, 0);
  WCHAR path[260] = {};
  GetModuleFileName(nullptr, path, 260);
  // Age the link until the interval passes 60 s: the device may sleep and
  // a wake-up is asked for at the deadline.
  for (int age = 0; age < 250; age += 50) {
    runClock(50000, 10000);
    deliver("NOOP\n\n");
  }
  deliverPing();
  runClock(45000, 5000);  // the answer goes out on the first tick after it fell due
  EXPECT_EQ(peer.takePacket().rfind("P\ni: ", 0), 0u);
  ASSERT_GT(connection->keepAliveInterval(), 60);
  deliver("NOOP\n\n");
  platform::PowerRecord record = testkit::powerRecord();  // wakeUpOf points into it
  EXPECT_FALSE(record.unattended());
  const platform::PowerRecord::WakeUp* wake = record.wakeUpOf(path);
  ASSERT_NE(wake, nullptr);
  int64_t deadlineMs = int64_t(Timestamp::now().plusSeconds(connection->keepAliveInterval() + 30).sec) * 1000;
  EXPECT_NEAR(double(wake->atUnixMs), double(deadlineMs), 2000.0);
  connection.reset();
  EXPECT_EQ(testkit::powerRecord().wakeUpOf(path), nullptr);
  EXPECT_FALSE(testkit::powerRecord().unattended());
}

TEST_F(Session, SignOffWhileReceivingContactsFailsPendingRequests) {
  signIn(50);
  connection->registerPendingRequest(fwk::counted_ptr<PendingRequest>(new Recorded(40000, &log)));
  connection->registerPendingRequest(fwk::counted_ptr<PendingRequest>(new Recorded(40001, &log, false)));
  EXPECT_EQ(connection->setPresenceStatus(0), 1);
  EXPECT_EQ(state(), 0);
  EXPECT_EQ(connection->disconnectReason(), 5);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].first, 100);
  EXPECT_EQ(log[1].first, 100);
  EXPECT_EQ(connection->pendingRequests().size(), 0u);
  EXPECT_TRUE(waitFor([&] { return peer.closedByClient(); }));
  runClock(30000);
  EXPECT_EQ(state(), 0);
  EXPECT_FALSE(peer.hasPendingConnection());
}

TEST_F(Session, SignOffDuringTheNetworkCheckStaysSignedOut) {
  credentials("ann@example.org", "secret12");
  useServer(peer.port());
  start();
  EXPECT_EQ(state(), 10);
  connection->setPresenceStatus(0);
  ASSERT_TRUE(waitFor([&] { return !connection->checkingNetwork(); }));
  EXPECT_EQ(state(), 0);
  EXPECT_FALSE(peer.hasPendingConnection());
}

TEST_F(Session, ResponsesFindTheirRequests) {
  signIn();
  auto add = [&](uint64_t id, bool finish = true) {
    connection->registerPendingRequest(fwk::counted_ptr<PendingRequest>(new Recorded(id, &log, finish)));
  };
  add(1);
  add(2);
  add(3);
  add(4, false);
  peer.send("RESPONSE\nMesg-Id: 1\nContent-Length: 8\n\n" + std::string("\x7f\0\0\0\0\0\0\x04", 8));
  peer.send("RESPONSE\nMesg-Id: 2\nContent-Length: 4\n\n" + std::string("\xff\xff\xff\xff", 4));
  peer.send("RESPONSE\nMesg-Id: 3\nType: 1\nContent-Length: 2\n\nOK");
  peer.send("RESPONSE\nMesg-Id: 4\nContent-Length: 3\n\nabc");
  peer.send("RESPONSE\nMesg-Id: 4\nType: 1\n\n");
  peer.send("RESPONSE\nMesg-Id: 99\n\n");
  ASSERT_TRUE(waitFor([&] { return log.size() == 5; }));
  EXPECT_EQ(log[0], (std::pair<int64_t, std::string>{4, ""}));
  EXPECT_EQ(log[1], (std::pair<int64_t, std::string>{-1, ""}));
  EXPECT_EQ(log[2], (std::pair<int64_t, std::string>{0, "OK"}));
  EXPECT_EQ(log[3], (std::pair<int64_t, std::string>{0, ""}));
  EXPECT_EQ(log[4], (std::pair<int64_t, std::string>{0, ""}));
  EXPECT_TRUE(connection->pendingRequests().contains(4));
  EXPECT_EQ(connection->pendingRequests().size(), 1u);
}

TEST_F(Session, SettingFromTheServerIsStored) {
  signIn();
  peer.send("SETTING\nName: a\nValue: 1\n\nSETTING\nName: Updates/ServerHost\nValue: up.example\n\n");
  ASSERT_TRUE(waitFor([] { return KS_GetSettingLong("a", 0) == 1; }));
  char buffer[64];
  KS_GetSettingString("Updates/ServerHost", "", buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "up.example");
}

TEST_F(Session, RefusalShowsTheReasonAndForgetsThePasswordOnlyWithRetryZero) {
  signIn(40);
  peer.send("LOGON FAILED\nreason: Try later\nretry: 1\n\n");
  ASSERT_TRUE(waitFor([&] { return !(boxes->count() == 0); }));
  EXPECT_EQ(boxes->boxes()[0].caption, "Login Failed");
  EXPECT_EQ(boxes->boxes()[0].text,
            "The server did not allow you to sign in at this time.\n\nThe reason given was:\nTry later");
  EXPECT_STREQ(service().password, "secret12");
  EXPECT_STREQ(service().text28, "Try later");
  peer.drop();
  ASSERT_TRUE(waitState(0));
  runClock(30000);
  EXPECT_EQ(state(), 0);
  EXPECT_FALSE(peer.hasPendingConnection());

  // Retry 0: the password goes; an empty reason adds no second paragraph.
  connection->setPresenceStatus(1);
  ASSERT_TRUE(peer.accept());
  peer.takePacket();
  peer.send("LOGON FAILED\nretry: 0\n\n");
  ASSERT_TRUE(waitFor([&] { return boxes->count() == 2; }));
  EXPECT_EQ(boxes->boxes()[1].text, "The server did not allow you to sign in at this time.");
  EXPECT_STREQ(service().password, "");
  EXPECT_EQ(service().signInRequested, 0);
  peer.drop();
  ASSERT_TRUE(waitState(0));
  // Without a password a new sign-in cannot start.
  EXPECT_EQ(connection->setPresenceStatus(1), 0);
  EXPECT_EQ(state(), 0);
}

TEST_F(Session, GhostedEndsWithoutReconnect) {
  signIn();
  peer.send("GHOSTED\n\n");
  ASSERT_TRUE(waitFor([&] { return connection->disconnectReason() == 3; }));
  peer.drop();
  ASSERT_TRUE(waitState(0));
  EXPECT_EQ(connection->disconnectReason(), 3);
  EXPECT_EQ(service().signInRequested, 0);
  runClock(30000);
  EXPECT_EQ(state(), 0);
  EXPECT_FALSE(peer.hasPendingConnection());
}

TEST_F(Session, LostLinkReconnectsAndAFailedConnectMovesToTheNextServer) {
  int dead = closedPort();
  credentials("ann@example.org", "secret12");
  servers("127.0.0.1:" + std::to_string(dead) + ",127.0.0.1:" + std::to_string(peer.port()));
  start();
  ASSERT_TRUE(waitState(130));
  EXPECT_EQ(olvaro::conn::ServerList::instance().currentIndex(), 1u);
  EXPECT_EQ(connection->disconnectReason(), 2);
  runClock(5000);
  ASSERT_TRUE(peer.accept());
  peer.takePacket();
  // A server that goes away mid-packet: the half packet is dropped.
  peer.send("MESG\nContent-Length: 100\n\nhalf");
  ASSERT_TRUE(waitFor([&] { return connection->readState() == olvaro::conn::PacketReader::ReadState::Body; }));
  peer.drop();
  ASSERT_TRUE(waitState(130));
  EXPECT_EQ(connection->readState(), olvaro::conn::PacketReader::ReadState::CommandLine);
  EXPECT_TRUE(connection->inputBuffer.empty());
  // The link had connected, so the same server is tried again.
  EXPECT_EQ(olvaro::conn::ServerList::instance().currentIndex(), 1u);
  runClock(5000);
  ASSERT_TRUE(peer.accept());
}

TEST_F(Session, PowerSaveBacksOffReconnects) {
  KS_SetSettingLong("advanced.powersave", 1);
  credentials("ann@example.org", "secret12");
  useServer(closedPort());
  start();
  std::vector<int32_t> delays;
  for (int i = 0; i < 7; ++i) {
    ASSERT_TRUE(waitState(130));
    delays.push_back(connection->reconnectBackoff());
    runClock(connection->reconnectBackoff() * 1000 + 5000, 5000);
  }
  EXPECT_EQ(delays, (std::vector<int32_t>{10, 20, 40, 80, 160, 300, 300}));
}

TEST_F(Session, WithoutASignedInLinkSendsAreRefusedAndTheSessionIsLeftAlone) {
  KS_SetSettingLong("advanced.powersave", 1);
  signIn(50);
  std::string prefix = "Service/" + olvaro::handleName("%p", connection->service());
  AddContactRequest add{sizeof add, "carl@example.org", "hi",
                        [](void* context, const olvaro::Response* r) {
                          static_cast<decltype(log)*>(context)->push_back({r->code, r->text});
                        },
                        &log};
  // Signing in: the request hears 100 at once and nothing reaches the link.
  EXPECT_EQ(KS_CallFunction((prefix + "/AddContact").c_str(), &add), 0u);
  EXPECT_EQ(log, (std::vector<std::pair<int64_t, std::string>>{{100, ""}}));
  settle();
  EXPECT_EQ(peer.received(), "");
  EXPECT_EQ(state(), 50);

  // Waiting to reconnect: neither an admin action nor a request moves the
  // state or the back-off.
  peer.drop();
  ASSERT_TRUE(waitState(130));
  std::vector<long> before = states;
  int32_t backoff = connection->reconnectBackoff();
  HContact* bob = connection->contacts().getContact(7);
  HGroup* list = KS_GetGroup(0);
  olvaro::AdminContactRequest admin{bob, list, 1};
  EXPECT_EQ(KS_CallFunction((prefix + "/AdminContact").c_str(), &admin), 0u);
  EXPECT_EQ(KS_CallFunction((prefix + "/AddContact").c_str(), &add), 0u);
  EXPECT_EQ(log.size(), 2u);
  EXPECT_EQ(log.back().first, 100);
  EXPECT_EQ(states, before);
  EXPECT_EQ(connection->reconnectBackoff(), backoff);
  EXPECT_EQ(connection->pendingRequests().size(), 0u);
  KS_ReleaseGroup(list);
  KS_ReleaseContact(bob);
}

TEST_F(Session, NonsenseFromThePeerClosesTheLink) {
  signIn();
  peer.send("MESG\nContent-Length: -5\n\nabc");
  ASSERT_TRUE(waitState(130));
  EXPECT_EQ(connection->disconnectReason(), 2);
  EXPECT_TRUE(waitFor([&] { return peer.closedByClient(); }));
}

TEST_F(Session, AutoSignInFollowsTheSettingUnlessStartedHidden) {
  credentials("ann@example.org", "secret12");
  useServer(peer.port());
  KS_SetSettingLong("Connection/AutoSignIn", 0);
  start();
  EXPECT_EQ(state(), 0);
  EXPECT_STREQ(service().userName, "ann@example.org");
  connection.reset();
  platform::setCommandLine(u"olvaro /hidden");
  start();
  ASSERT_TRUE(peer.accept());
  EXPECT_EQ(peer.takePacket(), expectedLogon());
}

// Starts with the scripted peer as the HTTP proxy.
static void throughPeerAsProxyOf(conntest::Peer& peer) {
  KS_SetSettingLong("Connection/Proxy/Type", 1);
  KS_SetSettingString("Connection/Proxy/Host", "127.0.0.1");
  KS_SetSettingLong("Connection/Proxy/Port", peer.port());
}

TEST_F(Session, ProxyTunnelIsAskedForTheCurrentServer) {
  credentials("ann@example.org", "secret12");
  servers("im.example.org:443,im.example.org:12345");
  throughPeerAsProxyOf(peer);
  start();
  ASSERT_TRUE(peer.accept());
  ASSERT_TRUE(waitState(35));
  EXPECT_EQ(peer.takePacket(), "CONNECT im.example.org:443 HTTP/1.0\n\n");
  peer.send("HTTP/1.0 200 Connection established\r\nProxy-agent: test\r\n\r\n");
  EXPECT_EQ(peer.takePacket(), expectedLogon());
  EXPECT_EQ(state(), 40);
}

TEST_F(Session, ProxyTunnelToAnIpv6LiteralIsAskedInBrackets) {
  credentials("ann@example.org", "secret12");
  servers("tls:[2001:db8::5]:443");
  throughPeerAsProxyOf(peer);
  start();
  ASSERT_TRUE(peer.accept());
  ASSERT_TRUE(waitState(35));
  EXPECT_EQ(peer.takePacket(), "CONNECT [2001:db8::5]:443 HTTP/1.0\n\n");
}

TEST_F(Session, AProxyPortNoSocketCanHaveFailsWithoutConnecting) {
  credentials("ann@example.org", "secret12");
  KS_SetSettingLong("Connection/Proxy/Type", 1);
  KS_SetSettingString("Connection/Proxy/Host", "127.0.0.1");
  KS_SetSettingLong("Connection/Proxy/Port", peer.port() + 65536);  // wraps to the peer's port
  start();
  ASSERT_TRUE(waitState(130));
  EXPECT_FALSE(peer.hasPendingConnection());
}

TEST_F(Session, ProxyRefusalShowsTheStatusLineAndDoesNotReconnect) {
  credentials("ann@example.org", "secret12");
  KS_SetSettingLong("Connection/Proxy/Type", 1);
  KS_SetSettingString("Connection/Proxy/Host", "127.0.0.1");
  KS_SetSettingLong("Connection/Proxy/Port", peer.port());
  start();
  ASSERT_TRUE(peer.accept());
  peer.takePacket();
  peer.send("HTTP/1.0 407 Proxy Authentication Required\r\nContent-Length: 5\r\n\r\nnope!");
  ASSERT_TRUE(waitFor([&] { return !(boxes->count() == 0); }));
  EXPECT_EQ(boxes->boxes()[0].caption, "Login Failed");
  EXPECT_EQ(boxes->boxes()[0].text, "The proxy rejected the connection:\n\nHTTP/1.0 407 Proxy Authentication Required");
  peer.drop();
  ASSERT_TRUE(waitState(0));
  EXPECT_EQ(connection->disconnectReason(), 4);
  runClock(30000);
  EXPECT_FALSE(peer.hasPendingConnection());
}

TEST_F(Session, AnOverlongProxyStatusLineIsShownWhole) {
  credentials("ann@example.org", "secret12");
  KS_SetSettingLong("Connection/Proxy/Type", 1);
  KS_SetSettingString("Connection/Proxy/Host", "127.0.0.1");
  KS_SetSettingLong("Connection/Proxy/Port", peer.port());
  start();
  ASSERT_TRUE(peer.accept());
  peer.takePacket();
  std::string status = "HTTP/1.1" + std::string(3000, 'v') + " 502 " + std::string(5000, 'r');
  peer.send(status + "\r\n\r\n");
  ASSERT_TRUE(waitFor([&] { return !(boxes->count() == 0); }));
  EXPECT_EQ(boxes->boxes()[0].text, "The proxy rejected the connection:\n\n" + status);
  EXPECT_EQ(connection->disconnectReason(), 4);
}

TEST_F(Session, NonProxyLinesWhileWaitingForTheProxyAreOrdinaryPackets) {
  credentials("ann@example.org", "secret12");
  KS_SetSettingLong("Connection/Proxy/Type", 1);
  KS_SetSettingString("Connection/Proxy/Host", "127.0.0.1");
  KS_SetSettingLong("Connection/Proxy/Port", peer.port());
  start();
  ASSERT_TRUE(peer.accept());
  peer.takePacket();
  peer.send("SETTING\nName: early\nValue: 3\n\nHTTP/1.0 200 OK\n\n");
  ASSERT_TRUE(waitState(40));
  EXPECT_EQ(KS_GetSettingLong("early", 0), 3);
  EXPECT_EQ(peer.takePacket(), expectedLogon());
}

namespace {

ContactData contactOf(HContact* contact) {
  ContactData d{};
  d.size = sizeof d;
  KS_GetContactData(contact, &d);
  return d;
}

bool listed(HContact* contact) {
  HGroup* list = KS_GetGroup(0);
  bool in = KS_GroupContainsMember(list, contact) != 0;
  KS_ReleaseGroup(list);
  return in;
}

}  // namespace

// The contact list as it arrives, then changes to it after sign-in, and the
// presence that a lost link makes unknown.
TEST_F(Session, ContactDetailsKeepTheListAndPresence) {
  signIn();  // bob (7) came with the initial list, online
  auto& contacts = connection->contacts();
  HContact* bob = contacts.getContact(7);
  EXPECT_TRUE(listed(bob));
  EXPECT_STREQ(contactOf(bob).nickname, "bob@example.org");  // no nickname: the name
  EXPECT_EQ(contactOf(bob).onlineStatus, 1);

  deliver("CONTACT DETAIL\nContact-Id: 8\nName: carl@example.org\nState: 0\nOnline-Status: 2\n\n");
  HContact* carl = contacts.getContact(8);
  EXPECT_STREQ(contactOf(carl).name, "carl@example.org");
  EXPECT_FALSE(listed(carl));  // signed in, bit 0 clear: not added
  deliver("CONTACT DETAIL\nContact-Id: 8\nNickname: Carl\nState: 1\n\n");
  EXPECT_TRUE(listed(carl));
  EXPECT_EQ(contactOf(carl).onlineStatus, 2);  // no presence given: kept
  EXPECT_STREQ(contactOf(carl).nickname, "Carl");

  deliver("CONTACT DETAIL\nContact-Id: 7\n\n");  // only the id: a removal
  EXPECT_FALSE(listed(bob));
  EXPECT_STREQ(contactOf(bob).name, "bob@example.org");

  peer.drop();
  ASSERT_TRUE(waitState(130));
  EXPECT_EQ(contactOf(carl).onlineStatus, 100);
  EXPECT_EQ(contacts.size(), 2u);
  KS_ReleaseContact(bob);
  KS_ReleaseContact(carl);
}

TEST_F(Session, IdentityAndContactRequestsGoOutExactly) {
  IdentityRequest identity{"Annie", "busy day"};
  EXPECT_EQ(KS_CallFunction("Connection/SetIdentity", &identity), 0u);  // not signed in
  signIn();
  uint64_t next = KS_GetLUID() + 1;
  EXPECT_EQ(KS_CallFunction("Connection/SetIdentity", &identity), 1u);
  EXPECT_EQ(peer.takePacket(), "CONTACT DETAIL\nmesg-id: " + std::to_string(next) + "\nnickname: Annie\nstatus: busy day\n\n");
  EXPECT_STREQ(service().displayName, "Annie");
  EXPECT_STREQ(service().text24, "busy day");

  std::string prefix = "Service/" + olvaro::handleName("%p", connection->service());
  AddContactRequest byId{sizeof(AddContactRequest), "12345", "hi", nullptr, nullptr};
  next = KS_GetLUID() + 1;
  EXPECT_EQ(KS_CallFunction((prefix + "/AddContact").c_str(), &byId), 1u);
  std::string sent = "CONTACT ADD\ncontent-length: 2\nmesg-id: " + std::to_string(next) + "\ntarget-id: 12345\n\nhi";
  EXPECT_EQ(peer.take(sent.size()), sent);
  AddContactRequest byName{sizeof(AddContactRequest), "dan@example.org", "", nullptr, nullptr};
  next = KS_GetLUID() + 1;
  EXPECT_EQ(KS_CallFunction((prefix + "/AddContact").c_str(), &byName), 1u);
  EXPECT_EQ(peer.takePacket(), "CONTACT ADD\nmesg-id: " + std::to_string(next) + "\nname: dan@example.org\n\n");
  AddContactRequest tooShort{8, "x", "", nullptr, nullptr};
  EXPECT_EQ(KS_CallFunction((prefix + "/AddContact").c_str(), &tooShort), 0u);

  // A removal waits for the server's yes.
  HContact* bob = connection->contacts().getContact(7);
  next = KS_GetLUID() + 1;
  EXPECT_EQ(KS_CallFunction((prefix + "/DeleteContact").c_str(), &bob), 1u);
  EXPECT_EQ(peer.takePacket(), "CONTACT UPDATE\ncontact-id: 7\nmesg-id: " + std::to_string(next) + "\nremove: 1\n\n");
  EXPECT_TRUE(listed(bob));
  deliver("RESPONSE\nMesg-Id: " + std::to_string(next) + "\nContent-Length: 4\n\n" + std::string(4, '\0'));
  EXPECT_FALSE(listed(bob));
  KS_ReleaseContact(bob);

  HContact* me = nullptr;
  EXPECT_EQ(KS_CallFunction((prefix + "/GetMyHandle").c_str(), &me), 1u);
  ASSERT_NE(me, nullptr);
  EXPECT_EQ(KS_GetContactID(me), 4294967297);
  // The own contact is named, so rows and messages that show it have a name.
  EXPECT_STREQ(contactOf(me).name, "ann@example.org");
  EXPECT_STREQ(contactOf(me).nickname, "Annie");
  KS_ReleaseContact(me);
}

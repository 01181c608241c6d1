// Stored messages at sign-in and history requests against a scripted peer:
// the exact "MESG STORED" and "MESG HIST" packets, the time they start from
// and the session state while stored messages arrive.

#include "contacts.h"
#include "history.h"
#include "session_fixture.h"

using namespace conntest;
using olvaro::conn::HistoryRequest;
using olvaro::conn::Response;

namespace {


class HistoryTest : public ScriptedSessionTest {
 protected:
  // Signs in up to "LOGON SUCCESSFUL" with these extra headers.
  void signIn(const std::string& logonHeaders, bool first = true) {
    ScriptedSessionTest::signIn({.fresh = first,
                                 .exact = false,
                                 .contacts = "",
                                 .logon = "LOGON SUCCESSFUL\nSub-Id: 4294967297\nNickname: Ann\n" + logonHeaders + "\n"});
  }
  static std::string stored(uint64_t id, const std::string& from, bool groupsToo) {
    return "MESG STORED\ncount: 0\n" + (groupsToo ? "from-group: " + from + "\n" : std::string()) +
           "from-private: " + from + "\ninclude-self: 0\nmesg-id: " + std::to_string(id) + "\n\n";
  }


 private:
};

TEST_F(HistoryTest, FirstSignInAsksForPrivateMessagesSinceLastOnline) {
  uint64_t next = KS_GetLUID() + 1;
  signIn("Last-Online: 1200000000\n");
  EXPECT_EQ(peer.takePacket(), stored(next, "1200000000.0", false));
  EXPECT_EQ(state(), 70);
  deliver(response(next, 0));  // still sending
  EXPECT_EQ(state(), 70);
  deliver(response(next, 3));
  EXPECT_EQ(state(), 100);
  EXPECT_EQ(connection->pendingRequests().size(), 0u);
}

TEST_F(HistoryTest, AReconnectAsksForGroupsTooFromBeforeTheDrop) {
  signIn("");  // no "Last-Online": nothing asked, signed in at once
  EXPECT_EQ(state(), 100);
  settle();
  EXPECT_EQ(peer.received(), "");

  KS_SetSettingLong("connection.LastMessageTime", 1199999000);
  peer.drop();
  ASSERT_TRUE(waitState(130));
  EXPECT_TRUE(connection->reconnecting());
  runClock(5000);
  uint64_t next = KS_GetLUID() + 1;
  signIn("Last-Online: 1200000000\n", false);
  // 1200000000 - (30 + 30) is later than the newest message seen: from that second.
  EXPECT_EQ(peer.takePacket(), stored(next, "1199999940.0", true));
  EXPECT_FALSE(connection->reconnecting());
}

TEST_F(HistoryTest, StoredMessagesStartAtTheNewestSecondSeenAndItsRepeatsAreDropped) {
  KS_SetSettingLong("advanced.powersave", 1);
  signIn("");
  HContact* bob = connection->contacts().getContact(7);
  // An older message does not set the newest time seen back.
  deliver("MESG\nSource-Id: 7\nMesg-Id: 501\nLast: 1\nTimestamp: 1300000000.5\n\n");
  deliver("MESG\nSource-Id: 7\nMesg-Id: 502\nLast: 1\nTimestamp: 1200000000.0\n\n");
  EXPECT_EQ(KS_GetSettingLong("connection.LastMessageTime", 0), 1300000000);
  // The link ages until its keep-alive is 200 s, then drops.
  for (int age = 0; age < 550; age += 50) {
    runClock(50000, 10000);
    deliver("NOOP\n\n");
  }
  runClock(15000, 5000);
  peer.send("P\n\n");
  ASSERT_TRUE(waitFor([&] { return connection->pingPending(); }));
  runClock(35000, 5000);
  ASSERT_EQ(connection->keepAliveInterval(), 200);
  peer.drop();
  ASSERT_TRUE(waitState(130));
  runClock(10000);
  uint64_t next = KS_GetLUID() + 1;
  signIn("Last-Online: 1300000100\n", false);
  // 1300000100 - (200 + 30) is before the newest message seen.
  EXPECT_EQ(peer.takePacket(), stored(next, "1300000000.0", true));
  ASSERT_EQ(state(), 70);
  deliver("MESG\nSource-Id: 7\nMesg-Id: 501\nLast: 1\nTimestamp: 1300000000.5\n\n");
  deliver("MESG\nSource-Id: 7\nMesg-Id: 503\nLast: 1\nTimestamp: 1300000000.7\n\n");
  EXPECT_EQ(KS_GetUnreadMessageCount(bob, 0), 3);
  KS_ReleaseContact(bob);
}

struct Progress {
  std::vector<std::pair<int64_t, std::string>> seen;
  static void record(void* user, const Response* response) {
    static_cast<Progress*>(user)->seen.push_back({response->code, response->text});
  }
};

TEST_F(HistoryTest, HistoryRequestsGoOutExactlyAndHearEveryAnswer) {
  signIn("");
  GroupData g{};
  g.size = sizeof g;
  g.mask = GROUP_ID;
  g.id = 7;
  HGroup* group = KS_CreateGroup(&g);
  ASSERT_NE(group, nullptr);
  Progress progress;
  HistoryRequest request{-10, group, 1, 1200000000, 5, &Progress::record, &progress};
  uint64_t next = KS_GetLUID() + 1;
  EXPECT_EQ(KS_CallFunction("Connection/RequestMessageHistory", &request), 1u);
  EXPECT_EQ(peer.takePacket(), "MESG HIST\ncount: -10\nfrom-group: 1200000000.5\nmesg-id: " + std::to_string(next) +
                                   "\nsource-id: 7\n\n");
  deliver(response(next, 0));
  EXPECT_TRUE(connection->pendingRequests().contains(next));
  deliver(response(next, 2));
  EXPECT_EQ(progress.seen, (std::vector<std::pair<int64_t, std::string>>{{0, ""}, {2, ""}}));
  EXPECT_FALSE(connection->pendingRequests().contains(next));
  KS_ReleaseGroup(group);

  // A contact's history; one still waiting hears the link's end.
  HContact* bob = connection->contacts().getContact(4294967298);
  HistoryRequest older{-20, bob, 0, 1199999999, -3, &Progress::record, &progress};
  next = KS_GetLUID() + 1;
  EXPECT_EQ(KS_CallFunction("Connection/RequestMessageHistory", &older), 1u);
  EXPECT_EQ(peer.takePacket(), "MESG HIST\ncount: -20\nfrom-private: 1199999999.-3\nmesg-id: " +
                                   std::to_string(next) + "\nsource-id: 4294967298\n\n");
  KS_ReleaseContact(bob);
  peer.drop();
  ASSERT_TRUE(waitState(130));
  ASSERT_EQ(progress.seen.size(), 3u);
  EXPECT_EQ(progress.seen[2].first, 100);

  // Nothing to ask about: nothing sent, nothing waits.
  HistoryRequest nobody{-10, nullptr, 0, 0, 0, &Progress::record, &progress};
  EXPECT_EQ(KS_CallFunction("Connection/RequestMessageHistory", &nobody), 0u);
  EXPECT_EQ(KS_CallFunction("Connection/RequestMessageHistory", nullptr), 0u);
  EXPECT_EQ(connection->pendingRequests().size(), 0u);
}

}  // namespace

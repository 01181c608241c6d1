// Messages against a scripted server: the exact chunks that go out, how
// answers move, finish and restart them, and incoming chunks turned into hub
// messages.
#include <map>
#include <regex>

#include "contacts.h"
#include "incoming_messages.h"
#include "olvaro/hub_records.h"
#include "session_fixture.h"
#include "transfers.h"

using namespace conntest;
using olvaro::conn::IncomingMessages;
using olvaro::conn::OutgoingTransfers;

namespace {

constexpr int64_t kMe = 4294967297;

// The wire form of a chunk to bob (7): `headers` are the ones after
// "content-length", in their byte order.
std::string chunk(const std::string& headers, const std::string& body) {
  return "MESG\n" + (body.empty() ? std::string() : "content-length: " + std::to_string(body.size()) + "\n") +
         headers + "\n" + body;
}

std::string pattern(size_t n, char from = 'a') {
  std::string s(n, ' ');
  for (size_t i = 0; i < n; ++i) s[i] = char(from + i % 26);
  return s;
}

uint64_t mesgIdOf(const std::string& packet) {
  std::smatch m;
  return std::regex_search(packet, m, std::regex("\nmesg-id: (\\d+)\n")) ? std::stoull(m[1]) : 0;
}

std::string payloadOf(const MessageData& d) {
  return std::string(reinterpret_cast<const char*>(d.payload), size_t(d.payloadLength));
}

class Messages : public ScriptedSessionTest {
 protected:
  void TearDown() override {
    for (HMessage* m : seen) KS_ReleaseMessage(m);
    for (HMessage* m : mine) KS_ReleaseMessage(m);
    events.clear();
    newWatch_.reset();
    completeWatch_.reset();
    if (bob) KS_ReleaseContact(bob);
    SessionTest::TearDown();
  }

  void signIn() { logOn(true); }
  // One sign-in on a link the client opens (of a new session when `fresh`):
  // the server is 10.5 s ahead of the test clock (1767225600.000).
  void logOn(bool fresh = false) {
    ScriptedSessionTest::signIn(
        {.fresh = fresh, .logon = "LOGON SUCCESSFUL\nSub-Id: 4294967297\nTimestamp: 1767225610.500000\n\n"});
    if (HasFatalFailure() || bob) return;
    bob = connection->contacts().getContact(7);
    newWatch_ = olvaro::subscribeEvent("messages.new", &Messages::onNew, this);
    completeWatch_ = olvaro::subscribeEvent(
        "messages.new.complete",
        [](void* self, void* m) -> uint32_t {
          static_cast<Messages*>(self)->events.push_back({"complete", static_cast<HMessage*>(m)});
          return 0;
        },
        this);
  }
  // Nothing more was sent.
  bool quiet() {
    settle(20);
    return peer.received().empty();
  }
  // The next chunk the client sent, headers and body.
  std::string takeChunk() {
    std::string head = peer.takePacket();
    std::smatch m;
    if (!std::regex_search(head, m, std::regex("\ncontent-length: (\\d+)\n"))) return head;
    return head + peer.take(std::stoul(m[1]));
  }

  // A text to bob, raised as the chat window does; the test keeps a reference.
  HMessage* send(const std::string& payload, bool complete = true, void* target = nullptr) {
    MessageData d{};
    d.size = sizeof d;
    d.mask = MESSAGE_ID | MESSAGE_CONTENTTYPE | MESSAGE_PAYLOAD | MESSAGE_COMPLETE | MESSAGE_TARGET | MESSAGE_ISGROUP;
    d.id = KS_GetLUID();
    d.contentType = "text/plain";
    d.payload = reinterpret_cast<const uint8_t*>(payload.data());
    d.payloadLength = int32_t(payload.size());
    d.complete = complete;
    d.target = target ? target : bob;
    HMessage* m = KS_CreateMessage(&d);
    mine.push_back(m);
    firstIds[m] = uint64_t(d.id);
    KS_SendMessageEx(m);
    return m;
  }
  // A first chunk carries the message's name, made of its first id however
  // often it restarted.
  std::string bobHeaders(HMessage* m, const std::string& before, const std::string& after, uint64_t id = 0) {
    std::string key;
    if (before.find("correlation-id") == std::string::npos)
      key = "mesg-key: " + OutgoingTransfers::keyOf(firstIds[m]) + "\n";
    return "content-type: text/plain\n" + before + "mesg-id: " + std::to_string(id ? id : KS_GetMessageID(m)) +
           "\n" + key + "mesg-target: 0\ntarget-id: 7\n" + after;
  }

  static uint32_t onNew(void* user, void* argument) {
    auto* self = static_cast<Messages*>(user);
    auto* m = static_cast<HMessage*>(argument);
    self->events.push_back({"new", m});
    self->seen.push_back(KS_DuplicateMessageHandle(m));
    if (self->markRead) {
      MessageData d{};
      d.size = sizeof d;
      d.mask = MESSAGE_READ;
      d.read = 1;
      KS_SetMessageData(m, &d);
    }
    return 0;
  }
  IncomingMessages& incoming() { return connection->incomingMessages(); }

  HContact* bob = nullptr;
  std::vector<HMessage*> mine;  // sent by the test
  std::map<HMessage*, uint64_t> firstIds;
  std::vector<HMessage*> seen;  // raised with "messages.new"
  std::vector<std::pair<std::string, HMessage*>> events;
  bool markRead = false;

 private:
  olvaro::EventSubscription newWatch_, completeWatch_;
};

}  // namespace

TEST_F(Messages, CompleteMessagesGoOutInChunksWithExactHeaders) {
  signIn();
  std::string full = pattern(512);
  HMessage* one = send(full);
  EXPECT_EQ(takeChunk(), chunk(bobHeaders(one, "last: 1\n", ""), full));
  EXPECT_TRUE(quiet());

  std::string longer = pattern(513, 'A');
  HMessage* two = send(longer);
  uint64_t id = uint64_t(KS_GetMessageID(two));
  EXPECT_EQ(takeChunk(), chunk(bobHeaders(two, "", "total-length: 513\n"), longer.substr(0, 512)));
  std::string second = takeChunk();
  uint64_t secondId = mesgIdOf(second);
  EXPECT_NE(secondId, id);
  EXPECT_EQ(second, chunk(bobHeaders(two, "correlation-id: " + std::to_string(id) + "\nlast: 1\n", "", secondId),
                          longer.substr(512)));
  EXPECT_TRUE(quiet());
  // Each chunk waits for its answer.
  EXPECT_TRUE(connection->pendingRequests().contains(id));
  EXPECT_TRUE(connection->pendingRequests().contains(secondId));

  // To a group of our service.
  HGroup* group = KS_GetGroup(3);
  GroupData gd{};
  gd.size = sizeof gd;
  gd.mask = GROUP_SERVICE;
  gd.service = connection->service();
  KS_SetGroupData(group, &gd);
  MessageData d{};
  d.size = sizeof d;
  d.mask = MESSAGE_ID | MESSAGE_PAYLOAD | MESSAGE_COMPLETE | MESSAGE_TARGET | MESSAGE_ISGROUP;
  d.id = KS_GetLUID();
  d.payload = reinterpret_cast<const uint8_t*>("hi");
  d.payloadLength = 2;
  d.complete = d.isGroup = 1;
  d.target = group;
  mine.push_back(KS_CreateMessage(&d));
  KS_SendMessageEx(mine.back());
  EXPECT_EQ(takeChunk(), "MESG\ncontent-length: 2\nlast: 1\nmesg-id: " + std::to_string(d.id) + "\nmesg-key: " +
                             OutgoingTransfers::keyOf(uint64_t(d.id)) + "\nmesg-target: 1\ntarget-id: 3\n\nhi");
  KS_ReleaseGroup(group);

  // A contact of a service that is neither ours nor bridged: nothing goes out.
  ServiceData sd{};
  sd.size = sizeof sd;
  sd.mask = SERVICE_STATE;
  sd.state = 1;
  HService* other = KS_CreateService(&sd);
  ContactData cd{};
  cd.size = sizeof cd;
  cd.mask = CONTACT_ID | CONTACT_SERVICE;
  cd.id = 99;
  cd.service = other;
  HContact* stranger = KS_CreateContact(&cd);
  send("hello", true, stranger);
  EXPECT_TRUE(quiet());
  KS_ReleaseContact(stranger);
  KS_ReleaseService(other);
}

// The hub starts its ids again at 32768 whenever it starts, which can be
// within one process: a new session must not name its first message as the
// last session named one the server already holds.
TEST_F(Messages, ANewSessionNamesTheSameFirstIdAfresh) {
  start();
  std::string before = OutgoingTransfers::keyOf(32768);
  connection.reset();
  start();
  EXPECT_NE(OutgoingTransfers::keyOf(32768), before);
}

TEST_F(Messages, AGrowingPayloadGoesOutInFullChunksAndEndsWithAnEmptyLast) {
  signIn();
  std::string payload = pattern(1024);
  HMessage* m = send(payload.substr(0, 300), false);
  uint64_t id = uint64_t(KS_GetMessageID(m));
  EXPECT_TRUE(quiet());  // 300 unsent bytes wait for more

  KS_ContinueMessage(m, payload.data() + 300, 212, 0);
  EXPECT_EQ(takeChunk(), chunk(bobHeaders(m, "", ""), payload.substr(0, 512)));
  KS_ContinueMessage(m, payload.data() + 512, 511, 0);
  EXPECT_TRUE(quiet());
  KS_ContinueMessage(m, payload.data() + 1023, 1, 0);
  std::string second = takeChunk();
  EXPECT_EQ(second, chunk(bobHeaders(m, "correlation-id: " + std::to_string(id) + "\n", "", mesgIdOf(second)),
                          payload.substr(512)));
  // Complete with everything already sent: one empty chunk carries "Last".
  KS_ContinueMessage(m, nullptr, 0, 1);
  std::string last = takeChunk();
  EXPECT_EQ(last, chunk(bobHeaders(m, "correlation-id: " + std::to_string(id) + "\nlast: 1\n", "", mesgIdOf(last)), ""));
  EXPECT_TRUE(quiet());
}

TEST_F(Messages, DeliveredChunksCountAsProgressUntilTheTransferEnds) {
  signIn();
  std::string payload = pattern(513);
  HMessage* m = send(payload);
  uint64_t first = mesgIdOf(takeChunk());
  uint64_t second = mesgIdOf(takeChunk());
  ASSERT_EQ(OutgoingTransfers::instance()->size(), 1u);
  int32_t held = KS_GetHandleReferenceCount(m);

  deliver(response(first, 4));
  EXPECT_EQ(olvaro::messageData(m).progress, 512);
  EXPECT_EQ(OutgoingTransfers::instance()->size(), 1u);
  // An answer to no request, or a second one to the same chunk, changes nothing.
  deliver(response(first, 4) + response(12345, 4));
  EXPECT_EQ(olvaro::messageData(m).progress, 512);

  deliver(response(second, 4));
  EXPECT_EQ(olvaro::messageData(m).progress, 513);
  EXPECT_EQ(OutgoingTransfers::instance()->size(), 0u);
  // The transfer and both chunk requests gave their references back.
  EXPECT_EQ(KS_GetHandleReferenceCount(m), held - 3);
  EXPECT_EQ(connection->pendingRequests().size(), 0u);
  EXPECT_TRUE(quiet());
}

TEST_F(Messages, ALostChunkRestartsTheMessageAtOnceThenAfterGrowingPauses) {
  signIn();
  std::string payload = pattern(513);
  HMessage* m = send(payload);
  uint64_t id = uint64_t(KS_GetMessageID(m));
  uint64_t first = mesgIdOf(takeChunk());
  uint64_t second = mesgIdOf(takeChunk());
  deliver(response(first, 4));
  ASSERT_EQ(olvaro::messageData(m).progress, 512);

  // Both chunks of a round lost: one restart, in full, under a new id.
  deliver(response(second, 100));
  uint64_t renamed = uint64_t(KS_GetMessageID(m));
  EXPECT_NE(renamed, id);
  EXPECT_EQ(olvaro::messageData(m).progress, 0);
  EXPECT_EQ(takeChunk(), chunk(bobHeaders(m, "", "total-length: 513\n"), payload.substr(0, 512)));
  uint64_t again = mesgIdOf(takeChunk());
  deliver(response(first, 100));  // already finished, and of the old round
  EXPECT_TRUE(quiet());
  EXPECT_EQ(KS_GetMessageID(m), int64_t(renamed));

  // Lost again before anything of it was delivered: the next restart waits
  // a second, the one after two.
  deliver(response(again, 100));
  deliver(response(renamed, 100));  // the rest of that round: no restart of its own
  EXPECT_TRUE(quiet());
  runClock(900, 100);
  EXPECT_TRUE(quiet());
  runClock(100, 100);
  std::string restarted = takeChunk();
  EXPECT_EQ(mesgIdOf(restarted), uint64_t(KS_GetMessageID(m)));
  takeChunk();
  deliver(response(uint64_t(KS_GetMessageID(m)), 100));
  runClock(1900, 100);
  EXPECT_TRUE(quiet());
  runClock(100, 100);
  uint64_t third = mesgIdOf(takeChunk());
  EXPECT_EQ(third, uint64_t(KS_GetMessageID(m)));
  uint64_t thirdLast = mesgIdOf(takeChunk());

  // A delivered chunk ends the pauses: the next loss restarts at once.
  deliver(response(third, 4));
  deliver(response(thirdLast, 100));
  EXPECT_EQ(mesgIdOf(takeChunk()), uint64_t(KS_GetMessageID(m)));
  takeChunk();
  EXPECT_EQ(OutgoingTransfers::instance()->size(), 1u);
}

TEST_F(Messages, AChunkTheServerRefusesEndsTheMessageAsInterrupted) {
  signIn();
  HMessage* m = send(pattern(1100));
  uint64_t first = mesgIdOf(takeChunk());
  uint64_t second = mesgIdOf(takeChunk());
  uint64_t third = mesgIdOf(takeChunk());
  deliver(response(first, 4));
  deliver(response(second, 2));  // e.g. the bridge was switched off
  EXPECT_EQ(olvaro::messageData(m).interrupted, 1);
  EXPECT_EQ(OutgoingTransfers::instance()->size(), 0u);
  deliver(response(third, 4));  // a late answer counts for nothing
  EXPECT_EQ(olvaro::messageData(m).progress, 512);
  // Never sent again, not even after the next sign-in.
  peer.drop();
  ASSERT_TRUE(waitState(130));
  runClock(5000);
  logOn();
  EXPECT_TRUE(quiet());
}

TEST_F(Messages, ALinkDropRestartsTheMessageInFullAfterTheNextSignIn) {
  signIn();
  std::string payload = pattern(600);
  HMessage* m = send(payload);
  uint64_t first = mesgIdOf(takeChunk());
  takeChunk();
  deliver(response(first, 4));
  peer.drop();
  ASSERT_TRUE(waitState(130));
  EXPECT_EQ(connection->pendingRequests().size(), 0u);
  EXPECT_EQ(olvaro::messageData(m).progress, 0);
  // Nothing while signed out, but a message sent now waits too.
  HMessage* later = send("later");
  runClock(5000);
  logOn();
  // Each transfer runs on the service's signal, in no order between them.
  std::vector<std::string> sent = {takeChunk(), takeChunk(), takeChunk()};
  std::string id = std::to_string(KS_GetMessageID(m));
  std::erase(sent, chunk(bobHeaders(later, "last: 1\n", ""), "later"));
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], chunk(bobHeaders(m, "", "total-length: 600\n"), payload.substr(0, 512)));
  EXPECT_NE(mesgIdOf(sent[0]), first);
  EXPECT_EQ(sent[1], chunk(bobHeaders(m, "correlation-id: " + id + "\nlast: 1\n", "", mesgIdOf(sent[1])),
                           payload.substr(512)));
  EXPECT_TRUE(quiet());
}

TEST_F(Messages, AnIncomingMessageBecomesAHubMessage) {
  signIn();
  deliver(
      "MESG\nSource-Id: 7\nMesg-Id: 900\nContent-Type: text/plain\nLast: 1\nname: Bobby\n"
      "Timestamp: 1200000000.250000\nContent-Length: 5\n\nhello");
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].first, "new");
  EXPECT_EQ(events[1].first, "complete");
  EXPECT_EQ(events[0].second, events[1].second);
  MessageData d = olvaro::messageData(events[0].second);
  EXPECT_EQ(std::tuple(d.id, d.contact, KS_GetContactID(static_cast<HContact*>(d.target)), d.isGroup, d.complete,
                       std::string(d.contentType), payloadOf(d), d.origin),
            std::tuple(900, bob, kMe, 0, 1, "text/plain", "hello", 1));
  // The server runs 10.5 s ahead.
  EXPECT_EQ(std::tuple(d.timeSec, d.timeUsec, d.localTimeSec, d.localTimeUsec),
            std::tuple(1200000000, 250000, 1199999989, 750000));
  EXPECT_EQ(KS_GetSettingLong("connection.LastMessageTime", 0), 1200000000);
  EXPECT_EQ(KS_GetUnreadMessageCount(bob, 0), 1);
  ContactData c{};
  c.size = sizeof c;
  KS_GetContactData(bob, &c);
  EXPECT_STREQ(c.nickname, "Bobby");
  EXPECT_EQ(incoming().partialCount(), 0u);

  // Seconds alone are a time; text that is none leaves the times at 0.
  deliver("MESG\nSource-Id: 7\nMesg-Id: 901\nLast: 1\nTimestamp: 1300000000\n\n");
  d = olvaro::messageData(events.back().second);
  EXPECT_EQ(std::tuple(d.timeSec, d.localTimeSec, d.localTimeUsec), std::tuple(1300000000, 1299999989, 500000));
  deliver("MESG\nSource-Id: 7\nMesg-Id: 902\nLast: 1\nTimestamp: soon\n\n");
  d = olvaro::messageData(events.back().second);
  EXPECT_EQ(std::tuple(d.timeSec, d.localTimeSec), std::tuple(0, 0));
  EXPECT_EQ(KS_GetSettingLong("connection.LastMessageTime", 0), 1300000000);
  EXPECT_EQ(KS_GetUnreadMessageCount(bob, 0), 3);
}

TEST_F(Messages, ChunksOfAnIncomingMessageAreAppendedToIt) {
  signIn();
  deliver("GROUP DETAIL\nGroup-ID: 3\nName: Friends\n\n");
  size_t contacts = connection->contacts().size();
  deliver("MESG\nSource-Id: 7\nMesg-Id: 50\nTarget-Id: 3\nContent-Type: image/jpeg\nTotal-Length: 9\nContent-Length: 3\n\nabc");
  ASSERT_EQ(events.size(), 1u);
  HMessage* m = events[0].second;
  MessageData d = olvaro::messageData(m);
  EXPECT_EQ(std::tuple(d.isGroup, KS_GetGroupID(static_cast<HGroup*>(d.target)), d.complete, d.totalLength),
            std::tuple(1, 3, 0, 9));
  EXPECT_EQ(incoming().partialCount(), 1u);
  EXPECT_EQ(KS_GetUnreadMessageCount(d.target, 1), 1);

  // Dropped without effect: another sender, an unknown message, an unknown
  // bridge.
  deliver("MESG\nSource-Id: 8\nMesg-Id: 51\nCorrelation-Id: 50\nContent-Length: 3\n\nxxx");
  deliver("MESG\nSource-Id: 7\nMesg-Id: 52\nCorrelation-Id: 49\nContent-Length: 3\n\nxxx");
  deliver("MESG\nSource-Id: 9\nMesg-Id: 53\nCorrelation-Id: 77\nLast: 1\n\n");
  deliver("MESG\nSource-Id: 7\nMesg-Id: 54\nBridge-Id: 5\nLast: 1\nContent-Length: 3\n\nxxx");
  EXPECT_EQ(events.size(), 1u);
  EXPECT_EQ(olvaro::messageData(m).payloadLength, 3);
  EXPECT_EQ(connection->contacts().size(), contacts + 1);  // only 8, which sent a continuation of 50

  deliver("MESG\nSource-Id: 7\nMesg-Id: 55\nCorrelation-Id: 50\nContent-Length: 3\n\ndef");
  EXPECT_EQ(olvaro::messageData(m).payloadLength, 6);
  EXPECT_EQ(events.size(), 1u);
  deliver("MESG\nSource-Id: 7\nMesg-Id: 56\nCorrelation-Id: 50\nLast: 1\nContent-Length: 3\n\nghi");
  d = olvaro::messageData(m);
  EXPECT_EQ(std::tuple(payloadOf(d), d.complete), std::tuple("abcdefghi", 1));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1], (std::pair<std::string, HMessage*>{"complete", m}));
  EXPECT_EQ(incoming().partialCount(), 0u);
  // Finished: a late chunk finds nothing.
  deliver("MESG\nSource-Id: 7\nMesg-Id: 57\nCorrelation-Id: 50\nContent-Length: 3\n\njkl");
  EXPECT_EQ(olvaro::messageData(m).payloadLength, 9);
}

TEST_F(Messages, HistoryStoredAndReadMessagesAreNotCountedAlike) {
  signIn();
  KS_SetSettingLong("connection.LastMessageTime", 5);
  deliver("MESG\nSource-Id: 7\nMesg-Id: 60\nHist: 1\nLast: 1\nTimestamp: 1200000000.0\n\n");
  MessageData d = olvaro::messageData(events.back().second);
  EXPECT_EQ(d.origin, 3);
  EXPECT_EQ(d.timeSec, 1200000000);
  EXPECT_EQ(KS_GetUnreadMessageCount(bob, 0), 0);
  EXPECT_EQ(KS_GetSettingLong("connection.LastMessageTime", 0), 5);

  // Shown by a chat window while "messages.new" runs: not unread.
  markRead = true;
  deliver("MESG\nSource-Id: 7\nMesg-Id: 61\nLast: 1\n\n");
  EXPECT_EQ(olvaro::messageData(events.back().second).origin, 1);
  EXPECT_EQ(KS_GetUnreadMessageCount(bob, 0), 0);
  markRead = false;

  // While stored messages are fetched everything is stored, even history.
  KS_SetVariantLong("connection.state", 70);
  deliver("MESG\nSource-Id: 7\nMesg-Id: 62\nHist: 1\nLast: 1\nTimestamp: 1200000100.0\n\n");
  EXPECT_EQ(olvaro::messageData(events.back().second).origin, 2);
  EXPECT_EQ(KS_GetUnreadMessageCount(bob, 0), 1);
  EXPECT_EQ(KS_GetSettingLong("connection.LastMessageTime", 0), 1200000100);
}

TEST_F(Messages, PartlyReceivedMessagesAreAbandonedWhenTheSenderGoesOfflineAndOnALinkDrop) {
  signIn();
  deliver("MESG\nSource-Id: 7\nMesg-Id: 70\nContent-Length: 1\n\na");
  deliver("MESG\nSource-Id: 7\nMesg-Id: 71\nContent-Length: 1\n\nb");
  deliver("MESG\nSource-Id: 8\nMesg-Id: 72\nContent-Length: 1\n\nc");
  ASSERT_EQ(incoming().partialCount(), 3u);
  auto interrupted = [&] {
    int n = 0;
    for (HMessage* m : seen) n += olvaro::messageData(m).interrupted;
    return n;
  };

  deliver("CONTACT DETAIL\nContact-Id: 7\nOnline-Status: 1\n\n");
  deliver("CONTACT DETAIL\nContact-Id: 7\nOnline-Status: 0\n\n");
  EXPECT_EQ(incoming().partialCount(), 1u);
  EXPECT_EQ(interrupted(), 2);
  EXPECT_EQ(olvaro::messageData(seen[2]).interrupted, 0);  // not from bob

  peer.drop();
  ASSERT_TRUE(waitState(130));
  EXPECT_EQ(incoming().partialCount(), 0u);
  EXPECT_EQ(interrupted(), 3);
  for (HMessage* m : seen) EXPECT_EQ(olvaro::messageData(m).complete, 0);
}

TEST_F(Messages, APresenceChangeKeepsMessagesInProgressAndEachSenderHasABoundedNumber) {
  signIn();
  deliver("CONTACT DETAIL\nContact-Id: 7\nOnline-Status: 1\n\n");
  deliver("MESG\nSource-Id: 7\nMesg-Id: 70\nContent-Type: audio/x-gsm\nContent-Length: 1\n\na");
  HMessage* voice = seen.back();
  deliver("CONTACT DETAIL\nContact-Id: 7\nStatus: away\nOnline-Status: 2\n\n");
  deliver("MESG\nSource-Id: 7\nMesg-Id: 71\nCorrelation-Id: 70\nLast: 1\nContent-Length: 1\n\nb");
  EXPECT_EQ(olvaro::messageData(voice).interrupted, 0);
  EXPECT_EQ(olvaro::messageData(voice).complete, 1);
  EXPECT_EQ(payloadOf(olvaro::messageData(voice)), "ab");

  // One more than a sender may have open abandons its oldest; others keep theirs.
  deliver("MESG\nSource-Id: 8\nMesg-Id: 99\nContent-Length: 1\n\nc");
  HMessage* carls = seen.back();
  const size_t most = IncomingMessages::kMaxPartialPerSender;
  for (size_t i = 0; i <= most; ++i)
    deliver("MESG\nSource-Id: 7\nMesg-Id: " + std::to_string(100 + i) + "\nContent-Length: 1\n\nx");
  EXPECT_EQ(incoming().partialCount(), most + 1);
  HMessage* oldest = seen[seen.size() - most - 1];
  EXPECT_EQ(olvaro::messageData(oldest).interrupted, 1);
  EXPECT_EQ(olvaro::messageData(seen[seen.size() - most]).interrupted, 0);
  EXPECT_EQ(olvaro::messageData(carls).interrupted, 0);
  // The abandoned one takes no more chunks; the newest still does.
  deliver("MESG\nSource-Id: 7\nMesg-Id: 300\nCorrelation-Id: 100\nLast: 1\nContent-Length: 1\n\ny");
  EXPECT_EQ(olvaro::messageData(oldest).complete, 0);
  deliver("MESG\nSource-Id: 7\nMesg-Id: 301\nCorrelation-Id: " + std::to_string(100 + most) +
          "\nLast: 1\nContent-Length: 1\n\ny");
  EXPECT_EQ(payloadOf(olvaro::messageData(seen.back())), "xy");
  EXPECT_EQ(incoming().partialCount(), most);

  // Removed from the list: all of its messages in progress end.
  deliver("CONTACT DETAIL\nContact-Id: 7\n\n");
  EXPECT_EQ(incoming().partialCount(), 1u);
}

TEST_F(Messages, AnIncomingMessageCannotGrowPastItsBound) {
  signIn();
  // Announced as 5 bytes: 3 then 3 more is abandoned, nothing appended.
  deliver("MESG\nSource-Id: 7\nMesg-Id: 80\nTotal-Length: 5\nContent-Length: 3\n\nabc");
  deliver("MESG\nSource-Id: 7\nMesg-Id: 81\nCorrelation-Id: 80\nLast: 1\nContent-Length: 3\n\ndef");
  HMessage* announced = seen.back();
  EXPECT_EQ(olvaro::messageData(announced).interrupted, 1);
  EXPECT_EQ(olvaro::messageData(announced).payloadLength, 3);
  EXPECT_EQ(incoming().partialCount(), 0u);
  EXPECT_EQ(events.size(), 1u);  // never complete

  // A first chunk already over its announced length is abandoned at once.
  deliver("MESG\nSource-Id: 7\nMesg-Id: 82\nTotal-Length: 2\nContent-Length: 3\n\nabc");
  EXPECT_EQ(olvaro::messageData(seen.back()).interrupted, 1);
  EXPECT_EQ(incoming().partialCount(), 0u);

  // Without a length: up to 16 MiB exactly, then abandoned.
  const size_t piece = 1 << 20;
  std::string bytes(piece, 'x');
  deliver("MESG\nSource-Id: 7\nMesg-Id: 90\nContent-Length: " + std::to_string(piece) + "\n\n" + bytes);
  HMessage* open = seen.back();
  for (int i = 1; i < 16; ++i)
    deliver("MESG\nSource-Id: 7\nMesg-Id: " + std::to_string(90 + i) + "\nCorrelation-Id: 90\nContent-Length: " +
            std::to_string(piece) + "\n\n" + bytes);
  EXPECT_EQ(olvaro::messageData(open).payloadLength, int32_t(IncomingMessages::kMaxPayload));
  EXPECT_EQ(olvaro::messageData(open).interrupted, 0);
  EXPECT_EQ(incoming().partialCount(), 1u);
  deliver("MESG\nSource-Id: 7\nMesg-Id: 120\nCorrelation-Id: 90\nContent-Length: 1\n\nx");
  EXPECT_EQ(olvaro::messageData(open).interrupted, 1);
  EXPECT_EQ(olvaro::messageData(open).payloadLength, int32_t(IncomingMessages::kMaxPayload));
  EXPECT_EQ(incoming().partialCount(), 0u);
}

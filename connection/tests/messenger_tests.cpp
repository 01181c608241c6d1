// The messenger against the real server: contacts, presence, messages in
// both directions, stored and older messages, groups, with a second account
// on the other side.
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <map>
#include <set>

#include "contact_requests.h"
#include "hubtest/fake_overview.h"
#include "groups.h"
#include "history.h"
#include "messenger_fixture.h"

using namespace conntest;

namespace {

std::string pattern(size_t size, char seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = char(seed + i * 7 % 61);
  return s;
}

}  // namespace

TEST_F(MessengerTest, PresenceAndIdentityTravelBothWays) {
  server->list_contact(bob, ann);
  signIn();
  EXPECT_TRUE(listed(bob));
  EXPECT_EQ(contact(bob).data().onlineStatus, 0);

  auto b = signInBob(*server);
  ASSERT_TRUE(waitFor([&] { return contact(bob).data().onlineStatus == 1; }));
  Packet away("CONTACT DETAIL");
  away.setHeaderInt("Online-Status", 2);
  away.setHeader("Nickname", "Bobby");
  away.setHeader("Status", "at lunch");
  b->request(away);
  ASSERT_TRUE(waitFor([&] { return contact(bob).data().onlineStatus == 2; }));
  EXPECT_STREQ(contact(bob).data().nickname, "Bobby");
  EXPECT_STREQ(contact(bob).data().status, "at lunch");

  olvaro::conn::IdentityRequest identity{"Annie", "busy"};
  EXPECT_EQ(KS_CallFunction("Connection/SetIdentity", &identity), 1u);
  Packet seen;
  ASSERT_TRUE(b->next([&](const Packet& p) {
    return p.command == "CONTACT DETAIL" && p.getHeader("Nickname") == "Annie";
  }, &seen));
  EXPECT_EQ(seen.getHeader("Status"), "busy");
  EXPECT_EQ(connection->setPresenceStatus(2), 1);
  ASSERT_TRUE(b->next([&](const Packet& p) {
    return p.command == "CONTACT DETAIL" && p.getHeaderInt("Online-Status") == 2;
  }, &seen));

  // bob leaves: ann sees him offline.
  b->close();
  ASSERT_TRUE(waitFor([&] { return contact(bob).data().onlineStatus == 0; }));
}

TEST_F(MessengerTest, TextsStreamInChunksAndArriveWholeBothWays) {
  signIn();
  auto b = signInBob(*server);
  std::string text = pattern(5 * 1024, 'a');
  sendFromHub(bob, "text/plain", text);
  WireMessage got;
  ASSERT_TRUE(b->nextMessage(&got));
  EXPECT_EQ(got.payload, text);
  EXPECT_EQ(got.sender, ann);
  EXPECT_EQ(b->chunksSeen, 10u);
  EXPECT_EQ(b->largestChunk, 512u);

  // bob answers with a photo in 1000-byte chunks; ann's hub puts it together.
  std::string photo = pattern(3000, '0');
  b->sendMessage(ann, false, "image/jpeg", photo, 1000);
  ASSERT_TRUE(waitFor([&] { return !inbox->messages.empty(); }));
  EXPECT_EQ(inbox->messages[0].payload, photo);
  EXPECT_EQ(inbox->messages[0].contentType, "image/jpeg");
  EXPECT_EQ(inbox->messages[0].sender, bob);
  EXPECT_EQ(inbox->messages[0].origin, 1);
  ContactRef from = contact(bob);
  EXPECT_EQ(KS_GetUnreadMessageCount(from.handle, 0), 1);
}

// Only a restart of one message may be taken for a copy: the same text
// sent again at once is a message of its own.
TEST_F(MessengerTest, TheSameTextSentTwiceArrivesTwice) {
  signIn();
  auto b = signInBob(*server);
  std::string text = pattern(700, 'r');
  sendFromHub(bob, "text/plain", text);
  sendFromHub(bob, "text/plain", text);
  WireMessage first, second;
  ASSERT_TRUE(b->nextMessage(&first));
  ASSERT_TRUE(b->nextMessage(&second));
  EXPECT_EQ(first.payload, text);
  EXPECT_EQ(second.payload, text);
  EXPECT_NE(first.id, second.id);
  EXPECT_FALSE(b->nextMessage(nullptr, 200));
}

TEST_F(MessengerTest, LostChunksAreSentAgainUntilTheyGetThrough) {
  signIn();
  auto b = signInBob(*server);
  srv::Faults lose;
  lose.lose_chunks = true;
  server->set_faults(lose);
  std::string text = pattern(1500, 'k');
  sendFromHub(bob, "text/plain", text);
  // Restarts keep coming, spaced out, while the server loses every chunk.
  runClock(20000);
  EXPECT_FALSE(b->nextMessage(nullptr, 200));
  server->set_faults(srv::Faults());
  runClock(61000);
  WireMessage got;
  ASSERT_TRUE(b->nextMessage(&got));
  EXPECT_EQ(got.payload, text);
  runClock(61000);
  EXPECT_FALSE(b->nextMessage(nullptr, 300)) << "arrived twice";
}

TEST_F(MessengerTest, MessagesWhileOfflineArriveStoredAndUnread) {
  int64_t group = server->create_group("Lunch", "", "", ann);
  server->set_member(group, bob, 0);
  auto b = signInBob(*server);
  b->sendMessage(ann, false, "text/plain", "are you there?");
  ASSERT_EQ(b->response(b->sendMessage(ann, false, "audio/x-speex", pattern(1400, 'v'))), 4);
  signIn();
  ASSERT_TRUE(waitFor([&] { return inbox->messages.size() == 2; }));
  EXPECT_EQ(inbox->messages[0].payload, "are you there?");
  EXPECT_EQ(inbox->messages[1].payload, pattern(1400, 'v'));
  for (auto& m : inbox->messages) EXPECT_EQ(m.origin, 2);
  ContactRef from = contact(bob);
  EXPECT_EQ(KS_GetUnreadMessageCount(from.handle, 0), 2);
  EXPECT_NE(KS_GetSettingLong("connection.LastMessageTime", 0), 0);
}

// The server stops while a recording is still being sent, and comes back
// on the same port with the same database: the message goes out again in
// full and arrives once.
TEST_F(MessengerTest, ServerRestartMidMessageSendsItAgainWhole) {
  srv::Config config = restartableServer("messenger-restart");
  ASSERT_TRUE(server);
  signIn();
  auto b = signInBob(*server);

  ContactRef to = contact(bob);
  std::string first = pattern(1024, 'r'), rest = pattern(700, 'R');
  HMessage* m = nullptr;
  KS_SendMessage(to.handle, 0, "audio/x-speex", first.data(), int(first.size()), 0, &m);
  ASSERT_TRUE(m);
  ASSERT_TRUE(b->next([](const Packet& p) { return p.command == "MESG" && p.hasHeader("Correlation-Id"); }, nullptr));

  server.reset();
  server = startServer(config);
  ASSERT_TRUE(server);
  ASSERT_TRUE(waitFor([&] { return state() != 100; }));
  b = signInBob(*server);
  runClock(6000);
  ASSERT_TRUE(waitState(100));
  KS_ContinueMessage(m, rest.data(), int(rest.size()), 1);
  KS_ReleaseMessage(m);
  WireMessage got;
  ASSERT_TRUE(b->nextMessage(&got));
  EXPECT_EQ(got.payload, first + rest);
  EXPECT_FALSE(b->nextMessage(nullptr, 300)) << "arrived twice";
}

namespace {

struct Answers {
  std::vector<int64_t> codes;
  static void record(void* user, const olvaro::conn::Response* response) {
    static_cast<Answers*>(user)->codes.push_back(response->code);
  }
};

std::string serviceFunction(HService* service, const char* name) {
  return olvaro::handleName((std::string("Service/%p/") + name).c_str(), service);
}

}  // namespace

TEST_F(MessengerTest, ContactRequestIsShownAcceptedAndReturned) {
  hubtest::FakeOverview overview;
  int64_t carol = server->create_account({"carol@example.org", "carolpw1", "Carol", "", 0});
  signIn();
  WireClient c(port(*server));
  ASSERT_TRUE(c.signIn("carol@example.org", "carolpw1"));
  Packet add("CONTACT ADD");
  add.setHeader("Name", "ann@example.org");
  add.body = "hi ann, it's carol";
  ASSERT_EQ(c.response(c.request(add)), 0);
  ASSERT_TRUE(waitFor([&] { return overview.items.size() == 1; }));
  EXPECT_EQ(overview.items.begin()->second.title, "carol@example.org");
  EXPECT_EQ(overview.items.begin()->second.text, "hi ann, it's carol");

  olvaro::conn::AcceptContactRequest accept{carol, 1};
  EXPECT_EQ(KS_CallFunction(serviceFunction(connection->service(), "AcceptContact").c_str(), &accept), 1u);
  ASSERT_TRUE(waitFor([&] { return overview.items.empty(); }));
  // carol had ann on her list as waiting, presence hidden; now accepted.
  Packet detail;
  ASSERT_TRUE(c.next([&](const Packet& p) {
    return p.command == "CONTACT DETAIL" && int64_t(p.getHeaderId("Contact-Id")) == ann &&
           p.getHeaderInt("State") == 3;
  }, &detail));
  EXPECT_EQ(detail.getHeaderInt("Online-Status"), 1);
  EXPECT_FALSE(listed(carol));  // let in, not yet listed by ann

  // ann asks back; carol accepts and both list each other with presence.
  olvaro::conn::AddContactRequest back{int32_t(sizeof(olvaro::conn::AddContactRequest)), "carol@example.org",
                                       "and you", nullptr, nullptr};
  EXPECT_EQ(KS_CallFunction(serviceFunction(connection->service(), "AddContact").c_str(), &back), 1u);
  Packet asked;
  ASSERT_TRUE(c.next("CONTACT ADD", &asked));
  EXPECT_EQ(int64_t(asked.getHeaderId("Source-Id")), ann);
  Packet yes("CONTACT ADD RESP");
  yes.setHeaderId("Source-Id", uint64_t(ann));
  yes.setHeaderInt("Accepted", 1);
  ASSERT_EQ(c.response(c.request(yes)), 0);
  ASSERT_TRUE(waitFor([&] { return listed(carol) && contact(carol).data().onlineStatus == 1; }));
  EXPECT_STREQ(contact(carol).data().nickname, "Carol");
}

TEST_F(MessengerTest, HistoryBringsEarlierMessagesAsHistory) {
  signIn();
  auto b = signInBob(*server);
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(b->response(b->sendMessage(ann, false, "text/plain", "old " + std::to_string(i))), 4);
  ASSERT_TRUE(waitFor([&] { return inbox->messages.size() == 3; }));
  long newest = KS_GetSettingLong("connection.LastMessageTime", 0);
  EXPECT_NE(newest, 0);

  Answers answers;
  ContactRef with = contact(bob);
  olvaro::conn::HistoryRequest request{-10, with.handle, 0, INT32_MAX, 0, &Answers::record, &answers};
  EXPECT_EQ(KS_CallFunction("Connection/RequestMessageHistory", &request), 1u);
  ASSERT_TRUE(waitFor([&] { return answers.codes.size() == 2; }));
  EXPECT_EQ(answers.codes[0], 0);
  EXPECT_NE(answers.codes[1], 0);
  ASSERT_EQ(inbox->messages.size(), 6u);
  std::set<std::string> older;
  for (size_t i = 3; i < 6; ++i) {
    EXPECT_EQ(inbox->messages[i].origin, 3);
    older.insert(inbox->messages[i].payload);
  }
  EXPECT_EQ(older, (std::set<std::string>{"old 0", "old 1", "old 2"}));
  EXPECT_EQ(KS_GetUnreadMessageCount(with.handle, 0), 3);  // history is not unread
  EXPECT_EQ(KS_GetSettingLong("connection.LastMessageTime", 0), newest);
}

TEST_F(MessengerTest, GroupsAreCreatedJoinedLeftAndModerated) {
  int64_t secret = server->create_group("Secret", "", "sesame", bob);
  signIn();
  auto b = signInBob(*server);
  Answers answers;
  auto join = [&](const char* name, const char* password) {
    answers.codes.clear();
    olvaro::conn::GroupJoinRequest r{int32_t(sizeof(olvaro::conn::GroupJoinRequest)), name, password,
                                     &Answers::record, &answers};
    EXPECT_EQ(KS_CallFunction("orvaloGroupSubscribe", &r), 1u);
    EXPECT_TRUE(waitFor([&] { return !answers.codes.empty(); }));
    return answers.codes.empty() ? -1000 : answers.codes[0];
  };
  EXPECT_EQ(join("No Such Group", nullptr), 2);
  EXPECT_EQ(join("Friends", nullptr), 11);
  EXPECT_EQ(join("Secret", "wrong"), 13);
  EXPECT_EQ(join("Secret", "sesame"), 0);
  ASSERT_TRUE(waitFor([&] { return groupExists(secret); }));
  HGroup* s = KS_GetGroup(secret);
  GroupData sd{};
  sd.size = sizeof sd;
  KS_GetGroupData(s, &sd);
  EXPECT_STREQ(sd.name, "Secret");
  int32_t role = -1;
  ContactRef bobInHub = contact(bob);
  EXPECT_TRUE(KS_GetGroupMember(s, bobInHub.handle, &role));
  EXPECT_EQ(role, 1);
  KS_ReleaseGroup(s);

  // ann leaves: the server agrees and the group goes from the hub.
  s = KS_GetGroup(secret);
  EXPECT_EQ(KS_CallFunction("orvaloGroupUnsub", s), 1u);
  KS_ReleaseGroup(s);
  ASSERT_TRUE(waitFor([&] { return !groupExists(secret); }));

  // ann creates a group, bob joins it, ann silences, kicks and bans him.
  answers.codes.clear();
  olvaro::conn::GroupCreateRequest create{int32_t(sizeof(olvaro::conn::GroupCreateRequest)), "Chess",
                                          &Answers::record, &answers};
  EXPECT_EQ(KS_CallFunction("orvaloGroupCreate", &create), 1u);
  ASSERT_TRUE(waitFor([&] { return !answers.codes.empty(); }));
  EXPECT_EQ(answers.codes[0], 0);
  Packet subscribe("GROUP SUBSCRIBE");
  subscribe.setHeader("Name", "Chess");
  ASSERT_EQ(b->response(b->request(subscribe)), 0);
  Packet detail;
  ASSERT_TRUE(b->next([](const Packet& p) { return p.command == "GROUP DETAIL" && p.getHeader("Name") == "Chess"; },
                      &detail));
  int64_t chess = int64_t(detail.getHeaderId("Group-ID"));
  HGroup* g = KS_GetGroup(chess);
  ASSERT_TRUE(waitFor([&] { return KS_GroupContainsMember(g, bobInHub.handle) != 0; }));
  size_t notices = inbox->messages.size();
  // Silenced and banned members stay listed with their role; a kicked one
  // leaves the group.
  for (int32_t action : {8, 4, 16}) {
    olvaro::conn::AdminContactRequest admin{bobInHub.handle, g, action};
    EXPECT_EQ(KS_CallFunction(serviceFunction(connection->service(), "AdminContact").c_str(), &admin), 1u);
    if (action == 16) {  // a banned member no longer hears the group
      EXPECT_TRUE(waitFor([&] { return KS_GroupContainsMember(g, bobInHub.handle) == 0; }));
      continue;
    }
    Packet echo;
    ASSERT_TRUE(b->next("GROUP ADMIN", &echo)) << "action " << action;
    EXPECT_EQ(echo.getHeaderInt("Action"), action);
    EXPECT_TRUE(waitFor([&] {
      int32_t value = -1;
      return KS_GetGroupMember(g, bobInHub.handle, &value) && value == action;
    })) << "action " << action;
    // Neither may speak in the group.
    EXPECT_EQ(b->response(b->sendMessage(chess, true, "text/plain", "let me talk")), 13);
  }
  ASSERT_TRUE(waitFor([&] { return inbox->messages.size() == notices + 3; }));
  for (size_t i = notices; i < inbox->messages.size(); ++i) {
    EXPECT_EQ(inbox->messages[i].contentType, "olvaro/x-admin");
    EXPECT_EQ(inbox->messages[i].group, chess);
    EXPECT_EQ(inbox->messages[i].payload.size(), 12u + 3u);  // "Bob"
  }
  EXPECT_EQ(KS_GetUnreadMessageCount(g, 1), 3);
  KS_ReleaseGroup(g);
}

// The demo the main job signs in to: alice's list, her groups, and the
// automated contact answering every kind of message.
TEST_F(MessengerTest, DemoAccountHasItsListGroupsAndAnAnsweringContact) {
  ASSERT_TRUE(server->seed_demo());
  int64_t alice = server->account_id("alice@olvaro.demo"), echo = server->account_id("echo@olvaro.demo");
  signIn("alice@olvaro.demo", "demo");
  HGroup* list = KS_GetGroup(0);
  uint32_t count = 0;
  KS_GetGroupMembers(list, nullptr, nullptr, &count);
  KS_ReleaseGroup(list);
  EXPECT_EQ(count, 3u);  // bob, carol, echo
  EXPECT_TRUE(listed(server->account_id("bob@olvaro.demo")));
  EXPECT_EQ(contact(echo).data().onlineStatus, 1);

  std::map<std::string, int32_t> aliceRoles;
  ContactRef me = contact(alice);
  int64_t id = 0;
  for (int more = KS_EnumGroupsBegin(&id); more; id = KS_EnumGroupsNext(id), more = id != 0) {
    if (id == 0) continue;
    HGroup* g = KS_GetGroup(id);
    GroupData d{};
    d.size = sizeof d;
    KS_GetGroupData(g, &d);
    int32_t role = -1;
    KS_GetGroupMember(g, me.handle, &role);
    aliceRoles[d.name ? d.name : ""] = role;
    KS_ReleaseGroup(g);
  }
  EXPECT_EQ(aliceRoles, (std::map<std::string, int32_t>{{"Lounge", 1}, {"Back Room", 1}}));

  const std::pair<const char*, std::string> kinds[] = {
      {"text/plain", "hello echo"}, {"image/jpeg", pattern(2000, 'j')}, {"audio/x-speex", pattern(900, 's')}};
  for (auto& [type, payload] : kinds) sendFromHub(echo, type, payload);
  ASSERT_TRUE(waitFor([&] { return inbox->messages.size() == 3; }));
  EXPECT_EQ(inbox->messages[0].payload, "You said: hello echo");
  EXPECT_EQ(inbox->messages[1].contentType, "image/jpeg");
  EXPECT_EQ(inbox->messages[1].payload, pattern(2000, 'j'));
  EXPECT_EQ(inbox->messages[2].contentType, "audio/x-speex");
  for (auto& m : inbox->messages) EXPECT_EQ(m.sender, echo);
}

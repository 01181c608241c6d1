// The messenger against the real server: contacts, presence, messages in
// both directions, stored and older messages, groups, with a second account
// on the other side.
#include <unistd.h>

#include <filesystem>

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
  signInAnn();
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
  signInAnn();
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

TEST_F(MessengerTest, LostChunksAreSentAgainUntilTheyGetThrough) {
  signInAnn();
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
  signInAnn();
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
  std::string db = testing::TempDir() + "messenger-restart-" + std::to_string(getpid()) + ".db";
  std::filesystem::remove(db);
  srv::Config config;
  config.database = db;
  server.reset();
  server = startServer(config);
  ASSERT_TRUE(server);
  ann = server->create_account({"ann@example.org", "secret12", "Ann", "", 0});
  bob = server->create_account({"bob@example.org", "bobpass1", "Bob", "", 0});
  server->list_contact(ann, bob);
  int serverPort = port(*server);
  signInAnn();
  auto b = signInBob(*server);

  ContactRef to = contact(bob);
  std::string first = pattern(1024, 'r'), rest = pattern(700, 'R');
  HMessage* m = nullptr;
  KS_SendMessage(to.handle, 0, "audio/x-speex", first.data(), int(first.size()), 0, &m);
  ASSERT_TRUE(m);
  ASSERT_TRUE(b->next([](const Packet& p) { return p.command == "MESG" && p.hasHeader("Correlation-Id"); }, nullptr));

  server.reset();
  config.ports = {uint16_t(serverPort)};
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
  connection.reset();
  server.reset();
  std::filesystem::remove(db);
}

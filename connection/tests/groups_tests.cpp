// The groups area against a scripted server: groups, members and roles from
// the server's packets, role-change notices, and the exact group requests.
#include "contacts.h"
#include "groups.h"
#include "olvaro/hub_records.h"
#include "session_fixture.h"

using namespace conntest;
using olvaro::conn::AdminContactRequest;
using olvaro::conn::GroupCreateRequest;
using olvaro::conn::GroupJoinRequest;
using olvaro::conn::Response;

namespace {

constexpr int64_t kMe = 4294967297;

struct Answer {
  int calls = 0;
  int64_t code = -1;
};

void recordAnswer(void* context, const Response* response) {
  auto* answer = static_cast<Answer*>(context);
  ++answer->calls;
  answer->code = response->code;
}

uint32_t countEvent(void* user, void*) {
  ++*static_cast<int*>(user);
  return 0;
}

bool groupExists(int64_t id) {
  int64_t at = 0;
  for (bool more = KS_EnumGroupsBegin(&at); more; more = (at = KS_EnumGroupsNext(at)) != 0)
    if (at == id) return true;
  return false;
}

bool functionExists(const char* name) { return KS_GetFunctionProcAddress(name, nullptr, nullptr) != 0; }

class Groups : public ScriptedSessionTest {
 protected:
  // Signs in through the scripted peer with the "Word-Size" given (none when
  // empty), stopping at the contact list when `upTo` is 50.
  void signIn(const std::string& wordSize = "4", long upTo = 100) {
    ScriptedSessionTest::signIn(
        {.challenge = challenge(wordSize), .groups = "GROUP DETAIL\nGroup-ID: 3\nName: Friends\n\n", .upTo = upTo});
  }
  // Again on the next link, up to the contact list.
  void logOn(const std::string& wordSize) {
    ScriptedSessionTest::signIn({.fresh = false, .challenge = challenge(wordSize), .upTo = 50});
  }
  static std::string challenge(const std::string& wordSize) {
    return "AUTH\nAuth-Target: 0\n" + (wordSize.empty() ? std::string() : "Word-Size: " + wordSize + "\n") + "\n";
  }
  void finishSignIn() {
    peer.send("LOGON SUCCESSFUL\nSub-Id: 4294967297\nNickname: Ann\n\n");
    ASSERT_TRUE(waitState(100));
  }

  // Signed in, with carl (8) listed and Friends (3) holding 7 and carl.
  void signInWithCarlInFriends() {
    signIn();
    deliver("CONTACT DETAIL\nContact-Id: 8\nName: carl@example.org\nNickname: Carl\nState: 1\n\n");
    deliver(withBody("GROUP DETAIL\nGroup-ID: 3\nName: Friends\n", bigEndian(7, 4) + bigEndian(8, 4)));
  }

  // The member value of contact `id` in group `group`; -1 when not a member.
  int32_t roleOf(int64_t group, int64_t id) {
    HGroup* g = KS_GetGroup(group);
    HContact* c = connection->contacts().getContact(id);
    int32_t role = -1;
    if (!KS_GetGroupMember(g, c, &role)) role = -1;
    KS_ReleaseContact(c);
    KS_ReleaseGroup(g);
    return role;
  }
  uint32_t memberCount(int64_t group) {
    HGroup* g = KS_GetGroup(group);
    uint32_t count = 0;
    KS_GetGroupMembers(g, nullptr, nullptr, &count);
    KS_ReleaseGroup(g);
    return count;
  }
  GroupData groupOf(HGroup* group) {
    GroupData d{};
    d.size = sizeof d;
    KS_GetGroupData(group, &d);
    return d;
  }

  std::vector<Answer> answers = std::vector<Answer>(4);  // outlive the session

 private:
};

}  // namespace

TEST_F(Groups, FirstDetailOfASignInPrunesStaleContactsThenReadsMembersAndRoles) {
  signIn("4", 50);
  deliver("CONTACT DETAIL\nContact-Id: 8\nName: carl@example.org\nOnline-Status: 1\n\n");
  int changed = 0;
  Subscription* watch = KS_EventSubscribe(countEvent, "groups.changed", &changed);
  // Ids are unsigned 32-bit: 0xFFFFFFF0 is not negative.
  deliver(withBody("GROUP DETAIL\nGroup-ID: 3\nName: Friends\nDesc: old friends\nAdmin: 5|1,,7|2\n",
                   bigEndian(7, 4) + bigEndian(8, 4) + bigEndian(0xFFFFFFF0u, 4)));
  EXPECT_EQ(state(), 60);
  EXPECT_EQ(changed, 1);
  HGroup* friends = KS_GetGroup(3);
  GroupData g = groupOf(friends);
  EXPECT_STREQ(g.name, "Friends");
  EXPECT_STREQ(g.description, "old friends");
  EXPECT_EQ(g.service, connection->service());
  EXPECT_EQ(g.state, 0);
  EXPECT_EQ(memberCount(3), 4u);
  EXPECT_EQ(roleOf(3, 7), 2);  // moderator
  EXPECT_EQ(roleOf(3, 5), 1);  // administrator, added by the role list
  EXPECT_EQ(roleOf(3, 8), 0);
  EXPECT_EQ(roleOf(3, 4294967280), 0);

  // After a lost link only bob comes back: carl, still unknown when the first
  // group arrives, leaves every group; the group's listed members return.
  finishSignIn();
  peer.drop();
  ASSERT_TRUE(waitState(130));
  EXPECT_EQ(groupOf(friends).state, 100);
  runClock(5000);
  logOn("4");
  EXPECT_EQ(roleOf(0, 8), 0);  // still listed until the groups come
  deliver(withBody("GROUP DETAIL\nGroup-ID: 3\nName: Friends\nDesc: old friends\n", bigEndian(7, 4)));
  EXPECT_EQ(state(), 60);
  EXPECT_EQ(roleOf(0, 8), -1);
  EXPECT_EQ(roleOf(3, 8), -1);
  EXPECT_EQ(roleOf(0, 7), 0);
  EXPECT_EQ(roleOf(3, 7), 0);  // listed again, without the role the list no longer gives
  EXPECT_EQ(groupOf(friends).state, 0);
  finishSignIn();
  EXPECT_TRUE(groupExists(3));
  KS_ReleaseGroup(friends);
  KS_EventUnsubscribe(watch);
}

// The word size the "AUTH" gave, a member list, and the ids it must give.
struct MemberList {
  std::string name;
  std::string wordSize;
  std::string body;
  std::vector<int64_t> members;
};

void PrintTo(const MemberList& list, std::ostream* out) { *out << list.name; }

class GroupMembers : public Groups, public ::testing::WithParamInterface<MemberList> {};

TEST_P(GroupMembers, AreReadByTheWordSizeAndNeverPastTheBody) {
  const MemberList& list = GetParam();
  signIn(list.wordSize);
  deliver(withBody("GROUP DETAIL\nGroup-ID: 12\nName: Readers\nAdmin: 7|1\n", list.body));
  EXPECT_EQ(memberCount(12), list.members.size() + 1);  // bob from the role list
  for (int64_t id : list.members) EXPECT_EQ(roleOf(12, id), 0) << id;
  EXPECT_EQ(roleOf(12, 7), 1);
  HGroup* readers = KS_GetGroup(12);
  EXPECT_STREQ(groupOf(readers).name, "Readers");
  EXPECT_EQ(groupOf(readers).state, 0);
  KS_ReleaseGroup(readers);
}

INSTANTIATE_TEST_SUITE_P(
    WordSizes, GroupMembers,
    ::testing::Values(MemberList{"FourBytes", "4", bigEndian(20, 4) + bigEndian(21, 4), {20, 21}},
                      MemberList{
                          "EightBytes", "8", bigEndian(0x100000002ull, 8) + bigEndian(22, 8), {0x100000002ll, 22}},
                      // a trailing part shorter than one id is no id
                      MemberList{"FourBytesAndAShortTail", "4", bigEndian(20, 4) + std::string("\0\0\x15", 3), {20}},
                      MemberList{"EightBytesAndAShortTail", "8", bigEndian(22, 8) + bigEndian(23, 4), {22}},
                      // without a usable word size no id can be read
                      MemberList{"NoWordSize", "", bigEndian(20, 4) + bigEndian(21, 4), {}},
                      MemberList{"ThreeBytes", "3", std::string("\0\0\x14\0\0\x15", 6), {}}),
    [](const ::testing::TestParamInfo<MemberList>& info) { return info.param.name; });

TEST_F(Groups, UpdatesFollowMembershipKeepBannedMembersAndDropTheGroupWhenTheUserLeaves) {
  signIn();
  // Role items need both parts; a role list id past 2^31 is the member's.
  deliver(withBody("GROUP DETAIL\nGroup-ID: 3\nName: Friends\nAdmin: 9|4,4294967280|8,|3,11|\n",
                   bigEndian(7, 4) + bigEndian(8, 4) + bigEndian(9, 4) + bigEndian(0xFFFFFFF0u, 4)));
  EXPECT_EQ(roleOf(3, 4294967280), 8);
  EXPECT_EQ(roleOf(3, 11), -1);
  EXPECT_EQ(memberCount(3), 4u);
  deliver("GROUP UPDATE\nGroup-ID: 3\nContact-Id: 10\nType: 0\n\n");
  EXPECT_EQ(roleOf(3, 10), 0);
  deliver("GROUP UPDATE\nGroup-ID: 3\nContact-Id: 8\nType: 1\n\n");
  EXPECT_EQ(roleOf(3, 8), -1);
  deliver("GROUP UPDATE\nGroup-ID: 3\nContact-Id: 9\nType: 1\n\n");
  EXPECT_EQ(roleOf(3, 9), 4);  // banned: stays visible
  EXPECT_EQ(memberCount(3), 4u);

  // Packets without a group id never touch the contact list.
  deliver("GROUP UPDATE\nContact-Id: 7\nType: 1\n\n");
  deliver("GROUP UPDATE\nContact-Id: 4294967297\nType: 1\n\n");
  deliver(withBody("GROUP DETAIL\nName: Hijack\n", bigEndian(30, 4)));
  ASSERT_TRUE(groupExists(0));
  EXPECT_EQ(roleOf(0, 7), 0);
  EXPECT_EQ(roleOf(0, 30), -1);

  int changed = 0;
  Subscription* watch = KS_EventSubscribe(countEvent, "groups.changed", &changed);
  deliver("GROUP UPDATE\nGroup-ID: 3\nContact-Id: " + std::to_string(kMe) + "\nType: 1\n\n");
  EXPECT_FALSE(groupExists(3));
  EXPECT_EQ(changed, 1);
  KS_EventUnsubscribe(watch);
}

namespace {

struct SeenMessages {
  std::vector<HMessage*> fresh, complete;
  bool markRead = false;
};

uint32_t onNewMessage(void* user, void* argument) {
  auto* seen = static_cast<SeenMessages*>(user);
  auto* message = static_cast<HMessage*>(argument);
  seen->fresh.push_back(message);
  if (seen->markRead) {  // as an open conversation window does
    MessageData d{};
    d.size = sizeof d;
    d.mask = MESSAGE_READ;
    d.read = 1;
    KS_SetMessageData(message, &d);
  }
  return 0;
}

uint32_t onCompleteMessage(void* user, void* argument) {
  static_cast<SeenMessages*>(user)->complete.push_back(static_cast<HMessage*>(argument));
  return 0;
}

}  // namespace

TEST_F(Groups, RoleChangeSetsTheRoleAndBecomesOneUnreadNotice) {
  signInWithCarlInFriends();
  SeenMessages seen;
  Subscription* fresh = KS_EventSubscribe(onNewMessage, "messages.new", &seen);
  Subscription* complete = KS_EventSubscribe(onCompleteMessage, "messages.new.complete", &seen);

  deliver("GROUP ADMIN\nGroup-ID: 3\nTarget-ID: 8\nSource-ID: 7\nAction: 8\n\n");
  EXPECT_EQ(roleOf(3, 8), 8);  // silenced
  ASSERT_EQ(seen.fresh.size(), 1u);
  EXPECT_EQ(seen.complete, seen.fresh);
  HGroup* friends = KS_GetGroup(3);
  ASSERT_EQ(KS_GetUnreadMessageCount(friends, 1), 1);
  HMessage* notice = nullptr;
  uint32_t count = 1;
  KS_GetUnreadMessageHandles(friends, 1, &notice, &count);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(notice, seen.fresh[0]);
  MessageData m{};
  m.size = sizeof m;
  KS_GetMessageData(notice, &m);
  EXPECT_STREQ(m.contentType, "olvaro/x-admin");
  EXPECT_EQ(m.isGroup, 1);
  EXPECT_EQ(m.complete, 1);
  EXPECT_EQ(m.target, friends);
  EXPECT_EQ(KS_GetContactID(m.contact), 7);  // the one who made the change
  const std::string expected = std::string("\x08\0\0\0", 4) + std::string("\x08\0\0\0\0\0\0\0", 8) + "Carl";
  ASSERT_EQ(m.payloadLength, 16);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.payload), size_t(m.payloadLength)), expected);
  KS_ReleaseMessage(notice);

  // A notice read while it is announced is not queued; the change still holds.
  seen.markRead = true;
  deliver("GROUP ADMIN\nGroup-ID: 3\nTarget-ID: 8\nSource-ID: 7\nAction: 0\n\n");
  EXPECT_EQ(seen.fresh.size(), 2u);
  EXPECT_EQ(seen.complete.size(), 2u);
  EXPECT_EQ(KS_GetUnreadMessageCount(friends, 1), 0);
  EXPECT_EQ(roleOf(3, 8), 0);
  KS_ReleaseGroup(friends);
  KS_EventUnsubscribe(fresh);
  KS_EventUnsubscribe(complete);
}

TEST_F(Groups, PacketsNamingAGroupTheUserIsNotInAreDroppedWithoutMakingOne) {
  signInWithCarlInFriends();
  SeenMessages seen;
  Subscription* fresh = KS_EventSubscribe(onNewMessage, "messages.new", &seen);
  deliver("MESG\nSource-Id: 7\nMesg-Id: 60\nTarget-Id: 5\nContent-Type: text/plain\nLast: 1\nContent-Length: 2\n\nhi");
  deliver("MESG\nSource-Id: 7\nMesg-Id: 61\nTarget-Id: 0\nContent-Type: text/plain\nLast: 1\nContent-Length: 2\n\nhi");
  deliver("GROUP UPDATE\nGroup-ID: 6\nContact-Id: 8\nType: 0\n\n");
  deliver("GROUP ADMIN\nGroup-ID: 4\nTarget-ID: 8\nSource-ID: 7\nAction: 8\n\n");
  // A late message after leaving does not bring the group back.
  deliver("GROUP UPDATE\nGroup-ID: 3\nContact-Id: " + std::to_string(kMe) + "\nType: 1\n\n");
  deliver("MESG\nSource-Id: 7\nMesg-Id: 62\nTarget-Id: 3\nContent-Type: text/plain\nLast: 1\nContent-Length: 2\n\nhi");
  EXPECT_TRUE(seen.fresh.empty());
  for (int64_t id : {3, 4, 5, 6}) EXPECT_FALSE(groupExists(id)) << id;
  // The group the user is in still takes its messages.
  deliver(withBody("GROUP DETAIL\nGroup-ID: 9\nName: Climbers\n", bigEndian(7, 4)));
  deliver("MESG\nSource-Id: 7\nMesg-Id: 63\nTarget-Id: 9\nContent-Type: text/plain\nLast: 1\nContent-Length: 2\n\nhi");
  ASSERT_EQ(seen.fresh.size(), 1u);
  HGroup* climbers = KS_GetGroup(9);
  EXPECT_EQ(olvaro::messageData(seen.fresh[0]).target, climbers);
  KS_ReleaseGroup(climbers);
  KS_EventUnsubscribe(fresh);
}

TEST_F(Groups, RequestsExistOnlyWhileSignedInAndGoOutExactly) {
  credentials("ann@example.org", "secret12");
  useServer(peer.port());
  start();
  const std::string adminName = olvaro::handleName("Service/%p/AdminContact", connection->service());
  EXPECT_TRUE(functionExists(adminName.c_str()));
  EXPECT_FALSE(functionExists("orvaloGroupCreate"));
  logOn("4");
  EXPECT_FALSE(functionExists("orvaloGroupSubscribe"));  // not yet signed in
  finishSignIn();
  for (const char* name : {"orvaloGroupCreate", "orvaloGroupSubscribe", "orvaloGroupUnsub"})
    EXPECT_TRUE(functionExists(name)) << name;

  GroupCreateRequest create{sizeof(GroupCreateRequest), "Chatters", recordAnswer, &answers[0]};
  uint64_t next = KS_GetLUID() + 1;
  EXPECT_EQ(KS_CallFunction("orvaloGroupCreate", &create), 1u);
  EXPECT_EQ(peer.takePacket(), "GROUP CREATE\ncontent-length: 0\ndesc: Chat group\nmesg-id: " + std::to_string(next) +
                                   "\nname: Chatters\n\n");
  respond(next, 11);
  EXPECT_EQ(answers[0].calls, 1);
  EXPECT_EQ(answers[0].code, 11);
  GroupCreateRequest shortCreate{8, "Chatters", nullptr, nullptr};
  EXPECT_EQ(KS_CallFunction("orvaloGroupCreate", &shortCreate), 0u);
  GroupJoinRequest open{sizeof(GroupJoinRequest), "Chatters", nullptr, nullptr, nullptr};  // no password
  next = KS_GetLUID() + 1;
  EXPECT_EQ(KS_CallFunction("orvaloGroupSubscribe", &open), 1u);
  EXPECT_EQ(peer.takePacket(), "GROUP SUBSCRIBE\nmesg-id: " + std::to_string(next) + "\nname: Chatters\n\n");
  GroupJoinRequest locked{sizeof(GroupJoinRequest), "Secret", "pw", recordAnswer, &answers[1]};
  next = KS_GetLUID() + 1;
  EXPECT_EQ(KS_CallFunction("orvaloGroupSubscribe", &locked), 1u);
  std::string sent = "GROUP SUBSCRIBE\ncontent-length: 2\nmesg-id: " + std::to_string(next) + "\nname: Secret\n\npw";
  EXPECT_EQ(peer.take(sent.size()), sent);

  HGroup* friends = KS_GetGroup(3);
  HContact* carl = connection->contacts().getContact(8);
  AdminContactRequest promote{carl, friends, 1};
  next = KS_GetLUID() + 1;
  EXPECT_EQ(KS_CallFunction(adminName.c_str(), &promote), 1u);
  EXPECT_EQ(peer.takePacket(),
            "GROUP ADMIN\naction: 1\ngroup-id: 3\nmesg-id: " + std::to_string(next) + "\ntarget-id: 8\n\n");
  EXPECT_EQ(roleOf(3, 8), -1);  // only the server's echo changes the role
  KS_ReleaseContact(carl);
  KS_ReleaseGroup(friends);

  // The join still waits when the link drops: it hears 100, once.
  peer.drop();
  ASSERT_TRUE(waitState(130));
  EXPECT_EQ(answers[1].calls, 1);
  EXPECT_EQ(answers[1].code, 100);
  EXPECT_EQ(answers[0].calls, 1);
  for (const char* name : {"orvaloGroupCreate", "orvaloGroupSubscribe", "orvaloGroupUnsub"})
    EXPECT_FALSE(functionExists(name)) << name;
  EXPECT_TRUE(functionExists(adminName.c_str()));
}

TEST_F(Groups, LeavingWaitsForTheServersYes) {
  signIn();
  HGroup* friends = KS_GetGroup(3);
  uint64_t next = KS_GetLUID() + 1;
  EXPECT_EQ(KS_CallFunction("orvaloGroupUnsub", friends), 1u);
  EXPECT_EQ(peer.takePacket(), "GROUP UNSUB\ngroup-id: 3\nmesg-id: " + std::to_string(next) + "\n\n");
  EXPECT_EQ(groupOf(friends).state, 1);
  respond(next, 13);  // refused: kept, still marked as leaving
  EXPECT_TRUE(groupExists(3));
  EXPECT_EQ(groupOf(friends).state, 1);

  next = KS_GetLUID() + 1;
  EXPECT_EQ(KS_CallFunction("orvaloGroupUnsub", friends), 1u);
  EXPECT_EQ(peer.takePacket(), "GROUP UNSUB\ngroup-id: 3\nmesg-id: " + std::to_string(next) + "\n\n");
  int32_t held = KS_GetHandleReferenceCount(friends);
  respond(next, 0);
  EXPECT_FALSE(groupExists(3));
  // The hub's reference and the request's went; ours is left.
  EXPECT_EQ(KS_GetHandleReferenceCount(friends), held - 2);

  // The contact list is never left.
  HGroup* list = KS_GetGroup(0);
  EXPECT_EQ(KS_CallFunction("orvaloGroupUnsub", list), 0u);
  KS_ReleaseGroup(list);
  KS_ReleaseGroup(friends);
}

// Messages, their payload in pieces, sending, and the unread store.
#include <cstring>

#include "entities.h"  // white-box checks of the hub's insides
#include "hubtest/hub_test.h"
#include "hubtest/records.h"

using hubtest::Recorder;
using hubtest::makeContact;

using MessagesTest = hubtest::HubTest;

namespace {

HMessage* incoming(HContact* from, void* target, uint8_t isGroup, const char* text) {
  return hubtest::MessageRecord()
      .id(77)
      .contact(from)
      .target(target, isGroup)
      .contentType("text/plain")
      .payload(text)
      .origin(1)
      .complete()
      .create();
}

struct Keeper {
  std::vector<HMessage*> kept;
  static uint32_t callback(void* user, void* argument) {
    static_cast<Keeper*>(user)->kept.push_back(KS_DuplicateMessageHandle(static_cast<HMessage*>(argument)));
    return 0;
  }
};

}  // namespace

TEST_F(MessagesTest, RecordRoundTripAndSharedLengthProgressValue) {
  HContact* ann = makeContact(1);
  MessageData d{};
  d.size = sizeof d;
  d.mask = MESSAGE_ID | MESSAGE_CONTENTTYPE | MESSAGE_PAYLOAD | MESSAGE_TOTALLENGTH | MESSAGE_TIME | MESSAGE_TARGET;
  d.id = 1234567890123LL;
  d.contentType = "image/jpeg";
  const uint8_t bytes[] = {0xFF, 0xD8, 0x00, 0xFF};
  d.payload = bytes;
  d.payloadLength = 4;
  d.totalLength = 500;
  d.timeSec = 10;
  d.timeUsec = 20;
  d.localTimeSec = 30;
  d.localTimeUsec = 40;
  d.target = ann;
  HMessage* m = KS_CreateMessage(&d);
  EXPECT_EQ(KS_GetHandleReferenceCount(ann), 2);
  MessageData out{};
  out.size = sizeof out;
  KS_GetMessageData(m, &out);
  EXPECT_EQ(out.id, 1234567890123LL);
  EXPECT_STREQ(out.contentType, "image/jpeg");
  ASSERT_EQ(out.payloadLength, 4);
  EXPECT_EQ(memcmp(out.payload, bytes, 4), 0);
  EXPECT_EQ(out.totalLength, 500);
  EXPECT_EQ(out.progress, 500);
  EXPECT_EQ(out.localTimeUsec, 40);
  EXPECT_EQ(KS_GetMessageID(m), 1234567890123LL);

  MessageData progress{};
  progress.size = sizeof progress;
  progress.mask = MESSAGE_PROGRESS;
  progress.progress = 128;
  KS_SetMessageData(m, &progress);
  KS_GetMessageData(m, &out);
  EXPECT_EQ(out.totalLength, 128);

  // A payload set replaces the stored bytes; -1 takes a text without its NUL.
  MessageData text{};
  text.size = sizeof text;
  text.mask = MESSAGE_PAYLOAD;
  text.payload = reinterpret_cast<const uint8_t*>("hello");
  text.payloadLength = -1;
  KS_SetMessageData(m, &text);
  KS_GetMessageData(m, &out);
  ASSERT_EQ(out.payloadLength, 5);
  EXPECT_EQ(memcmp(out.payload, "hello", 5), 0);

  KS_ReleaseMessage(m);
  EXPECT_EQ(KS_GetHandleReferenceCount(ann), 1);
  KS_ReleaseContact(ann);
}

TEST_F(MessagesTest, TargetsAreReleasedAsWhatTheyAre) {
  HGroup* group = KS_GetGroup(9);
  HContact* member = makeContact(2);
  KS_AddGroupMember(group, member);
  HContact* bob = makeContact(3);

  // Outgoing path: create, then set target and group flag together.
  MessageData d{};
  d.size = sizeof d;
  d.mask = MESSAGE_ID | MESSAGE_CONTENTTYPE | MESSAGE_COMPLETE;
  d.id = KS_GetLUID();
  d.contentType = "text/plain";
  d.complete = 1;
  HMessage* m = KS_CreateMessage(&d);
  MessageData t{};
  t.size = sizeof t;
  t.mask = MESSAGE_TARGET | MESSAGE_ISGROUP;
  t.target = group;
  t.isGroup = 1;
  KS_SetMessageData(m, &t);
  EXPECT_EQ(KS_GetHandleReferenceCount(group), 3);

  // Changing only the flag must not make the hub release the group as a
  // contact later.
  MessageData flag{};
  flag.size = sizeof flag;
  flag.mask = MESSAGE_ISGROUP;
  flag.isGroup = 0;
  KS_SetMessageData(m, &flag);
  KS_ReleaseMessage(m);
  EXPECT_EQ(KS_GetHandleReferenceCount(group), 2);
  EXPECT_EQ(KS_GroupContainsMember(group, member), 1);

  // Replacing a group target by a contact releases the group as a group.
  m = KS_CreateMessage(&d);
  KS_SetMessageData(m, &t);
  MessageData toBob{};
  toBob.size = sizeof toBob;
  toBob.mask = MESSAGE_TARGET | MESSAGE_ISGROUP;
  toBob.target = bob;
  toBob.isGroup = 0;
  KS_SetMessageData(m, &toBob);
  EXPECT_EQ(KS_GetHandleReferenceCount(group), 2);
  EXPECT_EQ(KS_GetHandleReferenceCount(bob), 2);
  KS_ReleaseMessage(m);
  EXPECT_EQ(KS_GetHandleReferenceCount(bob), 1);

  KS_ReleaseContact(bob);
  KS_ReleaseContact(member);
  KS_ReleaseGroup(group);
}

TEST_F(MessagesTest, ContinueAppendsCompletesAndSignalsOnce) {
  HMessage* m = hubtest::MessageRecord().origin(1).totalLength(10).create();
  Recorder r;
  Subscription* s = KS_MessageSubscribe(Recorder::callback, m, &r);
  KS_ContinueMessage(m, "abc", 0, 0);
  EXPECT_EQ(r.count(), 0u);
  KS_ContinueMessage(m, "abcd", 4, 0);
  KS_ContinueMessage(m, "efghij", 6, 0);
  KS_ContinueMessage(m, nullptr, 0, 0x101);  // only the low byte counts
  EXPECT_EQ(r.count(), 3u);
  EXPECT_EQ(r.arguments.back(), m);
  MessageData out{};
  out.size = sizeof out;
  KS_GetMessageData(m, &out);
  ASSERT_EQ(out.payloadLength, 10);
  EXPECT_EQ(memcmp(out.payload, "abcdefghij", 10), 0);
  EXPECT_EQ(out.complete, 1);

  // A hostile announced length is only a hint: nothing huge is reserved.
  MessageData huge{};
  huge.size = sizeof huge;
  huge.mask = MESSAGE_TOTALLENGTH;
  huge.totalLength = 0x7fffffff;
  KS_SetMessageData(m, &huge);
  KS_ContinueMessage(m, "k", 1, 0);
  KS_GetMessageData(m, &out);
  EXPECT_EQ(out.payloadLength, 11);
  EXPECT_LT(m->entity->payload.capacity(), size_t(1) << 24);
  KS_ContinueMessage(m, "x", -5, 0);  // a negative length appends nothing
  KS_GetMessageData(m, &out);
  EXPECT_EQ(out.payloadLength, 11);

  KS_MessageUnsubscribe(s);
  KS_ReleaseMessage(m);
}

TEST_F(MessagesTest, SendMessageRaisesOutgoingAndLeavesNoReferenceBehind) {
  Keeper keeper;
  Subscription* s = KS_EventSubscribe(Keeper::callback, "messages.new.outgoing", &keeper);
  HContact* bob = makeContact(3);
  uint32_t firstLuid = KS_GetLUID();
  KS_SendMessage(bob, 0, "text/plain", "hi", -1, 1, nullptr);
  ASSERT_EQ(keeper.kept.size(), 1u);
  HMessage* sent = keeper.kept[0];
  EXPECT_EQ(KS_GetHandleReferenceCount(sent), 1);  // only the subscriber's
  MessageData out{};
  out.size = sizeof out;
  KS_GetMessageData(sent, &out);
  EXPECT_EQ(out.id, int64_t(firstLuid) + 1);
  EXPECT_EQ(out.target, bob);
  EXPECT_EQ(out.contact, nullptr);
  EXPECT_EQ(out.payloadLength, 2);
  EXPECT_EQ(out.complete, 1);

  HMessage* mine = nullptr;
  KS_SendMessage(bob, 0, "audio/x-speex", nullptr, 0, 0, &mine);
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(KS_GetHandleReferenceCount(mine), 2);
  KS_SendMessageEx(mine);
  EXPECT_EQ(keeper.kept.size(), 3u);
  EXPECT_EQ(KS_GetHandleReferenceCount(mine), 3);

  for (HMessage* m : keeper.kept) KS_ReleaseMessage(m);
  KS_ReleaseMessage(mine);
  KS_EventUnsubscribe(s);
  KS_ReleaseContact(bob);
}

TEST_F(MessagesTest, UnreadStoreQueuesByConversationAndPublishesTheTotal) {
  HContact* ann = makeContact(1);
  HContact* bob = makeContact(2);
  HGroup* chat = KS_GetGroup(5);
  Recorder totalChanges;
  Subscription* s = KS_VariantSubscribe(Recorder::callback, "messages.unread", &totalChanges);

  HMessage* a1 = incoming(ann, ann, 0, "one");
  HMessage* a2 = incoming(ann, ann, 0, "two");
  HMessage* g1 = incoming(bob, chat, 1, "all");
  for (HMessage* m : {a1, a2, g1}) KS_UnreadMessageAdd(m);
  EXPECT_EQ(KS_GetVariantLong("messages.unread"), 3);
  EXPECT_EQ(totalChanges.count(), 3u);
  EXPECT_EQ(KS_GetUnreadMessageCount(ann, 0), 2);
  EXPECT_EQ(KS_GetUnreadMessageCount(chat, 1), 1);
  EXPECT_EQ(KS_GetUnreadMessageCount(chat, 0), 0);
  EXPECT_EQ(KS_GetUnreadMessageCount(bob, 0), 0);  // a group message files under the group

  HContact* contacts[4] = {};
  uint32_t n = 0;
  KS_GetUnreadContacts(contacts, &n);
  EXPECT_EQ(n, 0u);  // capacity 0 writes nothing
  n = 4;
  KS_GetUnreadContacts(contacts, &n);
  ASSERT_EQ(n, 1u);
  EXPECT_EQ(contacts[0], ann);
  HGroup* groups[2] = {};
  n = 2;
  KS_GetUnreadGroups(groups, &n);
  ASSERT_EQ(n, 1u);
  EXPECT_EQ(groups[0], chat);

  // Taking the queue with room for one: the first arrives, the rest is
  // released, and the total drops by the whole queue.
  HMessage* taken[1] = {};
  n = 1;
  KS_GetUnreadMessageHandles(ann, 0, taken, &n);
  ASSERT_EQ(n, 1u);
  EXPECT_EQ(taken[0], a1);
  EXPECT_EQ(KS_GetHandleReferenceCount(a1), 2);
  EXPECT_EQ(KS_GetHandleReferenceCount(a2), 1);
  EXPECT_EQ(KS_GetVariantLong("messages.unread"), 1);
  EXPECT_EQ(KS_GetUnreadMessageCount(ann, 0), 0);
  n = 1;
  KS_GetUnreadMessageHandles(ann, 0, taken + 0, &n);
  EXPECT_EQ(n, 0u);
  KS_ReleaseMessage(a1);

  for (HMessage* m : {a1, a2, g1}) KS_ReleaseMessage(m);
  KS_VariantUnsubscribe(s);
  KS_ReleaseContact(ann);
  KS_ReleaseContact(bob);
  KS_ReleaseGroup(chat);
  // The group message is still queued: the hub's teardown releases it.
}

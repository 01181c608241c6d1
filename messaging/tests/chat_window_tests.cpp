// Conversation windows on the headless screen: opening, receiving, sending,
// history and the group's talking rule.
#include <gtest/gtest.h>

#include <utility>

#include "chat_fixture.h"
#include "platform/bitmap.h"
#include "platform/controls.h"
#include "message_format.h"
#include "platform/phoneshell.h"
#include "platform/systime.h"

namespace msgtest {
namespace {

using messaging::ChatWindow;

TEST_F(ChatTest, OneWindowPerPeerWithTheUnreadMessagesTakenOnOpening) {
  HMessage* early = incoming(bob, "first", 2, 1767225000);
  HMessage* later = incoming(bob, "second", 2, 1767225100);
  KS_UnreadMessageAdd(early);
  KS_UnreadMessageAdd(later);
  EXPECT_EQ(KS_GetVariantLong("messages.unread"), 2);

  ChatWindow* w = openChat(bob);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(testkit::className(w->hwnd()), "KS_CHATWINDOW");
  EXPECT_EQ(testkit::windowText(w->hwnd()), "Bob");
  EXPECT_EQ(KS_GetVariantLong("messages.unread"), 0);
  // The more-history bar, then the two stored messages in order.
  ASSERT_EQ(w->list()->rowCount(), 3);
  EXPECT_TRUE(w->list()->hasMoreRow());
  EXPECT_EQ(payloadOf(messageRow(w, 1)->message()), "first");
  EXPECT_EQ(payloadOf(messageRow(w, 2)->message()), "second");
  EXPECT_EQ(w->oldestTime().sec, 1767225000);
  EXPECT_EQ(GetFocus(), w->edit()->hwnd());

  // The same contact again brings the same window forward.
  EXPECT_EQ(openChat(bob), w);
  EXPECT_EQ(registry->size(), 1u);
  EXPECT_EQ(testkit::findWindows("KS_CHATWINDOW").size(), 1u);
  openChat(carol);
  EXPECT_EQ(registry->size(), 2u);
  KS_ReleaseMessage(early);
  KS_ReleaseMessage(later);

  // Closing a window leaves none of its tab icons behind.
  std::vector<HICON> icons;
  for (int t = 0; t < 3; ++t) icons.push_back(w->tabIcon(t));
  SendMessage(w->hwnd(), WM_COMMAND, 8, 0);
  testkit::pump();
  ASSERT_EQ(registry->find(bob, false), nullptr);
  for (HICON icon : icons) {
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(DestroyIcon(icon)) << "still there after the window closed";
  }
}

TEST_F(ChatTest, LiveMessagesOfThePeerAreListedAndMarkedReadOthersIgnored) {
  ChatWindow* w = openChat(bob);
  int rows = w->list()->rowCount();
  HMessage* mine = incoming(bob, "hello", 1, 1767225700);
  HMessage* other = incoming(carol, "not for bob's window");
  deliver(mine);
  deliver(other);
  EXPECT_EQ(w->list()->rowCount(), rows + 1);
  EXPECT_TRUE(olvaro::messageData(mine).read);
  EXPECT_FALSE(olvaro::messageData(other).read);
  // A history answer outside a history fetch is not shown.
  HMessage* stray = incoming(bob, "old", 3);
  deliver(stray);
  EXPECT_EQ(w->list()->rowCount(), rows + 1);
  // Incoming states: receiving, failed, then the time.
  messaging::MessageRow* row = messageRow(w, rows);
  EXPECT_EQ(testkit::narrow(row->senderName()), "Bob");
  hubtest::MessageRecord().complete(false).applyTo(mine);
  EXPECT_EQ(row->statusText(), u"Receiving");
  hubtest::MessageRecord().interrupted().applyTo(mine);
  EXPECT_EQ(row->statusText(), u"Failed");
  // A text that arrives in pieces grows its row, and the rows below move.
  HMessage* growing = incoming(bob, "short");
  hubtest::MessageRecord().complete(false).applyTo(growing);
  deliver(growing);
  HMessage* after = incoming(bob, "after");
  deliver(after);
  int at = w->list()->rowCount() - 2;
  RECT before = w->list()->rowRect(at);
  std::string more(400, 'w');
  for (size_t i = 20; i < more.size(); i += 21) more[i] = ' ';
  KS_ContinueMessage(growing, more.data(), int(more.size()), 1);
  RECT grown = w->list()->rowRect(at);
  EXPECT_GT(grown.bottom - grown.top, before.bottom - before.top);
  EXPECT_EQ(w->list()->rowRect(at + 1).top, grown.bottom);
  EXPECT_EQ(w->list()->selectedIndex(), at + 1);
  for (HMessage* m : {mine, other, stray, growing, after}) KS_ReleaseMessage(m);
}

TEST_F(ChatTest, EnterSendsTheTextAndShiftEnterBreaksTheLine) {
  Outbox out;
  ChatWindow* w = openChat(bob);
  int rows = w->list()->rowCount();
  testkit::key(VK_RETURN);  // empty: nothing
  EXPECT_TRUE(out.sent.empty());
  testkit::type("hi. there");
  testkit::keyDown(VK_SHIFT);
  testkit::key(VK_RETURN);
  testkit::keyUp(VK_SHIFT);
  testkit::type("two");
  EXPECT_EQ(testkit::windowText(w->edit()->hwnd()), "Hi. There\r\nTwo");
  testkit::key(VK_RETURN);
  testkit::pump();
  ASSERT_EQ(out.sent.size(), 1u);
  MessageData d = olvaro::messageData(out.sent[0]);
  EXPECT_EQ(payloadOf(out.sent[0]), "Hi. There\r\nTwo");
  EXPECT_STREQ(d.contentType, "text/plain");
  EXPECT_EQ(d.target, static_cast<void*>(bob));
  EXPECT_EQ(d.isGroup, 0);
  EXPECT_EQ(d.complete, 1);
  EXPECT_GE(d.id, 32768);
  EXPECT_EQ(testkit::windowText(w->edit()->hwnd()), "");
  ASSERT_EQ(w->list()->rowCount(), rows + 1);
  messaging::MessageRow* row = messageRow(w, rows);
  EXPECT_EQ(row->message(), out.sent[0]);
  EXPECT_EQ(testkit::narrow(row->senderName()), "Ann");

  // Outgoing states follow the transfer and the link.
  EXPECT_EQ(row->statusText(), u"Sending");
  KS_SetVariantLong("connection.state", 130);
  EXPECT_EQ(row->statusText(), u"Pending");
  hubtest::MessageRecord().progress(d.payloadLength).applyTo(out.sent[0]);
  EXPECT_EQ(row->statusText(), messaging::formatTimeStamp(d.localTimeSec, platform::unixTimeNow()));
  hubtest::MessageRecord().complete(false).applyTo(out.sent[0]);
  EXPECT_EQ(row->statusText(), u"Creating");
  // Refused by the server: it will not go out.
  hubtest::MessageRecord().complete(true).progress(0).interrupted(true).applyTo(out.sent[0]);
  EXPECT_EQ(row->statusText(), u"Failed");

  // The "Send" soft key does the same.
  testkit::type("by key");
  SendMessage(w->hwnd(), WM_COMMAND, 102, 0);
  ASSERT_EQ(out.sent.size(), 2u);
  EXPECT_EQ(payloadOf(out.sent[1]), "By key");
}

struct HistoryCall {
  olvaro::HistoryRequest request;
};

class HistoryTest : public ChatTest {
 protected:
  void SetUp() override {
    ChatTest::SetUp();
    history_.reset("Connection/RequestMessageHistory", &HistoryTest::request, this);
  }
  void TearDown() override {
    history_.reset();
    ChatTest::TearDown();
  }
  static uint32_t request(void* user, void* argument) {
    auto* self = static_cast<HistoryTest*>(user);
    self->calls.push_back(*static_cast<olvaro::HistoryRequest*>(argument));
    return self->accept ? 1 : 0;
  }
  int waitRows(ChatWindow* w) {
    int n = 0;
    for (int i = 0; i < w->list()->rowCount(); ++i) n += w->list()->isWaitRow(i);
    return n;
  }
  void complete(ChatWindow* w, int64_t code) {
    olvaro::Response r{code, ""};
    calls.back().onProgress(calls.back().user, &r);
    (void)w;
  }
  std::vector<olvaro::HistoryRequest> calls;
  bool accept = true;

 private:
  olvaro::FunctionRegistration history_;
};

TEST_F(HistoryTest, QuickPressesMakeOneRequestAndAnswersFillThePlaceholders) {
  HMessage* shown = incoming(bob, "newest", 2, 1767225600, "text/plain");
  KS_UnreadMessageAdd(shown);
  ChatWindow* w = openChat(bob);
  // Three taps on the bar within the timer's delay.
  for (int i = 0; i < 3; ++i) w->list()->row(0)->activateIf(false);
  EXPECT_EQ(waitRows(w), 3);
  EXPECT_TRUE(w->list()->hasMoreRow());
  EXPECT_EQ(w->pendingHistory(), 3);
  testkit::runClock(249);
  EXPECT_TRUE(calls.empty());
  testkit::runClock(1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].count, -3);
  EXPECT_EQ(calls[0].target, static_cast<void*>(bob));
  EXPECT_EQ(calls[0].fromSec, 1767225600);
  EXPECT_EQ(w->historyState(), ChatWindow::kRequested);
  EXPECT_EQ(w->requestedHistory(), 3);
  testkit::runClock(1000);
  EXPECT_EQ(calls.size(), 1u);

  complete(w, 0);
  EXPECT_EQ(w->historyState(), ChatWindow::kReceiving);
  std::vector<HMessage*> answers = {incoming(bob, "older", 3, 1767225500), incoming(bob, "oldest", 3, 1767225400)};
  for (HMessage* m : answers) deliver(m);
  // The answers took the lowest placeholders, newest first; one still waits.
  ASSERT_EQ(w->list()->rowCount(), 5);
  EXPECT_TRUE(w->list()->isWaitRow(1));
  EXPECT_EQ(payloadOf(messageRow(w, 2)->message()), "oldest");
  EXPECT_EQ(payloadOf(messageRow(w, 3)->message()), "older");
  EXPECT_EQ(payloadOf(messageRow(w, 4)->message()), "newest");
  EXPECT_EQ(w->oldestTime().sec, 1767225400);

  // The end of the answers drops what is left; the bar stays for more.
  complete(w, 4);
  EXPECT_EQ(waitRows(w), 0);
  EXPECT_EQ(w->list()->rowCount(), 4);
  EXPECT_TRUE(w->list()->hasMoreRow());
  EXPECT_EQ(w->historyState(), ChatWindow::kIdle);
  EXPECT_EQ(w->pendingHistory(), 0);

  // Up on the bar asks again; "nothing older" takes the bar away for good.
  SetFocus(w->list()->hwnd());
  w->list()->setSelectedIndex(0);
  testkit::key(VK_UP);
  EXPECT_EQ(waitRows(w), 1);
  testkit::runClock(250);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].count, -1);
  EXPECT_EQ(calls[1].fromSec, 1767225400);
  complete(w, 8);
  EXPECT_FALSE(w->list()->hasMoreRow());
  EXPECT_EQ(w->list()->rowCount(), 3);
  w->list()->setSelectedIndex(0);
  testkit::key(VK_UP);
  testkit::runClock(500);
  EXPECT_EQ(calls.size(), 2u);
  for (HMessage* m : answers) KS_ReleaseMessage(m);
  KS_ReleaseMessage(shown);
}

TEST_F(HistoryTest, ARefusedRequestOrAClosedWindowLeavesNothingHanging) {
  ChatWindow* w = openChat(bob);
  accept = false;
  w->requestHistory();
  w->requestHistory();
  testkit::runClock(250);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(waitRows(w), 0);
  EXPECT_TRUE(w->list()->hasMoreRow());
  EXPECT_EQ(w->historyState(), ChatWindow::kIdle);
  EXPECT_EQ(w->pendingHistory(), 0);
  testkit::runClock(1000);
  EXPECT_EQ(calls.size(), 1u);
  // Usable again.
  accept = true;
  w->requestHistory();
  testkit::runClock(250);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].count, -1);
  // Not while signed out.
  complete(w, 4);
  KS_SetVariantLong("connection.state", 0);
  w->requestHistory();
  EXPECT_EQ(waitRows(w), 0);

  // A completion after the window closed is ignored.
  KS_SetVariantLong("connection.state", 100);
  w->requestHistory();
  testkit::runClock(250);
  SendMessage(w->hwnd(), WM_COMMAND, 8, 0);
  testkit::pump();
  EXPECT_EQ(registry->find(bob, false), nullptr);
  complete(nullptr, 4);
}

TEST_F(HistoryTest, TheUsersOwnLinesComeBackAndEachUpAsksForOlderOnes) {
  ChatWindow* w = openChat(bob);
  w->requestHistory();
  testkit::runClock(250);
  complete(w, 0);
  // The user's own line as the connection makes it: the user on both sides.
  HMessage* own = incoming(me, "Ann says three", 3, 1767225500);
  deliver(own);
  ASSERT_NE(messageRow(w, 1), nullptr);
  EXPECT_EQ(messageRow(w, 1)->message(), own);
  EXPECT_EQ(w->oldestTime().sec, 1767225500);
  complete(w, 4);
  w->requestHistory();
  testkit::runClock(250);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].fromSec, 1767225500);
  // The first line of all, and nothing older: the bar goes.
  complete(w, 0);
  HMessage* first = incoming(bob, "Bob says one", 3, 1767225400);
  deliver(first);
  complete(w, 8);
  EXPECT_FALSE(w->list()->hasMoreRow());
  EXPECT_EQ(w->list()->rowCount(), 2);
  KS_ReleaseMessage(first);
  KS_ReleaseMessage(own);
}

TEST_F(HistoryTest, AGroupsAnswerNeverLandsInAMembersPrivateWindow) {
  HGroup* group = KS_GetGroup(79);
  hubtest::GroupRecord().name("Climbers").service(service).applyTo(group);
  ChatWindow* w = openChat(bob);
  w->requestHistory();
  testkit::runClock(250);
  complete(w, 0);
  HMessage* inGroup = incoming(bob, "said in the group", 3, 1767225500, "text/plain", group, true);
  deliver(inGroup);
  EXPECT_TRUE(w->list()->isWaitRow(1));
  EXPECT_EQ(w->oldestTime().sec, 2147483647);
  KS_ReleaseMessage(inGroup);
  KS_ReleaseGroup(group);
}

TEST_F(HistoryTest, AnAnswerForAClosedWindowMissesOneMadeAtItsAddress) {
  ChatWindow* closed = openChat(bob);
  closed->requestHistory();
  testkit::runClock(250);
  ASSERT_EQ(calls.size(), 1u);
  olvaro::HistoryRequest stale = calls[0];
  // Windows come and go until one is made where the closed one was (the
  // allocator gives the address back at once; a checking one never does).
  ChatWindow* w = nullptr;
  for (int i = 0; i < 20 && w != closed; ++i) {
    SendMessage(registry->find(bob, false)->hwnd(), WM_COMMAND, 8, 0);
    testkit::pump();
    w = openChat(bob);
  }
  ASSERT_NE(w, nullptr);
  w->requestHistory();
  testkit::runClock(250);
  olvaro::Response started{0, ""};
  stale.onProgress(stale.user, &started);
  EXPECT_EQ(w->historyState(), ChatWindow::kRequested);
}

// A row that counts how often the list measures it.
struct MeasuredRow : fwk::Row {
  void paint(HDC, const RECT&) override {}
  int height(int) override {
    ++measures;
    return 20;
  }
  int measures = 0;
};

TEST_F(HistoryTest, AGrowingTextAndAHistoryAnswerMeasureOnlyTheirOwnRows) {
  ChatWindow* w = openChat(bob);
  HMessage* growing = incoming(bob, "short");
  deliver(growing);
  std::vector<fwk::Ref<MeasuredRow>> below;
  for (int i = 0; i < 50; ++i) {
    below.emplace_back(new MeasuredRow);
    w->list()->append(below.back());
  }
  testkit::pump();
  auto measures = [&] {
    int n = 0;
    for (auto& r : below) n += std::exchange(r->measures, 0);
    return n;
  };
  auto stacked = [&] {
    for (int i = 1; i < w->list()->rowCount(); ++i)
      if (w->list()->rowRect(i).top != w->list()->rowRect(i - 1).bottom) return false;
    return true;
  };
  measures();

  RECT before = w->list()->rowRect(1);
  std::string longer;
  for (int i = 0; i < 60; ++i) longer += "words ";
  hubtest::MessageRecord().payload(longer).applyTo(growing);
  testkit::pump();
  RECT after = w->list()->rowRect(1);
  EXPECT_GT(after.bottom - after.top, before.bottom - before.top);
  EXPECT_TRUE(stacked());
  EXPECT_EQ(measures(), 0);

  // Two placeholders, one answer, then "nothing older" drops the other.
  w->requestHistory();
  w->requestHistory();
  testkit::runClock(250);
  complete(w, 0);
  HMessage* old = incoming(bob, "older", 3, 1767225500);
  deliver(old);
  complete(w, 8);
  EXPECT_EQ(waitRows(w), 0);
  EXPECT_EQ(payloadOf(messageRow(w, 0)->message()), "older");
  EXPECT_TRUE(stacked());
  EXPECT_EQ(measures(), 0);
  KS_ReleaseMessage(old);
  KS_ReleaseMessage(growing);
}

std::string adminPayload(uint32_t role, const std::string& name) {
  std::string p;
  for (int i = 0; i < 4; ++i) p += char((role >> (8 * i)) & 0xff);
  return p + std::string(8, '\0') + name;
}

TEST_F(ChatTest, ASilencedMemberSeesTheNoticeUntilTheRoleComesBack) {
  HGroup* group = KS_GetGroup(77);
  hubtest::GroupRecord().name("Climbers").service(service).applyTo(group);
  int32_t silenced = 8;
  KS_SetGroupMember(group, me, &silenced);
  KS_EventRaise("messaging.chat.group", group);
  testkit::pump();
  ChatWindow* w = registry->find(group, true);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(testkit::windowText(w->hwnd()), "Climbers");
  EXPECT_TRUE(IsWindowVisible(w->muteNotice()));
  EXPECT_FALSE(IsWindowVisible(w->edit()->hwnd()));
  EXPECT_FALSE(IsWindowEnabled(w->edit()->hwnd()));
  EXPECT_EQ(GetFocus(), w->list()->hwnd());
  // Other tabs do not bring inputs back either.
  SendMessage(w->list()->hwnd(), WM_KEYDOWN, VK_RIGHT, 1);
  EXPECT_EQ(w->tabs()->selectedIndex(), 1);
  EXPECT_FALSE(IsWindowVisible(w->talkButton()->hwnd()));
  w->tabs()->setSelectedIndex(0);

  int32_t member = 0;
  KS_SetGroupMember(group, me, &member);
  // The connection's own notice of the server's role change (origin 0).
  HMessage* restored = incoming(bob, adminPayload(0, "Ann"), 0, 1767225600, "olvaro/x-admin", group, true);
  deliver(restored);
  EXPECT_FALSE(IsWindowVisible(w->muteNotice()));
  EXPECT_TRUE(IsWindowVisible(w->edit()->hwnd()));
  auto* line = dynamic_cast<messaging::NoticeRow*>(w->list()->row(w->list()->rowCount() - 1));
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->text(), u"Bob reset permissions for Ann");
  EXPECT_EQ(line->color(), RGB(0, 0, 255));
  // A private message from a member does not go into the group's window.
  int rows = w->list()->rowCount();
  HMessage* privately = incoming(bob, "psst");
  deliver(privately);
  EXPECT_EQ(w->list()->rowCount(), rows);
  KS_ReleaseMessage(privately);
  KS_ReleaseMessage(restored);
  KS_ReleaseGroup(group);
}

TEST_F(ChatTest, APeersRoleChangeLineIsPlainDataNeverANotice) {
  HGroup* group = KS_GetGroup(78);
  hubtest::GroupRecord().name("Climbers").service(service).applyTo(group);
  KS_EventRaise("messaging.chat.group", group);
  testkit::pump();
  ChatWindow* w = registry->find(group, true);
  ASSERT_NE(w, nullptr);
  // bob sends a message of the notice's type himself, live and stored.
  for (int origin : {1, 2}) {
    HMessage* forged = incoming(bob, adminPayload(4, "Carol"), origin, 1767225600, "olvaro/x-admin", group, true);
    deliver(forged);
    fwk::Row* last = w->list()->row(w->list()->rowCount() - 1);
    EXPECT_EQ(dynamic_cast<messaging::NoticeRow*>(last), nullptr) << origin;
    auto* row = dynamic_cast<messaging::MessageRow*>(last);
    ASSERT_NE(row, nullptr) << origin;
    EXPECT_EQ(row->message(), forged);
    KS_ReleaseMessage(forged);
  }
  EXPECT_TRUE(IsWindowVisible(w->edit()->hwnd()));
  KS_ReleaseGroup(group);
}

TEST_F(ChatTest, SignInNoticesFollowTheService) {
  ChatWindow* w = openChat(bob);
  ServiceData s{};
  s.size = sizeof s;
  s.mask = SERVICE_STATE;
  s.state = 0;
  KS_SetServiceData(service, &s);
  s.state = 1;
  KS_SetServiceData(service, &s);
  KS_SetServiceData(service, &s);
  auto text = [&](int fromEnd) {
    auto* row = dynamic_cast<messaging::NoticeRow*>(w->list()->row(w->list()->rowCount() - fromEnd));
    return row ? row->text() : u"";
  };
  EXPECT_EQ(text(2), u"You were disconnected.");
  EXPECT_EQ(text(1), u"You have logged in.");
  EXPECT_EQ(w->list()->rowCount(), 3);
}

TEST_F(ChatTest, KeysMoveBetweenTabsAndBackClosesFromTheList) {
  ChatWindow* w = openChat(bob);
  // Left and Right in an empty edit box change the tab.
  testkit::key(VK_RIGHT);
  EXPECT_EQ(w->tabs()->selectedIndex(), ChatWindow::kVoiceTab);
  testkit::key(VK_RIGHT);
  EXPECT_EQ(w->tabs()->selectedIndex(), ChatWindow::kPhotoTab);
  EXPECT_TRUE(IsWindowVisible(w->captureButton()->hwnd()));
  EXPECT_FALSE(IsWindowVisible(w->edit()->hwnd()));
  testkit::key(VK_LEFT);
  testkit::key(VK_LEFT);
  EXPECT_EQ(w->tabs()->selectedIndex(), ChatWindow::kTextTab);
  // A letter typed on the tabs goes to the edit box.
  SetFocus(w->tabs()->hwnd());
  testkit::keyDown('X');
  testkit::type("x");
  testkit::keyUp('X');
  EXPECT_EQ(GetFocus(), w->edit()->hwnd());
  EXPECT_EQ(testkit::windowText(w->edit()->hwnd()), "X");
  // Back deletes in the box with text, closes from the list.
  testkit::key(VK_TBACK);
  testkit::pump();
  EXPECT_EQ(testkit::windowText(w->edit()->hwnd()), "");
  ASSERT_NE(registry->find(bob, false), nullptr);
  SetFocus(w->list()->hwnd());
  testkit::key(VK_TBACK);
  testkit::pump();
  EXPECT_EQ(registry->find(bob, false), nullptr);
  EXPECT_TRUE(testkit::findWindows("KS_CHATWINDOW").empty());
}

}  // namespace
}  // namespace msgtest

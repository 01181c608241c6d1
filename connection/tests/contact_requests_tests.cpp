// Contact requests against a scripted peer: their overview items (through a
// stand-in for the contact list's overview functions), the Accept/Decline
// menu, the question box and the exact packets that go out.
#include <vector>
#include <memory>

#include "bridges.h"
#include "contact_requests.h"
#include "contacts.h"
#include "hubtest/fake_overview.h"
#include "olvaro/registrations.h"
#include "platform/bitmap.h"
#include "session_fixture.h"
#include "testkit/modal.h"

using namespace conntest;
using olvaro::conn::AcceptContactRequest;
using olvaro::conn::OverviewContextMenuInfo;
using hubtest::FakeOverview;

namespace {

class ContactRequestsTest : public ScriptedSessionTest {
 protected:
  // After the fixture's fresh hub. The main window owns the menu; keys go
  // to it while the menu is up.
  void SetUp() override {
    SessionTest::SetUp();
    overview = std::make_unique<FakeOverview>();
    mainWindow = CreateWindowEx(0, u"STATIC", u"Main", WS_POPUP | WS_VISIBLE, 0, 0, 240, 320, nullptr, nullptr,
                                nullptr, nullptr);
    KS_SetVariantPtr("core.window.hwnd", mainWindow);
    SetFocus(mainWindow);
  }
  void TearDown() override {
    connection.reset();
    overview.reset();
    if (mainWindow) DestroyWindow(mainWindow);
    SessionTest::TearDown();
  }

  // bob (7) is listed, carl (9) is not.
  void signIn() { ScriptedSessionTest::signIn({.exact = false}); }
  static std::string contactAdd(int64_t from, const std::string& name, const std::string& message) {
    return "CONTACT ADD\nSource-Id: " + std::to_string(from) + "\nName: " + name +
           "\nContent-Length: " + std::to_string(message.size()) + "\n\n" + message;
  }
  // The item's context menu, answered with these keys, one per wait.
  static void openMenu(void* item, std::initializer_list<UINT> keys) {
    testkit::ModalAnswers answers(testkit::keyPerWait(keys));
    OverviewContextMenuInfo info{item, 20, 40};
    KS_EventRaise("Overview/Item/OnContextMenu", &info);
  }

  std::unique_ptr<FakeOverview> overview;
  HWND mainWindow = nullptr;
};

TEST_F(ContactRequestsTest, ARepeatedRequestKeepsOneItemWithTheLatestMessage) {
  signIn();
  deliver(contactAdd(9, "carl@example.org", "hello"));
  deliver(contactAdd(9, "carl@example.org", "it's Carl, from work"));
  ASSERT_EQ(overview->items.size(), 1u);
  const FakeOverview::Item& item = overview->item(0);
  EXPECT_EQ(item.title, "carl@example.org");
  EXPECT_EQ(item.text, "it's Carl, from work");
  EXPECT_EQ(item.section, "AWAITING_ACCEPTANCE");
  ASSERT_EQ(overview->sections.size(), 1u);
  EXPECT_EQ(overview->sections[0]->key, "AWAITING_ACCEPTANCE");
  EXPECT_EQ(overview->sections[0]->title, "Wanting to add you...");
  EXPECT_EQ(overview->sections[0]->atFront, 1);
  HICON icon = LoadIcon(HINSTANCE(item.iconModule), item.iconResource);
  EXPECT_NE(icon, nullptr) << "the module carries the CONTACT icon";
  if (icon) DestroyIcon(icon);

  HContact* carl = connection->contacts().getContact(9);
  ContactData d{};
  d.size = sizeof d;
  KS_GetContactData(carl, &d);
  EXPECT_STREQ(d.name, "carl@example.org");
  KS_ReleaseContact(carl);

  // Another requester gets an item of its own; the link's end takes both,
  // and a menu event for a gone item finds nobody.
  deliver(contactAdd(12, "dora@example.org", "hi"));
  EXPECT_EQ(overview->items.size(), 2u);
  void* gone = overview->handle(0);
  peer.drop();
  ASSERT_TRUE(waitState(130));
  EXPECT_TRUE(overview->items.empty());
  openMenu(gone, {VK_RETURN});
  EXPECT_EQ(boxes->count(), 0u);
}

TEST_F(ContactRequestsTest, AcceptAsksToAddBackAndDeclineSendsNoAccepted) {
  signIn();
  deliver(contactAdd(9, "carl@example.org", "hello"));
  ASSERT_EQ(overview->items.size(), 1u);
  void* item = overview->handle(0);
  const FakeOverview::Item& shown = overview->item(0);

  // Dismissed: nothing goes out; a menu event for another item is ignored.
  openMenu(item, {VK_ESCAPE});
  ASSERT_NE(overview->section("AWAITING_ACCEPTANCE"), nullptr);
  openMenu(overview->section("AWAITING_ACCEPTANCE"), {VK_RETURN});
  EXPECT_EQ(boxes->count(), 0u);

  boxes->setAnswer(IDYES);
  uint64_t next = KS_GetLUID() + 1;
  openMenu(item, {VK_RETURN});  // Accept
  ASSERT_EQ(boxes->count(), 1u);
  EXPECT_EQ(boxes->last().caption, "Contact Accepted");
  EXPECT_EQ(boxes->last().text,
            "This contact will now be able to see your online status.\n\nWould you like to add this contact to your "
            "contact list?");
  EXPECT_EQ(boxes->last().type & MB_TYPEMASK, UINT(MB_YESNO));
  EXPECT_EQ(boxes->last().owner, nullptr);
  const std::string addBack = "You just added me - I'd like to add you too.";
  std::string sent = "CONTACT ADD\ncontent-length: " + std::to_string(addBack.size()) +
                     "\nmesg-id: " + std::to_string(next) + "\nname: carl@example.org\n\n" + addBack;
  EXPECT_EQ(peer.take(sent.size()), sent);
  EXPECT_EQ(peer.takePacket(),
            "CONTACT ADD RESP\naccepted: 1\nmesg-id: " + std::to_string(next + 1) + "\nsource-id: 9\n\n");
  EXPECT_EQ(shown.text, "Accepting Contact...");

  // Refused: the request stays shown.
  deliver(response(next + 1, 5));
  ASSERT_EQ(overview->items.size(), 1u);

  next = KS_GetLUID() + 1;
  openMenu(item, {VK_DOWN, VK_RETURN});  // Decline
  EXPECT_EQ(peer.takePacket(), "CONTACT ADD RESP\nmesg-id: " + std::to_string(next) + "\nsource-id: 9\n\n");
  EXPECT_EQ(shown.text, "Declining Contact...");
  EXPECT_EQ(boxes->count(), 1u);
  deliver(response(next, 0));
  EXPECT_TRUE(overview->items.empty());

  // A listed requester is accepted without the question.
  deliver(contactAdd(7, "bob@example.org", "again"));
  ASSERT_EQ(overview->items.size(), 1u);
  next = KS_GetLUID() + 1;
  openMenu(overview->handle(0), {VK_RETURN});
  EXPECT_EQ(boxes->count(), 1u);
  EXPECT_EQ(peer.takePacket(),
            "CONTACT ADD RESP\naccepted: 1\nmesg-id: " + std::to_string(next) + "\nsource-id: 7\n\n");
}

TEST_F(ContactRequestsTest, ABridgedRequestsMenuOutlivesItsBridge) {
  signIn();
  deliver("BRIDGE\nBridge-Id: 5\nBridge-Type: 6\nUsername: ann@jabber.example\nNickname: Ann J\n\n");
  deliver("BRIDGE CONTACT ADD\nBridge-Id: 5\nRequest-Id: 31\nId: 71\nName: carl@jabber.example\n\n");
  ASSERT_EQ(overview->items.size(), 1u);
  // The link ends while the menu is up, taking the bridge and its request;
  // Accept is chosen after.
  testkit::ModalAnswers answers({[&](HWND) {
                                  peer.drop();
                                  ASSERT_TRUE(waitState(130));
                                  ASSERT_EQ(connection->bridges()->find(5), nullptr);
                                  testkit::press(VK_RETURN);
                                }},
                                testkit::Modal::Menu);
  OverviewContextMenuInfo info{overview->handle(0), 20, 40};
  KS_EventRaise("Overview/Item/OnContextMenu", &info);
  EXPECT_EQ(answers.seen(), 1);
  EXPECT_EQ(boxes->count(), 0u);
  EXPECT_TRUE(overview->items.empty());
}

TEST_F(ContactRequestsTest, AnAnswerTakesOnlyTheRequestItAnswered) {
  signIn();
  std::string accept = "Service/" + olvaro::handleName("%p", connection->service()) + "/AcceptContact";
  AcceptContactRequest decline{9, 0};
  deliver(contactAdd(9, "carl@example.org", "hello"));
  uint64_t first = KS_GetLUID() + 1;
  EXPECT_EQ(KS_CallFunction(accept.c_str(), &decline), 1u);
  EXPECT_EQ(peer.takePacket(), "CONTACT ADD RESP\nmesg-id: " + std::to_string(first) + "\nsource-id: 9\n\n");
  // Carl asks again before the server takes the answer to the first.
  deliver(contactAdd(9, "carl@example.org", "please"));
  deliver(response(first, 0));
  ASSERT_EQ(overview->items.size(), 1u);
  EXPECT_EQ(overview->item(0).text, "please");
  uint64_t second = KS_GetLUID() + 1;
  EXPECT_EQ(KS_CallFunction(accept.c_str(), &decline), 1u);
  EXPECT_EQ(peer.takePacket(), "CONTACT ADD RESP\nmesg-id: " + std::to_string(second) + "\nsource-id: 9\n\n");
  deliver(response(second, 0));
  EXPECT_TRUE(overview->items.empty());
}

TEST_F(ContactRequestsTest, WithoutAnOverviewRequestsStillWork) {
  overview.reset();
  signIn();
  deliver(contactAdd(9, "carl@example.org", "hello"));
  deliver(contactAdd(9, "carl@example.org", "hello again"));
  uint64_t next = KS_GetLUID() + 1;
  std::string prefix = "Service/" + olvaro::handleName("%p", connection->service());
  AcceptContactRequest decline{9, 0};
  EXPECT_EQ(KS_CallFunction((prefix + "/AcceptContact").c_str(), &decline), 1u);
  EXPECT_EQ(KS_CallFunction((prefix + "/AcceptContact").c_str(), nullptr), 0u);
  EXPECT_EQ(peer.takePacket(), "CONTACT ADD RESP\nmesg-id: " + std::to_string(next) + "\nsource-id: 9\n\n");
  deliver(response(next, 0));
  // An overview that comes later shows the next request.
  overview = std::make_unique<FakeOverview>();
  deliver(contactAdd(9, "carl@example.org", "third time"));
  ASSERT_EQ(overview->items.size(), 1u);
  EXPECT_EQ(overview->item(0).text, "third time");
  peer.drop();
  ASSERT_TRUE(waitState(130));
  EXPECT_TRUE(overview->items.empty());
}

}  // namespace

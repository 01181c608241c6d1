// The whole way to a real XMPP network: the host with the built connection
// plug-in, signed in to the reference server, which bridges to a prosody the
// test starts. An XMPP account is added through "Add a Service" by keys; its
// roster, presence, chat and subscription requests reach the hub, and a wrong
// password's reason shows on the service's item.
#include <filesystem>
#include <map>
#include <memory>

#include "hubtest/fake_overview.h"
#include "bridge_xmpp.h"
#include "main_window.h"
#include "add_service_dialog.h"
#include "olvaro/connection_calls.h"
#include "olvaro/registrations.h"
#include "olvaro_server/server.h"
#include "platform/menu.h"
#include "platform/text.h"
#include "platform/window.h"
#include "startup.h"
#include "testkit/modal.h"
#include "testkit/testkit.h"

namespace {

using xmpptest::Prosody;
using xmpptest::XmppPeer;

// The XMPP server takes longer than the service's own.
bool waitFor(const std::function<bool()>& done, int ms = 10000) { return testkit::pumpUntil(done, ms); }

// Input as the host's message loop sees it: the active dialog's manager
// takes the keys it navigates with.
void drain() {
  MSG msg;
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    HWND active = GetActiveWindow();
    if (active && IsDialogMessage(active, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessage(&msg);
  }
  testkit::pump();
}
void press(UINT vk) {
  platform::inputKey(vk, true);
  platform::inputKey(vk, false);
  drain();
}
void typeText(const std::string& utf8) {
  for (char16_t c : platform::widen(utf8)) platform::inputChar(c);
  drain();
}

using Overview = hubtest::FakeOverview;

// Every message the hub completes: sender and text.
struct Inbox {
  std::vector<std::pair<HContact*, std::string>> got;
  olvaro::EventSubscription watch{olvaro::subscribeEvent("messages.new.complete", &Inbox::on, this)};
  static uint32_t on(void* user, void* m) {
    MessageData d{};
    d.size = sizeof d;
    KS_GetMessageData(static_cast<HMessage*>(m), &d);
    std::string text(reinterpret_cast<const char*>(d.payload), size_t(d.payloadLength > 0 ? d.payloadLength : 0));
    static_cast<Inbox*>(user)->got.emplace_back(d.contact, text);
    return 0;
  }
};

class XmppEndToEndTest : public testkit::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    if (!xmpptest::haveProsody()) GTEST_SKIP() << "prosody is not installed";
    KS_API_Cleanup();
    ASSERT_TRUE(prosody.start({{"ann", "annpw", {"bob@jabber.org"}},
                               {"bob", "bobpw", {"ann@jabber.org"}},
                               {"carl", "carlpw", {}}}));
    olvaro::server::Config config;
    config.xmpp_hosts = {prosody.hostMapping()};
    config.xmpp_allow_plain = true;
    server = std::make_unique<olvaro::server::Server>(config);
    std::string error;
    ASSERT_TRUE(server->start(&error)) << error;
    server->create_account({"u@example.org", "secret12", "U", "", 0});
    KS_SetSettingString("connection.user", "u@example.org");
    KS_SetSettingString("connection.pass", "secret12");
    KS_SetSettingString("Connection/Servers/List", ("127.0.0.1:" + std::to_string(server->ports().at(0))).c_str());
    overview = std::make_unique<Overview>();
    inbox = std::make_unique<Inbox>();
    boxes = std::make_unique<testkit::MessageBoxRecorder>(IDNO);

    // The program folder holds the built plug-in, as the real one does.
    std::string folder = session().home() + "/program/";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(CONNECTION_PLUGIN, folder + "connection.so",
                               std::filesystem::copy_options::overwrite_existing);
    host = std::make_unique<host::Host>();
    host->start(host::parseCommandLine(u"/newinstance"), std::u16string(folder.begin(), folder.end()));
    ASSERT_TRUE(waitFor([] { return KS_GetVariantLong("connection.state") == 100; }));
  }
  void TearDown() override {
    inbox.reset();
    if (host) host->stop();
    host.reset();
    boxes.reset();
    overview.reset();
    KS_API_Cleanup();
    server.reset();
    prosody.stop();
    PlatformTest::TearDown();
  }

  // Adds an XMPP account through the dialog, by keys.
  void addXmppService(const std::string& user, const std::string& password, const std::string& nickname) {
    SendMessage(host->mainWindow()->hwnd(), WM_COMMAND, host::kCommandAddService, 0);
    testkit::pump();
    host::AddServiceDialog* dialog = host->mainWindow()->addServiceDialog();
    ASSERT_NE(dialog, nullptr);
    ASSERT_NE(dialog->typeList(), nullptr);
    // The last of the six rows is XMPP.
    for (int i = 0; i < 6; ++i) press(VK_DOWN);
    press(VK_TSOFT1);
    ASSERT_EQ(dialog->fields().size(), 5u);
    ASSERT_EQ(GetFocus(), dialog->fields()[0].edit);
    typeText(user);
    press(VK_DOWN);
    typeText(password);
    press(VK_DOWN);
    typeText(nickname);
    // Server stays "jabber.org" (prosody serves it here), resource "Home".
    ASSERT_EQ(testkit::windowText(dialog->fields()[3].edit), "jabber.org");
    press(VK_TSOFT1);
    EXPECT_EQ(host->mainWindow()->addServiceDialog(), nullptr);
  }
  std::string itemText(const std::string& title) {
    void* item = overview->find("SERVICES", title);
    return item ? overview->items[item].text : "(no item)";
  }
  // The bridged contact listed under this name, or null.
  static HContact* listedContact(const std::string& name) {
    HGroup* list = KS_GetGroup(0);
    HContact* members[64] = {};  // no references of their own
    uint32_t count = 64;
    KS_GetGroupMembers(list, members, nullptr, &count);
    HContact* found = nullptr;
    for (uint32_t i = 0; i < count && i < 64; ++i) {
      ContactData d{};
      d.size = sizeof d;
      KS_GetContactData(members[i], &d);
      if (!found && d.name && name == d.name) found = KS_DuplicateContactHandle(members[i]);
    }
    KS_ReleaseGroup(list);
    return found;
  }
  static int32_t presenceOf(HContact* c) {
    ContactData d{};
    d.size = sizeof d;
    KS_GetContactData(c, &d);
    return d.onlineStatus;
  }

  Prosody prosody{"jabber.org"};
  std::unique_ptr<olvaro::server::Server> server;
  std::unique_ptr<Overview> overview;
  std::unique_ptr<Inbox> inbox;
  std::unique_ptr<testkit::MessageBoxRecorder> boxes;
  std::unique_ptr<host::Host> host;
};

TEST_F(XmppEndToEndTest, AnAccountAddedByKeysBringsItsRosterChatAndRequests) {
  addXmppService("ann", "annpw", "Ann X");
  ASSERT_TRUE(waitFor([&] { return overview->find("SERVICES", "Ann X - Online"); })) << itemText("Ann X");
  EXPECT_EQ(itemText("Ann X"), "ann");

  // The roster contact, offline until bob signs in.
  HContact* bob = nullptr;
  ASSERT_TRUE(waitFor([&] { return (bob = listedContact("bob@jabber.org")) != nullptr; }));
  ContactData d{};
  d.size = sizeof d;
  KS_GetContactData(bob, &d);
  ASSERT_NE(d.service, nullptr);
  ServiceData s{};
  s.size = sizeof s;
  KS_GetServiceData(d.service, &s);
  EXPECT_STREQ(s.displayName, "Ann X");
  EXPECT_EQ(presenceOf(bob), 0);
  XmppPeer peer("bob@jabber.org", "bobpw", prosody.port());
  EXPECT_TRUE(waitFor([&] { return presenceOf(bob) == 1; }));

  // bob writes; the reply from the hub reaches him.
  peer.message("ann@jabber.org", "hello from bob");
  ASSERT_TRUE(waitFor([&] { return !inbox->got.empty(); }));
  EXPECT_EQ(inbox->got[0].first, bob);
  EXPECT_EQ(inbox->got[0].second, "hello from bob");
  HMessage* m = nullptr;
  KS_SendMessage(bob, 0, "text/plain", "hi bob", 6, 1, &m);
  if (m) KS_ReleaseMessage(m);
  EXPECT_TRUE(waitFor([&] { return peer.has("message", "chat", "hi bob"); }));

  // carl asks to see ann; the request's item is accepted from its menu.
  XmppPeer carl("carl@jabber.org", "carlpw", prosody.port());
  ASSERT_TRUE(waitFor([&] { return carl.connected(); }));
  carl.presence("ann@jabber.org", "subscribe");
  void* request = nullptr;
  ASSERT_TRUE(waitFor([&] { return (request = overview->find("AWAITING_ACCEPTANCE", "carl@jabber.org")); }));
  olvaro::OverviewContextMenuInfo at{request, 20, 40};
  {
    testkit::ModalAnswers accept({testkit::pressing({VK_RETURN})});  // "Accept", the first row
    KS_EventRaise("Overview/Item/OnContextMenu", &at);
  }
  EXPECT_EQ(boxes->count(), 1u) << "asked whether to add carl";
  EXPECT_TRUE(waitFor([&] { return carl.hasFrom("presence", "", "ann@jabber.org/"); }));
  EXPECT_TRUE(waitFor([&] { return !overview->find("AWAITING_ACCEPTANCE", "carl@jabber.org"); }));
  testkit::saveScreenshot("connection_xmpp_bridge_signed_in");

  // "Offline" from the service item's status menu, by keys: the XMPP session
  // ends and bob sees ann go. A text to bob sent right behind the switch
  // reaches a server that has already ended the bridge: it is refused there,
  // and the message ends as interrupted instead of "Sending" for ever.
  olvaro::OverviewContextMenuInfo on{overview->find("SERVICES", "Ann X"), 20, 60};
  HMessage* late = nullptr;
  {
    testkit::ModalAnswers offline(testkit::keyPerWait({VK_DOWN, VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN}));
    KS_EventRaise("Overview/Item/OnContextMenu", &on);
    KS_SendMessage(bob, 0, "text/plain", "too late", 8, 1, &late);
  }
  ASSERT_NE(late, nullptr);
  EXPECT_TRUE(waitFor([&] { return overview->find("SERVICES", "Ann X - Offline"); })) << itemText("Ann X");
  EXPECT_TRUE(waitFor([&] { return peer.hasFrom("presence", "unavailable", "ann@jabber.org/"); }));
  EXPECT_FALSE(listedContact("bob@jabber.org")) << "its contacts leave the list";
  EXPECT_TRUE(waitFor([&] {
    MessageData m{};
    m.size = sizeof m;
    KS_GetMessageData(late, &m);
    return m.interrupted != 0;
  }));
  EXPECT_FALSE(peer.has("message", "chat", "too late"));
  KS_ReleaseMessage(late);
  KS_ReleaseContact(bob);
}

TEST_F(XmppEndToEndTest, AWrongPasswordShowsTheReasonOnTheServiceItem) {
  addXmppService("ann", "not-this", "Ann W");
  ASSERT_TRUE(waitFor([&] {
    return itemText("Ann W") == "The XMPP server did not accept the user name or password. - ann";
  })) << itemText("Ann W");
  void* item = overview->find("SERVICES", "Ann W");
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(overview->items[item].title, "Ann W - Offline");
}

}  // namespace

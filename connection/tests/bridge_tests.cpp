// Bridges against a scripted peer: the network types and registration, the
// announcement and both sides' switches, the status menu, bridged contacts,
// messages, group chats and contact requests, and what a lost link leaves.
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "hubtest/fake_overview.h"
#include "bridges.h"
#include "olvaro/menu_commands.h"
#include "olvaro/registrations.h"
#include "platform/bitmap.h"
#include "platform/menu.h"
#include "session_fixture.h"

using namespace conntest;
using olvaro::conn::AcceptContactRequest;
using olvaro::conn::AddContactRequest;
using olvaro::conn::Bridge;
using olvaro::conn::OverviewItemInfo;
using olvaro::conn::OverviewSectionInfo;
using olvaro::conn::ServiceRegistration;

namespace {

// One packet the client sent: its command and (lower-cased) headers.
struct Sent {
  std::string command;
  std::map<std::string, std::string> headers;
  bool has(const std::string& name) const { return headers.count(name) != 0; }
  std::string operator[](const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
};

Sent parse(const std::string& text) {
  Sent out;
  size_t at = text.find('\n');
  out.command = text.substr(0, at);
  while (at != std::string::npos && at + 1 < text.size()) {
    size_t end = text.find('\n', at + 1);
    std::string line = text.substr(at + 1, end - at - 1);
    at = end;
    size_t colon = line.find(": ");
    if (colon != std::string::npos) out.headers[line.substr(0, colon)] = line.substr(colon + 2);
  }
  return out;
}

using Overview = hubtest::FakeOverview;

class BridgeTest : public ScriptedSessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    overview = std::make_unique<Overview>();
    olvaro::conn::Bridges::setItemMaker([](HService* service) {
      struct Item : olvaro::conn::BridgeItem {
        explicit Item(HService* s) : handle(olvaro::handleName("%p", s)) {
          OverviewSectionInfo section{sizeof section, "SERVICES", "Services", 0, nullptr};
          KS_CallFunction("Overview/CreateSection", &section);
          OverviewItemInfo info{};
          info.size = sizeof info;
          info.section = section.section;
          info.title = handle.c_str();
          info.text = "";
          KS_CallFunction("Overview/AddStaticItem", &info);
          item = info.item;
        }
        ~Item() override { KS_CallFunction("Overview/DeleteItem", item); }
        std::string handle;
        void* item = nullptr;
      };
      return std::make_unique<Item>(service);
    });
    groupsWatch_ = olvaro::subscribeEvent("groups.changed", &BridgeTest::onGroups, this);
  }
  void TearDown() override {
    connection.reset();
    groupsWatch_.reset();
    olvaro::conn::Bridges::setItemMaker(nullptr);
    overview.reset();
    SessionTest::TearDown();
  }
  static uint32_t onGroups(void* user, void*) {
    ++static_cast<BridgeTest*>(user)->groupsChanged;
    return 0;
  }

  void signIn() {
    ScriptedSessionTest::signIn({.exact = false, .contacts = "", .logon = "LOGON SUCCESSFUL\nSub-Id: 4\nNickname: Ann\n\n"});
    peer.clear();
  }
  // Announces bridge 5 (XMPP) and takes what the client answers.
  void announce(bool disabled) {
    deliver(std::string("BRIDGE\nBridge-Id: 5\nBridge-Type: 6\nUsername: ann@jabber.example\nNickname: Ann J\n") +
            (disabled ? "Disabled: 1\n" : "") + "\n");
  }
  Sent next() { return parse(peer.takePacket(2000)); }
  // The next packet and its body.
  Sent nextWithBody(std::string* body) {
    Sent head = next();
    size_t length = size_t(std::stoul("0" + head["content-length"]));
    *body = peer.take(length, 2000);
    return head;
  }
  Bridge* bridge() { return connection->bridges()->find(5); }
  ServiceData bridgeService() { return bridge()->serviceData(); }
  std::string fn(const char* pattern) { return olvaro::handleName(pattern, bridge()->service()); }
  // Chooses row `row` of the bridge's status menu by its command id.
  void choose(int row) {
    HMENU menu = reinterpret_cast<HMENU>(uintptr_t(KS_CallFunction(fn("Service/%p/CreatePopupMenu").c_str(), nullptr)));
    ASSERT_NE(menu, nullptr);
    UINT command = GetMenuItemID(menu, row) & 0xFFFF;  // all a menu bar's command carries
    DestroyMenu(menu);
    KS_CallFunction(fn("Service/%p/HandlePopupMenu").c_str(), reinterpret_cast<void*>(uintptr_t(command)));
  }

  std::unique_ptr<Overview> overview;
  int groupsChanged = 0;

 private:
  olvaro::EventSubscription groupsWatch_;
};

TEST_F(BridgeTest, SixNetworkTypesAndRegistrationSendsTheFieldsOnlyAfterTheServersYes) {
  signIn();
  HServiceType* types[16] = {};
  int count = 16;
  KS_GetServiceTypes(types, &count);
  ASSERT_EQ(count, 6);
  std::map<std::string, HServiceType*> byShort;
  for (int i = 0; i < count; ++i) {
    ServiceTypeData d{};
    d.size = sizeof d;
    KS_GetServiceTypeData(types[i], &d);
    byShort[d.shortName] = types[i];
    HICON icon = LoadIcon(HINSTANCE(d.iconModule), d.iconResource);
    EXPECT_NE(icon, nullptr) << d.shortName;
    if (icon) DestroyIcon(icon);
  }
  ServiceTypeData xmpp{};
  xmpp.size = sizeof xmpp;
  KS_GetServiceTypeData(byShort["XMPP"], &xmpp);
  EXPECT_STREQ(xmpp.longName, "Google Talk / Jabber");
  EXPECT_EQ(uintptr_t(xmpp.iconResource), 108u);
  EXPECT_EQ(byShort.size(), 6u);

  ServiceRegistration r{};
  r.serviceType = byShort["XMPP"];
  r.fieldCount = 4;
  strcpy(r.fields[0].name, "Username");
  strcpy(r.fields[0].value, "ann@jabber.example");
  strcpy(r.fields[1].name, "Password");
  strcpy(r.fields[1].value, "pw\nfake: 1");  // one line stays one header
  strcpy(r.fields[2].name, "Bad: name");
  strcpy(r.fields[2].value, "x");
  memset(r.fields[3].name, 'N', sizeof r.fields[3].name);  // no NUL in the slot
  strcpy(r.fields[3].value, "v");
  std::string reg = olvaro::handleName("ServiceType/%p/Register", byShort["XMPP"]);
  uint32_t id = KS_CallFunction(reg.c_str(), &r);
  ASSERT_NE(id, 0u);
  EXPECT_EQ(r.mesgId, id);
  Sent sent = next();
  EXPECT_EQ(sent.command, "BRIDGE REGISTER");
  EXPECT_EQ(sent["bridge-type"], "6");
  EXPECT_EQ(sent["mesg-id"], std::to_string(id));

  respond(id, 0);
  sent = next();
  EXPECT_EQ(sent.command, "BRIDGE REGISTER FIELDS");
  EXPECT_EQ(sent["mesg-id"], std::to_string(id));
  EXPECT_EQ(sent["username"], "ann@jabber.example");
  EXPECT_EQ(sent["password"], "pw fake: 1");
  EXPECT_FALSE(sent.has("fake"));
  EXPECT_EQ(sent["nnnnnnnnnnnnnnnn"], "v");
  EXPECT_EQ(sent.headers.size(), 4u);

  // Refused: nothing follows. A type that is not ours sends nothing at all.
  uint32_t second = KS_CallFunction(reg.c_str(), &r);
  next();
  respond(second, 13);
  ServiceTypeData fake{};
  fake.size = sizeof fake;
  fake.mask = SERVICETYPE_SHORTNAME;
  fake.shortName = "X";
  HServiceType* foreign = KS_CreateServiceType(&fake);
  ServiceRegistration other{};
  other.serviceType = foreign;
  EXPECT_EQ(connection->bridges()->types().registerBridge(other), 0u);
  KS_ReleaseServiceType(foreign);
  deliver("");
  EXPECT_EQ(peer.received(), "");

  // The older way in: the three account fields at once, each only when given.
  struct {
    const char *user, *nick, *pass;
  } account{"ann@icq", nullptr, "pw"};
  EXPECT_EQ(KS_CallFunction("Connection/Bridging/Create", &account), 1u);
  Sent create = next();
  EXPECT_EQ(create.command, "BRIDGE REGISTER FIELDS");
  EXPECT_EQ(create["username"], "ann@icq");
  EXPECT_EQ(create["password"], "pw");
  EXPECT_FALSE(create.has("nickname"));
  EXPECT_TRUE(create.has("mesg-id"));
}

TEST_F(BridgeTest, AnnouncementSwitchesAndTheStatusMenu) {
  signIn();
  announce(true);
  ASSERT_NE(bridge(), nullptr);
  EXPECT_EQ(peer.received(), "") << "a disabled bridge is not switched on";
  ServiceData d = bridgeService();
  EXPECT_STREQ(d.userName, "ann@jabber.example");
  EXPECT_STREQ(d.displayName, "Ann J");
  EXPECT_EQ(d.state, 0);
  EXPECT_EQ(uintptr_t(d.iconResource), 108u);
  ASSERT_NE(d.type, nullptr);
  EXPECT_EQ(overview->in("SERVICES").size(), 1u);

  // Announced again without "Disabled": "BRIDGE ON" with status 1.
  announce(false);
  Sent on = next();
  EXPECT_EQ(on.command, "BRIDGE ON");
  EXPECT_EQ(on["bridge-id"], "5");
  EXPECT_EQ(on["online-status"], "1");
  EXPECT_TRUE(connection->pendingRequests().contains(std::stoull(on["mesg-id"])));
  EXPECT_EQ(bridgeService().signInRequested, 1);
  deliver("BRIDGE ON\nBridge-Id: 5\n\n");
  deliver("BRIDGE ON\nBridge-Id: 99\n\n");  // no such bridge
  EXPECT_EQ(bridgeService().state, 1);

  // The menu: the five statuses, separators, removal; state 1 checked.
  HMENU menu = reinterpret_cast<HMENU>(uintptr_t(KS_CallFunction(fn("Service/%p/CreatePopupMenu").c_str(), nullptr)));
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(GetMenuItemCount(menu), 9);
  EXPECT_EQ(CheckMenuItem(menu, 0, MF_BYPOSITION), DWORD(MF_CHECKED));
  EXPECT_EQ(CheckMenuItem(menu, 2, MF_BYPOSITION), DWORD(MF_UNCHECKED));
  DestroyMenu(menu);

  // Away while on: an update, no request waits.
  size_t waiting = connection->pendingRequests().size();
  choose(2);
  Sent away = next();
  EXPECT_EQ(away.command, "BRIDGE UPDATE");
  EXPECT_EQ(away["online-status"], "2");
  EXPECT_EQ(connection->pendingRequests().size(), waiting);
  EXPECT_EQ(bridgeService().signInRequested, 2);

  // Offline: "BRIDGE OFF" with 0; the server's yes drops the contacts.
  deliver("BRIDGE CONTACT\nBridge-Id: 5\nContact-Id: 70\nName: bob@jabber.example\nOnline-Status: 1\n\n");
  EXPECT_EQ(bridge()->contactCount(), 1u);
  choose(6);
  Sent off = next();
  EXPECT_EQ(off.command, "BRIDGE OFF");
  EXPECT_EQ(off["online-status"], "0");
  respond(std::stoull(off["mesg-id"]), 0);
  EXPECT_EQ(bridgeService().state, 0);
  EXPECT_EQ(bridge()->contactCount(), 0u);

  // The server switches off with a reason the item can show.
  announce(false);
  next();
  deliver("BRIDGE ON\nBridge-Id: 5\n\n");
  deliver("BRIDGE OFF\nBridge-Id: 5\nReason: Wrong password\n\n");
  d = bridgeService();
  EXPECT_EQ(d.state, 0);
  EXPECT_EQ(d.signInRequested, 0);
  EXPECT_STREQ(d.text28, "Wrong password");

  // Removal: only the id goes; the server's yes disables and forgets it.
  choose(8);
  Sent removal = next();
  EXPECT_EQ(removal.command, "BRIDGE UPDATE");
  EXPECT_EQ(removal.headers.size(), 2u);
  respond(std::stoull(removal["mesg-id"]), 0);
  EXPECT_EQ(bridge(), nullptr);
  EXPECT_TRUE(overview->in("SERVICES").empty());
}

TEST_F(BridgeTest, StatusMenuCommandsAreNoHostCommandsHoweverManyIdsWereTaken) {
  // Messages and requests since the start have taken ids up to the host's
  // "About" and "Exit"; the bridge's menu must still not answer to them.
  while (KS_GetLUID() < olvaro::kCommandAbout - 1) {
  }
  signIn();
  announce(false);
  EXPECT_EQ(next().command, "BRIDGE ON");
  HMENU menu = reinterpret_cast<HMENU>(uintptr_t(KS_CallFunction(fn("Service/%p/CreatePopupMenu").c_str(), nullptr)));
  ASSERT_NE(menu, nullptr);
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    UINT id = GetMenuItemID(menu, i);
    if (id == 0 || id == UINT(-1)) continue;  // separators
    EXPECT_TRUE(id <= 0xFFFF && id != olvaro::kCommandAbout && id != olvaro::kCommandExit &&
                id != olvaro::kCommandSettings && id != olvaro::kCommandAddService)
        << id;
  }
  DestroyMenu(menu);
  // "Exit" chosen in the host's menu reaches every plug-in: not a removal.
  KS_EventRaise("core.window.OnCommand", reinterpret_cast<void*>(uintptr_t(olvaro::kCommandExit)));
  EXPECT_TRUE(peer.takePacket(200).empty());
  EXPECT_NE(bridge(), nullptr);
}

TEST_F(BridgeTest, BridgedContactsMessagesAndGroupChats) {
  signIn();
  announce(false);
  next();
  deliver("BRIDGE ON\nBridge-Id: 5\n\n");
  HService* service = bridge()->service();
  deliver("BRIDGE CONTACT\nBridge-Id: 5\nContact-Id: 70\nName: bob@jabber.example\nOnline-Status: 2\n\n");
  HContact* bob = connection->bridges()->bridgedContact(5, 70, "");
  ASSERT_NE(bob, nullptr);
  ContactData c{};
  c.size = sizeof c;
  KS_GetContactData(bob, &c);
  EXPECT_EQ(c.service, service);
  EXPECT_STREQ(c.name, "bob@jabber.example");
  EXPECT_EQ(c.onlineStatus, 2);
  HGroup* list = KS_GetGroup(0);
  EXPECT_TRUE(KS_GroupContainsMember(list, bob));
  EXPECT_EQ(connection->bridges()->bridgedContact(6, 70, ""), nullptr);

  // A message from him, and one to him as "BRIDGE MESG".
  std::vector<HMessage*> got;
  auto watch = olvaro::subscribeEvent(
      "messages.new",
      [](void* user, void* m) {
        static_cast<std::vector<HMessage*>*>(user)->push_back(KS_DuplicateMessageHandle(static_cast<HMessage*>(m)));
        return 0u;
      },
      &got);
  deliver(withBody("BRIDGE MESG\nBridge-Id: 5\nSource-Id: 70\nMesg-Id: 900\nContent-Type: text/plain\n", "hi"));
  ASSERT_EQ(got.size(), 1u);
  MessageData m{};
  m.size = sizeof m;
  KS_GetMessageData(got[0], &m);
  EXPECT_EQ(m.contact, bob);
  KS_SendMessage(bob, 0, "text/plain", "yo", 2, 1, nullptr);
  std::string body;
  Sent out = nextWithBody(&body);
  EXPECT_EQ(out.command, "BRIDGE MESG");
  EXPECT_EQ(out["bridge-id"], "5");
  EXPECT_EQ(body, "yo");

  // Group chat membership, and a group message to the chat.
  groupsChanged = 0;
  deliver(withBody("BRIDGE CHAT CONTACT\nBridge-Id: 5\nChat-Id: 3\nContact-Id: 70\n", "1"));
  HGroup* chat = connection->bridges()->bridgedGroup(5, 3);
  ASSERT_NE(chat, nullptr);
  GroupData g{};
  g.size = sizeof g;
  KS_GetGroupData(chat, &g);
  EXPECT_STREQ(g.name, "Group Chat");
  EXPECT_EQ(g.service, service);
  EXPECT_TRUE(KS_GroupContainsMember(chat, bob));
  deliver(withBody("BRIDGE MESG\nBridge-Id: 5\nSource-Id: 70\nTarget-Id: 3\nMesg-Id: 901\nContent-Type: text/plain\n",
                   "all"));
  ASSERT_EQ(got.size(), 2u);
  KS_GetMessageData(got[1], &m);
  EXPECT_EQ(m.target, chat);
  deliver(withBody("BRIDGE MESG\nBridge-Id: 5\nSource-Id: 70\nTarget-Id: 4\nMesg-Id: 902\nContent-Type: text/plain\n",
                   "lost"));
  EXPECT_EQ(got.size(), 2u) << "a chat the bridge does not hold has no target";
  deliver("BRIDGE CHAT CONTACT\nBridge-Id: 5\nChat-Id: 3\nContact-Id: 70\n\n");
  EXPECT_FALSE(KS_GroupContainsMember(chat, bob));
  EXPECT_EQ(groupsChanged, 2);
  deliver(withBody("BRIDGE CHAT CONTACT\nBridge-Id: 5\nChat-Id: 3\nContact-Id: 70\n", std::string("\0", 1)));
  EXPECT_FALSE(KS_GroupContainsMember(chat, bob));
  deliver(withBody("BRIDGE CHAT CONTACT\nBridge-Id: 5\nChat-Id: 3\nContact-Id: 70\n", "1"));

  // The link drops: state 101 and his memberships are gone.
  peer.drop();
  ASSERT_TRUE(waitState(130));
  EXPECT_FALSE(KS_GroupContainsMember(list, bob));
  EXPECT_FALSE(KS_GroupContainsMember(chat, bob));
  ServiceData after{};
  after.size = sizeof after;
  KS_GetServiceData(service, &after);
  EXPECT_EQ(after.state, 101);
  watch.reset();
  for (HMessage* message : got) KS_ReleaseMessage(message);
  KS_ReleaseGroup(chat);
  KS_ReleaseGroup(list);
  KS_ReleaseContact(bob);
}

TEST_F(BridgeTest, DisconnectForgetsBridgesNobodyHoldsAndDisablesTheRest) {
  signIn();
  announce(false);
  next();
  deliver("BRIDGE\nBridge-Id: 6\nBridge-Type: 5\nUsername: 1234\nNickname: Ann Q\nDisabled: 1\n\n");
  deliver("BRIDGE CONTACT\nBridge-Id: 6\nContact-Id: 70\nName: 777\n\n");
  ASSERT_EQ(connection->bridges()->size(), 2u);
  HService* held = KS_DuplicateServiceHandle(bridge()->service());
  peer.drop();
  ASSERT_TRUE(waitState(130));
  EXPECT_EQ(connection->bridges()->size(), 1u);
  ASSERT_NE(bridge(), nullptr) << "someone else holds its service";
  ServiceData d = bridgeService();
  EXPECT_EQ(d.state, 101);
  EXPECT_EQ(d.signInRequested, 0);
  EXPECT_FALSE(bridge()->enabled());
  EXPECT_TRUE(overview->in("SERVICES").empty());
  EXPECT_EQ(KS_CallFunction(fn("Service/%p/CreatePopupMenu").c_str(), nullptr), 0u);
  KS_ReleaseService(held);
}

TEST_F(BridgeTest, ContactRequestsBothWays) {
  signIn();
  announce(true);
  deliver(withBody("BRIDGE CONTACT ADD\nBridge-Id: 5\nRequest-Id: 31\nId: 71\nName: carl@jabber.example\n"
                   "Nickname: Carl\n",
                   ""));
  deliver("BRIDGE CONTACT ADD\nBridge-Id: 77\nRequest-Id: 32\nId: 72\nName: x\n\n");  // unknown bridge
  auto shown = overview->in("AWAITING_ACCEPTANCE");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, "carl@jabber.example");
  EXPECT_EQ(shown[0].text, "Carl") << "the nickname when the body is empty";
  HContact* carl = connection->bridges()->bridgedContact(5, 71, "");
  ContactData c{};
  c.size = sizeof c;
  KS_GetContactData(carl, &c);
  EXPECT_EQ(c.service, bridge()->service());
  KS_ReleaseContact(carl);

  AcceptContactRequest yes{31, 1};
  EXPECT_EQ(KS_CallFunction(fn("Service/%p/AcceptContact").c_str(), &yes), 1u);
  Sent answer = next();
  EXPECT_EQ(answer.command, "BRIDGE CONTACT ADD RESP");
  EXPECT_EQ(answer["response-id"], "31");
  EXPECT_EQ(answer["bridge-id"], "5");
  EXPECT_EQ(answer["accepted"], "1");
  respond(std::stoull(answer["mesg-id"]), 13);
  EXPECT_EQ(bridge()->requestCount(), 1u) << "a refusal changes nothing";
  KS_CallFunction(fn("Service/%p/AcceptContact").c_str(), &yes);
  respond(std::stoull(next()["mesg-id"]), 0);
  EXPECT_EQ(bridge()->requestCount(), 0u);
  EXPECT_TRUE(overview->in("AWAITING_ACCEPTANCE").empty());

  // Asking someone on the bridged network, with the answer to the caller.
  struct Answer {
    int64_t code = -1;
  } heard;
  AddContactRequest add{sizeof add, "dora@jabber.example", "hello", [](void* context, const olvaro::Response* r) {
                          static_cast<Answer*>(context)->code = r->code;
                        },
                        &heard};
  EXPECT_EQ(KS_CallFunction(fn("Service/%p/AddContact").c_str(), &add), 1u);
  std::string body;
  Sent asked = nextWithBody(&body);
  EXPECT_EQ(asked.command, "BRIDGE CONTACT ADD");
  EXPECT_EQ(asked["name"], "dora@jabber.example");
  EXPECT_EQ(asked["bridge-id"], "5");
  EXPECT_EQ(body, "hello");
  respond(std::stoull(asked["mesg-id"]), 12);
  EXPECT_EQ(heard.code, 12);
  HContact* bob = connection->bridges()->bridgedContact(5, 70, "");
  EXPECT_EQ(KS_CallFunction(fn("Service/%p/DeleteContact").c_str(), &bob), 0u);
  KS_ReleaseContact(bob);
}

}  // namespace

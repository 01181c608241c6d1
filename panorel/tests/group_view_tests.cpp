// Member views: sections and order, lazy rebuilds, the rows' texts and
// colours, and both rows' menus with the roles they send.
#include "framework/fonts.h"
#include "framework/paint.h"
#include "panorel_fixture.h"
#include "platform/bitmap.h"
#include "platform/gdi.h"
#include "testkit/modal.h"
#include "texts.h"

namespace panoreltest {
namespace {

using Names = std::vector<std::string>;

// The fake connection functions a row's menu looks up, recording calls.
struct FakeService {
  explicit FakeService(HService* service, HContact* me = nullptr) : me(me) {
    admin.reset(olvaro::handleName("Service/%p/AdminContact", service), [](void* user, void* arg) -> uint32_t {
      auto* r = static_cast<olvaro::AdminContactRequest*>(arg);
      static_cast<FakeService*>(user)->roles.push_back(r->action);
      return 1;
    }, this);
    myHandle.reset(olvaro::handleName("Service/%p/GetMyHandle", service), [](void* user, void* arg) -> uint32_t {
      HContact* me = static_cast<FakeService*>(user)->me;
      *static_cast<HContact**>(arg) = me ? KS_DuplicateContactHandle(me) : nullptr;
      return me ? 1 : 0;
    }, this);
  }
  void allowDelete(HService* service) {
    remove.reset(olvaro::handleName("Service/%p/DeleteContact", service), [](void* user, void* arg) -> uint32_t {
      static_cast<FakeService*>(user)->deleted.push_back(*static_cast<HContact**>(arg));
      return 1;
    }, this);
  }
  void allowAdd(HService* service) {
    add.reset(olvaro::handleName("Service/%p/AddContact", service), [](void* user, void* arg) -> uint32_t {
      auto* r = static_cast<olvaro::AddContactRequest*>(arg);
      static_cast<FakeService*>(user)->added.push_back(r->userName);
      return 1;
    }, this);
  }
  HContact* me;
  std::vector<int32_t> roles;
  std::vector<HContact*> deleted;
  std::vector<std::string> added;
  olvaro::FunctionRegistration admin, myHandle, remove, add;
};

// The primary service's state, and the presence asked for when `wanted` is given.
void setServiceState(int32_t state, int32_t wanted = -1) {
  HService* primary = KS_GetPrimaryService();
  ServiceData d{};
  d.size = sizeof d;
  d.mask = SERVICE_STATE | (wanted >= 0 ? uint32_t(SERVICE_SIGNINREQUESTED) : 0u);
  d.state = state;
  d.signInRequested = wanted;
  KS_SetServiceData(primary, &d);
  KS_ReleaseService(primary);
}

struct MenuItem {
  std::string text;
  UINT id;
  bool grey, checked;
};
std::vector<MenuItem> items(HMENU menu) {
  std::vector<MenuItem> out;
  for (int i = 0, n = GetMenuItemCount(menu); i < n; ++i) {
    UINT state = GetMenuState(menu, UINT(i), MF_BYPOSITION);
    if (state & MF_SEPARATOR) {
      out.push_back({"-", 0, false, false});
      continue;
    }
    char16_t text[64] = {};
    GetMenuString(menu, UINT(i), text, 63, MF_BYPOSITION);
    out.push_back({testkit::narrow(text), GetMenuItemID(menu, i), (state & MF_GRAYED) != 0, (state & MF_CHECKED) != 0});
  }
  DestroyMenu(menu);
  return out;
}

panorel::ContactRow* rowOf(panorel::GroupView* view, HContact* c) {
  for (int i = 0; i < view->rowCount(); ++i)
    if (auto* row = dynamic_cast<panorel::ContactRow*>(view->row(i)))
      if (row->contact() == c) return row;
  return nullptr;
}

TEST_F(PanorelTest, ContactsTabOrdersOnlineByNameAndOfflineLast) {
  HContact* bob = makeContact(2, "bob", 1, "Busy building");
  HContact* alan = makeContact(3, "Alan", 2);
  HContact* carol = makeContact(4, "Carol", 0);
  HContact* dave = makeContact(5, "dave", 100);
  HContact* zed = makeContact(6, "Zed", 5);
  for (HContact* c : {bob, alan, carol, dave, zed}) addMember(0, c);
  start();
  list->tabs().setSelectedIndex(1);
  panorel::GroupView* view = list->groupView();
  ASSERT_TRUE(view);
  testkit::pump();
  // Unknown presence is listed offline, but before those known to be off.
  EXPECT_EQ(rowNames(view), (Names{"[header]", "Alan", "bob", "Zed", "[header]", "dave", "Carol"}));
  EXPECT_EQ(testkit::narrow(rowOf(view, bob)->secondLine()), "Busy building");
  EXPECT_EQ(testkit::narrow(rowOf(view, alan)->secondLine()), "Away");
  EXPECT_EQ(testkit::narrow(rowOf(view, zed)->secondLine()), "Busy");
  EXPECT_EQ(testkit::narrow(rowOf(view, dave)->secondLine()), "Unknown State");
  EXPECT_EQ(testkit::narrow(rowOf(view, carol)->secondLine()), "Offline");
  testkit::saveScreenshot("panorel_contacts_tab");

  // A change only marks the view; the next paint puts the row in place.
  setPresence(carol, 1);
  EXPECT_TRUE(view->dirty());
  EXPECT_EQ(rowNames(view).back(), "Carol");
  testkit::pump();
  EXPECT_FALSE(view->dirty());
  EXPECT_EQ(rowNames(view), (Names{"[header]", "Alan", "bob", "Carol", "Zed", "[header]", "dave"}));

  // A new member and an unread message wait for the paint too.
  HContact* eve = makeContact(7, "eve", 1);
  addMember(0, eve);
  unread(bob, false, bob);
  EXPECT_TRUE(view->dirty());
  testkit::pump();
  EXPECT_EQ(rowNames(view)[4], "eve");
  EXPECT_EQ(testkit::narrow(rowOf(view, bob)->secondLine()), "1 New Message");
  unread(bob, false, bob);
  EXPECT_EQ(testkit::narrow(rowOf(view, bob)->secondLine()), "2 New Messages");
}

TEST_F(PanorelTest, CollapsedOfflineSurvivesANewView) {
  addMember(0, makeContact(2, "Bob", 0));
  addMember(0, makeContact(3, "Amy", 1));
  addMember(0, makeContact(9, "", 0));  // no nickname: shown by its number
  start();
  list->tabs().setSelectedIndex(1);
  panorel::GroupView* view = list->groupView();
  testkit::pump();
  ASSERT_EQ(rowNames(view), (Names{"[header]", "Amy", "[header]", "9", "Bob"}));
  // Enter on a header row opens its menu, which folds it.
  view->setSelectedIndex(2);
  testkit::key(VK_RETURN);
  EXPECT_TRUE(view->section("OFFLINE")->collapsed);
  EXPECT_EQ(rowNames(view), (Names{"[header]", "Amy", "[header]"}));

  list->tabs().setSelectedIndex(0);
  EXPECT_EQ(KS_GetSettingLong("Panorel/Groups/OFFLINE/Collapsed", 0), 1);
  list->tabs().setSelectedIndex(1);
  view = list->groupView();
  testkit::pump();
  EXPECT_TRUE(view->section("OFFLINE")->collapsed);
  EXPECT_FALSE(view->section("ONLINE")->collapsed);
  EXPECT_EQ(rowNames(view), (Names{"[header]", "Amy", "[header]"}));
}

TEST_F(PanorelTest, ContactRowPaintsRolesAndWaitingContacts) {
  makeGroup(8, "Lounge", "Everyone is welcome");
  HContact* sam = makeContact(2, "Sam", 1);
  HContact* ada = makeContact(3, "Ada", 1);
  addMember(8, sam, panorel::kRoleSilenced);
  addMember(8, ada, panorel::kRoleAdmin);
  start();
  list->tabs().setSelectedIndex(2);
  panorel::GroupView* view = list->groupView();
  ASSERT_TRUE(view);
  testkit::pump();
  EXPECT_EQ(rowNames(view), (Names{"[header]", "<group chat>", "[header]", "Ada", "Sam"}));
  auto* chat = dynamic_cast<panorel::GroupChatRow*>(view->row(1));
  ASSERT_TRUE(chat);
  EXPECT_EQ(testkit::narrow(chat->secondLine()), "Everyone is welcome");

  panorel::ContactRow* row = rowOf(view, sam);
  EXPECT_EQ(row->roleSuffix(), u" (Silenced)");
  RECT r = view->rowRect(view->indexOf(row));
  POINT origin{0, 0};
  ClientToScreen(view->hwnd(), &origin);
  OffsetRect(&r, origin.x, origin.y);
  int h = r.bottom - r.top;
  EXPECT_EQ(h, fwk::screenDpi() / 4);
  // The icon's size steps at row heights 25 and 35.
  for (auto [height, icon] : {std::pair{24, 16}, {25, 22}, {34, 22}, {35, 32}, {60, 32}})
    EXPECT_EQ(panorel::ContactRow::iconSizeFor(height), icon) << height;
  RECT upper{r.left + h, r.top, r.right, r.top + h / 2};
  EXPECT_GT(testkit::countPixels(upper, RGB(0, 0, 0)), 5) << "the name in black";
  EXPECT_GT(testkit::countPixels(upper, RGB(192, 192, 192)), 5) << "the suffix in silver";
  RECT adaRow = view->rowRect(view->indexOf(rowOf(view, ada)));
  OffsetRect(&adaRow, origin.x, origin.y);
  RECT adaUpper{adaRow.left + h, adaRow.top, adaRow.right, adaRow.top + h / 2};
  EXPECT_GT(testkit::countPixels(adaUpper, RGB(192, 0, 0)), 5) << "\" (Admin)\" in red";
  testkit::saveScreenshot("panorel_group_tab");

  // In the own list a contact waiting to accept is grey with the plain icon.
  HContact* wren = makeContact(9, "Wren", 0, "", 1);
  addMember(0, wren);
  list->tabs().setSelectedIndex(1);
  view = list->groupView();
  testkit::pump();
  row = rowOf(view, wren);
  ASSERT_TRUE(row);
  EXPECT_EQ(testkit::narrow(row->secondLine()), "Waiting for Acceptance");
  EXPECT_EQ(row->nameColor(), RGB(124, 125, 127));
  r = view->rowRect(view->indexOf(row));
  OffsetRect(&r, origin.x, origin.y);
  RECT upperWren{r.left + h, r.top, r.right, r.top + h / 2};
  EXPECT_EQ(testkit::countPixels(upperWren, RGB(0, 0, 0)), 0) << "no black in a grey name";
  // The icon is the plug-in's "CONTACT" at the row's size.
  int size = panorel::ContactRow::iconSizeFor(h);
  HDC screen = GetDC(nullptr);
  fwk::MemoryDC expected(screen, h, h);
  ReleaseDC(nullptr, screen);
  RECT square{0, 0, h, h};
  HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
  FillRect(expected.dc(), &square, white);
  DeleteObject(white);
  DrawIconEx(expected.dc(), (h - size) / 2, (h - size) / 2, panorel::moduleIcon(u"CONTACT", size), size, size, 0,
             nullptr, DI_NORMAL);
  int centre = h / 2;
  int same = 0, inked = 0;
  for (int dy = -size / 2; dy < size / 2; ++dy)
    for (int dx = -size / 2; dx < size / 2; ++dx) {
      COLORREF want = GetPixel(expected.dc(), centre + dx, centre + dy);
      if (want == RGB(255, 255, 255)) continue;
      ++inked;
      same += testkit::pixel(r.left + centre + dx, r.top + centre + dy) == want ? 1 : 0;
    }
  ASSERT_GT(inked, 10);
  EXPECT_GT(same, inked * 9 / 10);
}

// The connection never gives the user's own contact a presence: the row
// follows the service's.
TEST_F(PanorelTest, TheUsersOwnRowInAGroupShowsTheUsersPresence) {
  makeGroup(8, "Lounge");
  HContact* me = makeContact(1, "Me", 0);
  HContact* sam = makeContact(2, "Sam", 0);
  addMember(8, me);
  addMember(8, sam);
  HService* primary = KS_GetPrimaryService();
  FakeService fake(primary, me);
  KS_ReleaseService(primary);
  setServiceState(1);
  start();
  list->tabs().setSelectedIndex(2);
  panorel::GroupView* view = list->groupView();
  ASSERT_TRUE(view);
  testkit::pump();
  EXPECT_EQ(rowNames(view), (Names{"[header]", "<group chat>", "[header]", "Me", "[header]", "Sam"}));
  EXPECT_EQ(testkit::narrow(rowOf(view, me)->secondLine()), "Online");
  EXPECT_EQ(rowOf(view, me)->nameColor(), RGB(0, 0, 0));
  EXPECT_EQ(testkit::narrow(rowOf(view, sam)->secondLine()), "Offline");

  // Away, then signed out: the row follows at once.
  setServiceState(2, 2);
  testkit::pump();
  EXPECT_EQ(testkit::narrow(rowOf(view, me)->secondLine()), "Away");
  setServiceState(0);
  testkit::pump();
  EXPECT_EQ(testkit::narrow(rowOf(view, me)->secondLine()), "Offline");
  EXPECT_EQ(rowNames(view), (Names{"[header]", "<group chat>", "[header]", "Me", "Sam"}));
}

TEST_F(PanorelTest, AdminActionsFollowBothRolesAndSendTheirUndoing) {
  makeGroup(8, "Lounge");
  HContact* me = makeContact(1, "Me", 1);
  HContact* sam = makeContact(2, "Sam", 1);
  HContact* ben = makeContact(3, "Ben", 1);
  HContact* mo = makeContact(4, "Mo", 1);
  addMember(8, me, panorel::kRoleAdmin);
  addMember(8, sam, panorel::kRoleSilenced);
  addMember(8, ben, panorel::kRoleBanned);
  addMember(8, mo, panorel::kRoleModerator);
  HService* primary = KS_GetPrimaryService();
  FakeService fake(primary, me);
  start();
  list->tabs().setSelectedIndex(2);
  panorel::GroupView* view = list->groupView();
  testkit::pump();

  // An administrator: "Silence" is checked for the silenced member and
  // choosing it again lifts it (role 0); undoing a ban sends 16.
  auto menu = items(rowOf(view, sam)->buildMenu());
  ASSERT_GE(menu.size(), 7u);
  EXPECT_EQ(menu[0].text, "Private Chat");
  EXPECT_EQ(menu[2].text, "Admin");
  EXPECT_TRUE(menu[4].checked);
  EXPECT_FALSE(menu[4].grey);
  EXPECT_TRUE(menu[2].grey) << "a silenced member is not promoted";
  rowOf(view, sam)->runCommand(panorel::kCmdSilence);
  rowOf(view, ben)->runCommand(panorel::kCmdBan);
  rowOf(view, mo)->runCommand(panorel::kCmdKick);
  EXPECT_EQ(fake.roles, (std::vector<int32_t>{0, 16, 16}));
  menu = items(rowOf(view, ben)->buildMenu());
  EXPECT_FALSE(menu[6].grey) << "the ban can be undone";
  EXPECT_TRUE(menu[6].checked);
  EXPECT_TRUE(menu[4].grey) << "a banned member cannot be silenced";

  // A moderator: no promotions at all, and nothing against administrators
  // and moderators.
  int32_t moderator = panorel::kRoleModerator;
  HGroup* lounge = KS_GetGroup(8);
  KS_SetGroupMember(lounge, me, &moderator);
  KS_ReleaseGroup(lounge);
  testkit::pump();
  menu = items(rowOf(view, sam)->buildMenu());
  EXPECT_TRUE(menu[2].grey);
  EXPECT_TRUE(menu[3].grey);
  EXPECT_FALSE(menu[4].grey);
  EXPECT_FALSE(menu[5].grey);
  menu = items(rowOf(view, mo)->buildMenu());
  for (size_t i = 2; i <= 6; ++i) EXPECT_TRUE(menu[i].grey) << menu[i].text;

  // "Add to Contacts" only for someone not listed, while connected.
  fake.allowAdd(primary);
  menu = items(rowOf(view, sam)->buildMenu());
  EXPECT_EQ(menu.size(), 9u) << "signed out: no add";
  setServiceState(1);
  menu = items(rowOf(view, sam)->buildMenu());
  ASSERT_EQ(menu.size(), 11u);
  EXPECT_EQ(menu[8].text, "Add to Contacts");
  rowOf(view, sam)->runCommand(panorel::kCmdAddToContacts);
  EXPECT_EQ(fake.added, (std::vector<std::string>{"2"}));
  addMember(0, sam);
  EXPECT_EQ(items(rowOf(view, sam)->buildMenu()).size(), 9u);

  // The group goes while a member's menu is open: the view goes with it,
  // and the choice made afterwards touches nothing of it.
  view->setSelectedIndex(view->indexOf(rowOf(view, ben)));
  SetFocus(view->hwnd());
  testkit::ModalAnswers ban({[](HWND) {
                              KS_DeleteGroup(8);
                              testkit::press(VK_DOWN);  // "Ban", the one action left to a moderator
                              testkit::press(VK_RETURN);
                            }},
                            testkit::Modal::Menu);
  size_t sent = fake.roles.size();
  testkit::key(VK_RETURN);
  EXPECT_EQ(ban.seen(), 1);
  EXPECT_EQ(fake.roles.size(), sent) << "no admin action for a group that is gone";
  ASSERT_TRUE(list->groupView());
  EXPECT_EQ(list->groupView()->groupId(), 0);
  EXPECT_EQ(list->tabs().tabCount(), 2);
  KS_ReleaseService(primary);
}

TEST_F(PanorelTest, OwnListMenuDeletesOnlyWhileConnectedAndAfterYes) {
  HContact* bob = makeContact(2, "Bob", 1);
  addMember(0, bob);
  HService* primary = KS_GetPrimaryService();
  FakeService fake(primary);
  fake.allowDelete(primary);
  start();
  list->tabs().setSelectedIndex(1);
  panorel::GroupView* view = list->groupView();
  testkit::pump();
  auto menu = items(rowOf(view, bob)->buildMenu());
  ASSERT_EQ(menu.size(), 5u);
  EXPECT_EQ(menu[0].text, "Chat");
  EXPECT_EQ(menu[2].text, "Delete");
  EXPECT_TRUE(menu[2].grey) << "signed out";
  EXPECT_EQ(menu[4].text, "Properties");
  setServiceState(1);
  EXPECT_FALSE(items(rowOf(view, bob)->buildMenu())[2].grey);

  boxes->setAnswer(IDNO);
  rowOf(view, bob)->runCommand(panorel::kCmdDelete);
  EXPECT_TRUE(fake.deleted.empty());
  ASSERT_EQ(boxes->count(), 1u);
  EXPECT_EQ(boxes->last().caption, "Delete Contact");
  EXPECT_EQ(boxes->last().text, "Are you sure you wish to remove this contact from your contact list?");
  boxes->setAnswer(IDYES);
  rowOf(view, bob)->runCommand(panorel::kCmdDelete);
  EXPECT_EQ(fake.deleted, (std::vector<HContact*>{bob}));

  // Chat by the menu raises the chat event; Properties fills the dialog.
  void* chat = nullptr;
  auto watch = olvaro::subscribeEvent("messaging.chat.contact", [](void* user, void* arg) -> uint32_t {
    *static_cast<void**>(user) = arg;
    return 0;
  }, &chat);
  testkit::ModalAnswers first({testkit::pressing({VK_RETURN})}, testkit::Modal::Menu);  // "Chat"
  SetFocus(view->hwnd());
  view->setSelectedIndex(view->indexOf(rowOf(view, bob)));
  testkit::key(VK_RETURN);
  EXPECT_EQ(chat, bob);
  rowOf(view, bob)->runCommand(panorel::kCmdProperties);
  auto* properties = list->dialogs().propertiesIfMade();
  ASSERT_TRUE(properties && properties->isShown());
  EXPECT_EQ(testkit::windowText(properties->nicknameField()), "Bob");
  EXPECT_EQ(testkit::windowText(properties->statusField()), "None");
  EXPECT_EQ(testkit::windowText(properties->userIdField()), "Olvaro: 2");
  testkit::saveScreenshot("panorel_contact_properties");
  KS_ReleaseService(primary);
}

TEST_F(PanorelTest, GroupChatRowLeavesOnlyWhileLeavingIsOffered) {
  makeGroup(8, "Lounge");
  start();
  list->tabs().setSelectedIndex(2);
  panorel::GroupView* view = list->groupView();
  testkit::pump();
  auto* chat = dynamic_cast<panorel::GroupChatRow*>(view->row(1));
  ASSERT_TRUE(chat);
  EXPECT_EQ(testkit::narrow(chat->secondLine()), "Group Chat");
  auto menu = items(chat->buildMenu());
  ASSERT_EQ(menu.size(), 3u);
  EXPECT_EQ(menu[0].text, "Group Chat");
  EXPECT_EQ(menu[2].text, "Leave Group");
  EXPECT_TRUE(menu[2].grey);
  std::vector<void*> left;
  olvaro::FunctionRegistration unsub("orvaloGroupUnsub", [](void* user, void* arg) -> uint32_t {
    static_cast<std::vector<void*>*>(user)->push_back(arg);
    return 1;
  }, &left);
  EXPECT_FALSE(items(chat->buildMenu())[2].grey);
  chat->runCommand(panorel::kCmdDelete);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(KS_GetGroupID(static_cast<HGroup*>(left[0])), 8);
  HContact* bob = makeContact(2, "Bob", 1);
  HGroup* lounge = KS_GetGroup(8);
  unread(lounge, true, bob);
  KS_ReleaseGroup(lounge);
  EXPECT_EQ(testkit::narrow(chat->secondLine()), "1 New Message");
}

}  // namespace
}  // namespace panoreltest

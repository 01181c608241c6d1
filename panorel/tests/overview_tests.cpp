// The overview: the four functions other plug-ins call, the unread
// messages, the status header, the tabs in both modes and the host menu.
#include "panorel_fixture.h"
#include "testkit/modal.h"

namespace panoreltest {

namespace {

using olvaro::OverviewItemInfo;
using olvaro::OverviewSectionInfo;
using Names = std::vector<std::string>;

void* makeSection(const char* key, const char* title, int atFront) {
  OverviewSectionInfo info{sizeof info, key, title, atFront, nullptr};
  return KS_CallFunction("Overview/CreateSection", &info) ? info.section : nullptr;
}

void* addItem(void* section, const char* title, const char* text) {
  OverviewItemInfo info{};
  info.size = sizeof info;
  info.section = section;
  info.title = title;
  info.text = text;
  return KS_CallFunction("Overview/AddStaticItem", &info) ? info.item : nullptr;
}

TEST_F(PanorelTest, OverviewFunctionsFollowTheirResultRules) {
  // Before the overview exists nothing answers.
  EXPECT_EQ(makeSection("UPDATES", "Automatic Updates", 0), nullptr);
  int dummy = 0;
  EXPECT_EQ(KS_CallFunction("Overview/DeleteItem", &dummy), 0u);

  start();
  panorel::OverviewView* view = list->overview();
  ASSERT_TRUE(view);
  void* updates = makeSection("UPDATES", "Automatic Updates", 0);
  ASSERT_TRUE(updates);
  // A section without items shows no header.
  EXPECT_EQ(rowNames(view), (Names{"[header]", "Not Connected", "[header]", "No Unread Messages"}));

  // The same key gives the same section; the title stays.
  void* again = makeSection("UPDATES", "Something Else", 1);
  ASSERT_TRUE(again);
  EXPECT_EQ(view->sections().back()->title, u"Automatic Updates");
  void* item = addItem(again, "Checking", "Connecting to server...");
  ASSERT_TRUE(item);
  EXPECT_EQ(rowNames(view).back(), "Checking");
  EXPECT_EQ(view->sections().back()->items.size(), 1u);

  // A section put at the front is listed above "SERVICES".
  void* front = makeSection("AWAITING", "Wanting to add you...", 1);
  addItem(front, "Bob", "wants to add you");
  EXPECT_EQ(view->sections().front()->key, "AWAITING");
  EXPECT_EQ(rowNames(view)[1], "Bob");

  // Update: a null field is left alone.
  OverviewItemInfo update{};
  update.size = sizeof update;
  update.item = item;
  update.text = "Downloading 1/2 KB (50 %)";
  EXPECT_EQ(KS_CallFunction("Overview/UpdateStaticItem", &update), 1u);
  auto* row = static_cast<fwk::TwoLineRow*>(static_cast<fwk::Row*>(item));
  EXPECT_EQ(row->title(), u"Checking");
  EXPECT_EQ(row->text(), u"Downloading 1/2 KB (50 %)");

  // Adding needs a section this view gave out.
  EXPECT_EQ(addItem(nullptr, "x", "y"), nullptr);
  EXPECT_EQ(addItem(&dummy, "x", "y"), nullptr);

  // Only items added by other plug-ins can be deleted.
  EXPECT_EQ(KS_CallFunction("Overview/DeleteItem", view->statusHeader()), 0u);
  EXPECT_EQ(KS_CallFunction("Overview/DeleteItem", view->section("MESSAGES")->items.front().get()), 0u);
  EXPECT_GE(view->indexOf(view->statusHeader()), 0);

  // Deleting twice: the second time the item is no longer listed.
  EXPECT_EQ(KS_CallFunction("Overview/DeleteItem", item), 1u);
  EXPECT_EQ(KS_CallFunction("Overview/DeleteItem", item), 0u);
  EXPECT_EQ(KS_CallFunction("Overview/UpdateStaticItem", &update), 0u);
  Names names = rowNames(view);
  EXPECT_EQ(std::count(names.begin(), names.end(), "Checking"), 0);

  // A static item's menu is its owner's, asked for by event.
  struct Seen {
    void* item = nullptr;
    int x = 0, y = 0;
  } seen;
  auto watch = olvaro::subscribeEvent("Overview/Item/OnContextMenu", [](void* user, void* arg) -> uint32_t {
    auto* info = static_cast<olvaro::OverviewContextMenuInfo*>(arg);
    *static_cast<Seen*>(user) = Seen{info->item, info->x, info->y};
    return 1;
  }, &seen);
  fwk::Row* bob = view->row(1);
  bob->contextMenu(40, 50);
  EXPECT_EQ(seen.item, bob);
  EXPECT_EQ(seen.x, 40);
  EXPECT_EQ(seen.y, 50);

  list.reset();
  EXPECT_EQ(makeSection("LATE", "Late", 0), nullptr);
}

TEST_F(PanorelTest, MessagesSectionCountsUnreadContactsAndGroups) {
  start();
  panorel::OverviewView* view = list->overview();
  panorel::OverviewSection* messages = view->section("MESSAGES");
  ASSERT_EQ(messages->items.size(), 1u);
  EXPECT_TRUE(dynamic_cast<panorel::NoUnreadRow*>(messages->items[0].get()));

  HContact* bob = makeContact(11, "Bob", 1);
  unread(bob, false, bob);
  ASSERT_EQ(messages->items.size(), 1u);
  auto* row = dynamic_cast<panorel::UnreadContactRow*>(messages->items[0].get());
  ASSERT_TRUE(row);
  EXPECT_EQ(row->title(), u"Bob");
  EXPECT_EQ(row->text(), u"1 Private Message");
  // Every change of the unread total makes the section afresh.
  unread(bob, false, bob);
  ASSERT_EQ(messages->items.size(), 1u);
  row = dynamic_cast<panorel::UnreadContactRow*>(messages->items[0].get());
  ASSERT_TRUE(row);
  EXPECT_EQ(row->text(), u"2 Private Messages");

  makeGroup(7, "Lounge");
  HGroup* lounge = KS_GetGroup(7);
  unread(lounge, true, bob);
  KS_ReleaseGroup(lounge);
  ASSERT_EQ(messages->items.size(), 2u);
  auto* group = dynamic_cast<panorel::UnreadGroupRow*>(messages->items[1].get());
  ASSERT_TRUE(group);
  EXPECT_EQ(group->title(), u"Group: Lounge");
  EXPECT_EQ(group->text(), u"1 Group Message");

  // Activating raises the chat event with the handle.
  void* chat = nullptr;
  auto watch = olvaro::subscribeEvent("messaging.chat.group", [](void* user, void* arg) -> uint32_t {
    *static_cast<void**>(user) = arg;
    return 0;
  }, &chat);
  group->activate();
  EXPECT_EQ(chat, group->group());
  testkit::pump();
  testkit::saveScreenshot("panorel_overview_unread");

  // Seventy contacts with messages show sixty-four.
  for (int i = 0; i < 70; ++i) {
    HContact* c = makeContact(100 + i, "c" + std::to_string(i), 1);
    unread(c, false, c);
  }
  size_t contacts = 0;
  for (auto& item : messages->items) contacts += dynamic_cast<panorel::UnreadContactRow*>(item.get()) ? 1 : 0;
  EXPECT_EQ(contacts, 64u);
  EXPECT_EQ(messages->items.size(), 65u);
}

// What differs from the background in an area over the list's vertical
// gradient: each line is compared with its own right-most pixel.
RECT iconBox(const RECT& area) {
  RECT box{area.right, area.bottom, area.left, area.top};
  for (int y = area.top; y < area.bottom; ++y) {
    COLORREF background = testkit::pixel(area.right - 1, y);
    for (int x = area.left; x < area.right; ++x)
      if (testkit::pixel(x, y) != background) {
        box.left = std::min<LONG>(box.left, x);
        box.right = std::max<LONG>(box.right, x + 1);
        box.top = std::min<LONG>(box.top, y);
        box.bottom = std::max<LONG>(box.bottom, y + 1);
      }
  }
  if (box.left >= box.right) return RECT{0, 0, 0, 0};
  return box;
}

std::vector<COLORREF> pixels(const RECT& r) {
  std::vector<COLORREF> out;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) out.push_back(testkit::pixel(x, y));
  return out;
}

TEST_F(PanorelTest, StatusHeaderFollowsTheSignInState) {
  start();
  panorel::OverviewView* view = list->overview();
  panorel::StatusHeaderRow* header = view->statusHeader();
  int index = view->indexOf(header);
  ASSERT_GE(index, 0);
  RECT r = view->rowRect(index);
  POINT origin{0, 0};
  ClientToScreen(view->hwnd(), &origin);
  OffsetRect(&r, origin.x, origin.y);

  testkit::pump();
  EXPECT_EQ(header->title(), u"Not Connected");
  EXPECT_EQ(header->text(), u"Tap here to sign in.");
  int h = r.bottom - r.top;
  // Inside the selection's one-pixel border.
  RECT square{r.left + 2, r.top + 2, r.left + h - 2, r.bottom - 2};
  RECT ink = iconBox(square);
  ASSERT_FALSE(IsRectEmpty(&ink)) << "the icon is drawn in the square at the left";
  EXPECT_LE(ink.right - ink.left, 16);
  EXPECT_LE(ink.bottom - ink.top, 16);
  EXPECT_NEAR((ink.left + ink.right) / 2, r.left + h / 2, 2) << "centred";
  std::vector<COLORREF> signedOut = pixels(square);
  RECT title{r.left + h, r.top, r.right, (r.top + r.bottom) / 2};
  EXPECT_GT(testkit::countPixels(title, RGB(0, 0, 0)), 10) << "title in black";
  RECT second{r.left + h, (r.top + r.bottom) / 2, r.right, r.bottom};
  EXPECT_FALSE(IsRectEmpty(&(ink = testkit::inkBox(second, testkit::pixel(r.right - 2, r.bottom - 3)))));

  setState(40);
  testkit::pump();
  EXPECT_EQ(header->title(), u"Signing In");
  EXPECT_EQ(header->text(), u"You are being connected.");
  std::vector<COLORREF> signingIn = pixels(square);
  EXPECT_NE(signingIn, signedOut);

  HService* primary = KS_GetPrimaryService();
  ServiceData d{};
  d.size = sizeof d;
  d.mask = SERVICE_DISPLAYNAME | SERVICE_USERNAME | SERVICE_SIGNINREQUESTED;
  d.displayName = "Alice";
  d.userName = "alice@olvaro.demo";
  d.signInRequested = 2;
  KS_SetServiceData(primary, &d);
  setState(100);
  testkit::pump();
  EXPECT_EQ(header->title(), u"Alice - Away");
  EXPECT_EQ(header->text(), u"alice@olvaro.demo");
  EXPECT_NE(pixels(square), signedOut) << "the coloured icon replaces the grey one";
  d.mask = SERVICE_SIGNINREQUESTED;
  d.signInRequested = 3;
  KS_SetServiceData(primary, &d);
  header->update();
  EXPECT_EQ(header->title(), u"Alice");
  testkit::saveScreenshot("panorel_overview_signed_in");

  // Activating signs out while signed in, else in.
  std::vector<int32_t> asked;
  olvaro::FunctionRegistration presence("Connection/SetPresenceStatus", [](void* user, void* arg) -> uint32_t {
    static_cast<std::vector<int32_t>*>(user)->push_back(*static_cast<int32_t*>(arg));
    return 1;
  }, &asked);
  header->activate();
  setState(0);
  header->activate();
  EXPECT_EQ(asked, (std::vector<int32_t>{0, 1}));
  KS_ReleaseService(primary);
}

TEST_F(PanorelTest, DefaultTabsGainTheGroupTabWithTheFirstGroup) {
  start();
  fwk::TabStrip& tabs = list->tabs();
  EXPECT_EQ(tabs.tabCount(), 2);
  EXPECT_EQ(tabs.tab(1)->text(), u"Contacts");
  GroupData d{};
  d.size = sizeof d;
  HGroup* own = KS_GetGroup(0);
  KS_GetGroupData(own, &d);
  EXPECT_STREQ(d.name, "Contacts");
  KS_ReleaseGroup(own);

  makeGroup(9, "Zebras");
  ASSERT_EQ(tabs.tabCount(), 3);
  EXPECT_EQ(tabs.tab(2)->text(), u"Group: Zebras");
  // A later group with a lower id leaves the chosen one on the tab.
  makeGroup(4, "Lounge");
  ASSERT_EQ(tabs.tabCount(), 3);
  EXPECT_EQ(tabs.tab(2)->text(), u"Group: Zebras");

  // Right on the group tab walks the groups in id order and wraps.
  tabs.setSelectedIndex(2);
  ASSERT_TRUE(list->groupView());
  EXPECT_EQ(list->groupView()->groupId(), 9);
  SetFocus(tabs.hwnd());
  testkit::key(VK_RIGHT);
  EXPECT_EQ(list->selectedGroup(), 4);
  EXPECT_EQ(tabs.tab(2)->text(), u"Group: Lounge");
  EXPECT_EQ(list->groupView()->groupId(), 4);
  SetFocus(tabs.hwnd());
  testkit::key(VK_RIGHT);
  EXPECT_EQ(list->selectedGroup(), 9);
  SetFocus(tabs.hwnd());
  testkit::key(VK_RIGHT);
  EXPECT_EQ(list->selectedGroup(), 4);

  // Enter opens the groups (the first item lit); Down picks the next.
  testkit::ModalAnswers next({testkit::pressing({VK_DOWN, VK_RETURN})}, testkit::Modal::Menu);
  SetFocus(tabs.hwnd());
  testkit::key(VK_RETURN);
  EXPECT_EQ(next.seen(), 1) << "the groups' menu";
  EXPECT_EQ(list->selectedGroup(), 9);
  EXPECT_EQ(list->groupView()->groupId(), 9);

  // A tap on the triangle end of the tab lists the groups too.
  RECT tab{};
  ASSERT_TRUE(tabs.tabRect(2, &tab));
  POINT triangle{tab.right - 3, (tab.top + tab.bottom) / 2};
  ClientToScreen(tabs.hwnd(), &triangle);
  {
    testkit::ModalAnswers lounge({testkit::pressing({VK_RETURN})}, testkit::Modal::Menu);  // the first item
    testkit::tap(triangle.x, triangle.y);
    EXPECT_EQ(lounge.seen(), 1) << "the groups' menu";
  }
  EXPECT_EQ(list->selectedGroup(), 4);
  // A tap elsewhere on the tab only selects it.
  {
    testkit::ModalAnswers none({}, testkit::Modal::Menu);
    testkit::tap(triangle.x - (tab.bottom - tab.top) - 4, triangle.y);
    EXPECT_EQ(none.seen(), 0) << "no menu";
  }

  // Left from a member view goes to the tab strip (and on to the tab before).
  SetFocus(list->groupView()->hwnd());
  testkit::key(VK_LEFT);
  EXPECT_EQ(tabs.selectedIndex(), 1);
  EXPECT_EQ(list->groupView()->groupId(), 0);
  testkit::saveScreenshot("panorel_contacts_tab_empty");
}

TEST_F(PanorelTest, TabPerGroupModeListsEveryGroup) {
  KS_SetSettingLong("Panorel/TabPerGroup", 1);
  makeGroup(12, "Beta");
  makeGroup(3, "Alpha");
  start();
  fwk::TabStrip& tabs = list->tabs();
  ASSERT_EQ(tabs.tabCount(), 4);
  EXPECT_EQ(tabs.tab(1)->text(), u"Contacts");
  EXPECT_EQ(tabs.tab(2)->text(), u"Alpha");
  EXPECT_EQ(tabs.tab(3)->text(), u"Beta");
  tabs.setSelectedIndex(3);
  EXPECT_EQ(list->groupView()->groupId(), 12);
  // A new group keeps the shown one selected, and the tabs of the groups
  // that stay are kept as they were measured: one change costs one tab.
  fwk::TabItem* alpha = tabs.tab(2);
  fwk::TabItem* beta = tabs.tab(3);
  makeGroup(5, "Gamma");
  ASSERT_EQ(tabs.tabCount(), 5);
  EXPECT_EQ(tabs.selectedIndex(), 4);
  EXPECT_EQ(list->groupView()->groupId(), 12);
  EXPECT_EQ(tabs.tab(2), alpha);
  EXPECT_EQ(tabs.tab(4), beta);
}

TEST_F(PanorelTest, GroupChangesKeepTheShownViewWithItsScrollAndSelection) {
  for (int i = 0; i < 40; ++i) addMember(0, makeContact(100 + i, "c" + std::to_string(i), 1));
  makeGroup(4, "Lounge");
  start();
  list->tabs().setSelectedIndex(1);
  panorel::GroupView* view = list->groupView();
  testkit::pump();
  view->setSelectedIndex(view->rowCount() - 1);
  int selected = view->selectedIndex(), scrolled = view->scrollPosition();
  ASSERT_GT(scrolled, 0);
  makeGroup(9, "Zebras");
  KS_DeleteGroup(4);
  testkit::pump();
  EXPECT_EQ(list->tabs().tab(2)->text(), u"Group: Zebras");
  EXPECT_EQ(list->tabs().selectedIndex(), 1);
  ASSERT_TRUE(list->groupView());
  EXPECT_EQ(list->groupView()->selectedIndex(), selected);
  EXPECT_EQ(list->groupView()->scrollPosition(), scrolled);
}

bool groupExists(int64_t id) {
  HGroup* g = KS_FindGroup(id);
  if (g) KS_ReleaseGroup(g);
  return g != nullptr;
}

TEST_F(PanorelTest, DeletedGroupsStayGone) {
  // A tab per group: the group deleted has its tab before the shown one.
  KS_SetSettingLong("Panorel/TabPerGroup", 1);
  makeGroup(3, "Alpha");
  makeGroup(5, "Gamma");
  makeGroup(12, "Beta");
  start();
  list->tabs().setSelectedIndex(4);
  ASSERT_EQ(list->groupView()->groupId(), 12);
  KS_DeleteGroup(3);
  EXPECT_FALSE(groupExists(3));
  EXPECT_EQ(list->tabs().tabCount(), 4);
  EXPECT_EQ(list->groupView()->groupId(), 12);

  // The default tabs: a group deleted while the list of groups is open,
  // then chosen, is not selected.
  list.reset();
  KS_SetSettingLong("Panorel/TabPerGroup", 0);
  start();
  list->tabs().setSelectedIndex(2);
  ASSERT_EQ(list->selectedGroup(), 5);
  testkit::ModalAnswers gone({[](HWND) {
                               KS_DeleteGroup(12);
                               testkit::press(VK_DOWN);  // "Beta"
                               testkit::press(VK_RETURN);
                             }},
                             testkit::Modal::Menu);
  SetFocus(list->tabs().hwnd());
  testkit::key(VK_RETURN);
  EXPECT_EQ(gone.seen(), 1);
  EXPECT_FALSE(groupExists(12));
  EXPECT_EQ(list->selectedGroup(), 5);
  EXPECT_EQ(list->tabs().tab(2)->text(), u"Group: Gamma");
}

TEST_F(PanorelTest, HostMenuGetsContactsAndGroupsGreyedWhileSignedOut) {
  start();
  HMENU menu = host->menu();
  ASSERT_TRUE(menu);
  ASSERT_EQ(GetMenuItemCount(menu), 8);
  EXPECT_EQ(GetMenuState(menu, 1, MF_BYPOSITION) & MF_SEPARATOR, UINT(MF_SEPARATOR));
  EXPECT_EQ(GetSubMenu(menu, 2), list->contactsMenu());
  EXPECT_EQ(GetSubMenu(menu, 3), list->groupsMenu());
  EXPECT_EQ(GetMenuState(menu, 4, MF_BYPOSITION) & MF_SEPARATOR, UINT(MF_SEPARATOR));
  UINT ids[] = {list->addContactCommand(), list->joinGroupCommand(), list->createGroupCommand()};
  EXPECT_GE(ids[0], 32768u);
  EXPECT_NE(ids[0], ids[1]);
  EXPECT_NE(ids[1], ids[2]);
  EXPECT_EQ(GetMenuState(list->groupsMenu(), ids[1], MF_BYCOMMAND) & MF_GRAYED, UINT(MF_GRAYED));
  EXPECT_EQ(GetMenuState(list->groupsMenu(), ids[2], MF_BYCOMMAND) & MF_GRAYED, UINT(MF_GRAYED));
  EXPECT_EQ(GetMenuState(list->contactsMenu(), ids[0], MF_BYCOMMAND) & MF_GRAYED, 0u);

  // Greyed commands do nothing; once signed in they open their dialogs.
  KS_EventRaise("core.window.OnCommand", reinterpret_cast<void*>(uintptr_t(ids[2])));
  EXPECT_FALSE(list->dialogs().createGroupIfMade());
  setState(100);
  EXPECT_EQ(GetMenuState(list->groupsMenu(), ids[2], MF_BYCOMMAND) & MF_GRAYED, 0u);
  KS_EventRaise("core.window.OnCommand", reinterpret_cast<void*>(uintptr_t(ids[2])));
  ASSERT_TRUE(list->dialogs().createGroupIfMade());
  EXPECT_TRUE(list->dialogs().createGroupIfMade()->isShown());
  KS_EventRaise("core.window.OnCommand", reinterpret_cast<void*>(uintptr_t(ids[0])));
  ASSERT_TRUE(list->dialogs().addContactIfMade());
  EXPECT_TRUE(list->dialogs().addContactIfMade()->isShown());

  // Stopping takes the pop-ups and their separators out again.
  list.reset();
  EXPECT_EQ(GetMenuItemCount(menu), 4);
  EXPECT_EQ(GetMenuItemID(menu, 0), 40023u);
}

}  // namespace
}  // namespace panoreltest

#include "contact_list.h"

#include <algorithm>
#include <unordered_map>

#include "framework/box_layout.h"
#include "framework/fonts.h"
#include "framework/paint.h"
#include "olvaro/connection_state.h"
#include "platform/bitmap.h"
#include "platform/gdi.h"
#include "platform/menu.h"
#include "platform/phoneshell.h"
#include "texts.h"

namespace panorel {

namespace {

// Only a group still listed is looked up: asking the hub for any other id
// would make it anew, nameless. The own list (0) is always there.
HGroup* listedGroup(int64_t id) { return id == 0 ? KS_GetGroup(0) : KS_FindGroup(id); }

std::u16string groupName(int64_t id) {
  HGroup* g = listedGroup(id);
  if (!g) return std::u16string();
  GroupData d{};
  d.size = sizeof d;
  KS_GetGroupData(g, &d);
  std::u16string name = widen(d.name);
  KS_ReleaseGroup(g);
  return name;
}

bool listed(const std::vector<int64_t>& ids, int64_t id) { return std::binary_search(ids.begin(), ids.end(), id); }

}  // namespace

// ---- TabBar --------------------------------------------------------------

TabBar::TabBar(HWND parent, ContactList* owner)
    : fwk::Control(nullptr, u"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 10, 10, parent, nullptr), m_owner(owner) {
  m_strip = std::make_unique<fwk::TabStrip>(hwnd(), WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 10, 10);
}

void TabBar::postChooseGroup() { PostMessage(hwnd(), kChooseGroup, 0, 0); }

LRESULT TabBar::windowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == kChooseGroup) {
    m_owner->chooseGroup();
    return 0;
  }
  if (msg == WM_NOTIFY) {
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    if (header && header->hwndFrom == m_strip->hwnd() && header->code == TCN_SELCHANGE)
      m_owner->showTab(m_strip->selectedIndex());
    return 0;
  }
  return fwk::Control::windowProc(msg, wParam, lParam);
}

LRESULT TabBar::onSize(UINT, int width, int height) {
  if (m_strip) MoveWindow(m_strip->hwnd(), 0, 0, width, height, TRUE);
  return 0;
}

LRESULT TabBar::onSetFocus(HWND) {
  SetFocus(m_strip->hwnd());
  return 0;
}

// Up and Down from the strip move on among the layout's controls.
LRESULT TabBar::onNextDlgCtl(bool previous) {
  if (HWND parent = GetParent(hwnd())) SendMessage(parent, WM_NEXTDLGCTL, previous ? 1 : 0, 0);
  return 0;
}

// ---- GroupTab ------------------------------------------------------------

GroupTab::GroupTab(ContactList* owner, const std::u16string& title, int height)
    : fwk::TabItem(title), m_owner(owner), m_height(height) {
  // Room for the triangle: the right part, as wide as the tab is high.
  addIcon(nullptr, std::max(2, height * 2 / 3));
}

void GroupTab::paintParts(HDC dc, const RECT& rect) const {
  fwk::TabItem::paintParts(dc, rect);
  int h = rect.bottom - rect.top;
  int side = std::max(4, h / 3);
  int cx = rect.right - h / 2, cy = (rect.top + rect.bottom) / 2;
  POINT points[3] = {{cx - side / 2, cy - side / 4}, {cx + side / 2, cy - side / 4}, {cx, cy + side / 4 + 1}};
  HBRUSH brush = CreateSolidBrush(RGB(128, 128, 128));
  HPEN pen = CreatePen(PS_SOLID, 1, RGB(128, 128, 128));
  {
    fwk::SavedDC saved(dc);
    SelectObject(dc, brush);
    SelectObject(dc, pen);
    Polygon(dc, points, 3);
  }
  DeleteObject(brush);
  DeleteObject(pen);
}

bool GroupTab::onKey(UINT key) {
  if (key == VK_RIGHT) {
    m_owner->selectNextGroup();
    return true;
  }
  if (key == VK_RETURN) {
    m_owner->tabBar().postChooseGroup();
    return true;
  }
  return false;
}

void GroupTab::onStylusDown(bool, int x, int) {
  RECT r{};
  fwk::TabStrip& strip = m_owner->tabs();
  if (!strip.tabRect(strip.selectedIndex(), &r)) return;
  int width = r.right - r.left, height = r.bottom - r.top;
  if (x >= width - height) m_owner->tabBar().postChooseGroup();
}

// ---- ContactList ---------------------------------------------------------

ContactList::ContactList()
    : m_owner(mainWindow()),
      m_layout(static_cast<fwk::BoxLayout*>(KS_GetVariantPtr("core.window.layout"))),
      m_tabPerGroup(KS_GetSettingLong("Panorel/TabPerGroup", 0) != 0) {
  HGroup* contacts = KS_GetGroup(0);
  std::string name = narrow(text(kStrContacts));
  GroupData d{};
  d.size = sizeof d;
  d.mask = GROUP_NAME;
  d.name = name.c_str();
  KS_SetGroupData(contacts, &d);
  KS_ReleaseGroup(contacts);

  HWND parent = m_layout ? m_layout->hwnd() : m_owner;
  m_tabBar = std::make_unique<TabBar>(parent, this);
  rebuildTabs();
  tabs().setSelectedIndex(0, false);
  showTab(0);

  addMenus();
  m_commandWatch = olvaro::subscribeEvent<&ContactList::onCommand>("core.window.OnCommand", this);
  m_stateWatch = olvaro::subscribeVariant<&ContactList::updateMenus>(olvaro::kConnectionStateVariant, this);
  m_groupsWatch = olvaro::subscribeEvent<&ContactList::rebuildTabs>("groups.changed", this);
  // Plug-ins started after this one put their bars in the layout too; the
  // list and its tabs stay at the bottom.
  m_startupWatch = olvaro::subscribeEvent<&ContactList::place>("core.startup", this);
  updateMenus();
  if (m_overview) SetFocus(m_overview->hwnd());
}

ContactList::~ContactList() {
  m_startupWatch.reset();
  m_groupsWatch.reset();
  m_stateWatch.reset();
  m_commandWatch.reset();
  removeMenus();
  if (m_layout) {
    if (m_shown) m_layout->remove(m_shown->hwnd());
    m_layout->remove(m_tabBar->hwnd());
  }
  m_shown = nullptr;
  m_groupView.reset();
  m_overview.reset();
  m_tabBar.reset();
}

int ContactList::stripHeight() const { return fwk::screenDpi() * 21 / 96; }

std::vector<int64_t> ContactList::groupIds() {
  std::vector<int64_t> ids;
  int64_t id = 0;
  for (int more = KS_EnumGroupsBegin(&id); more; id = KS_EnumGroupsNext(id), more = id != 0)
    if (id != 0) ids.push_back(id);
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  return ids;
}

void ContactList::rebuildTabs() {
  fwk::TabStrip& strip = tabs();
  // What is shown now, to select it again.
  bool onGroupTab = !m_tabPerGroup && strip.selectedIndex() == 2;
  int64_t shownGroup = m_groupView && !m_overviewShown ? m_groupView->groupId() : -1;
  bool hadFocus = m_shown && GetFocus() == m_shown->hwnd();

  // Made whole, then put in at once: the strip tells of no selection on
  // the way, so no view is made or dropped meanwhile. A tab whose group
  // and title stay is kept, already measured.
  std::vector<std::unique_ptr<fwk::TabItem>> old = strip.takeTabs();
  std::unordered_map<int64_t, size_t> oldTab;
  oldTab.reserve(m_tabGroups.size());
  for (size_t i = 0; i < m_tabGroups.size(); ++i) oldTab.emplace(m_tabGroups[i], i + 1);
  auto reuse = [&](int64_t id, const std::u16string& title) -> std::unique_ptr<fwk::TabItem> {
    auto at = oldTab.find(id);
    if (at == oldTab.end() || at->second >= old.size() || !old[at->second] || old[at->second]->text() != title)
      return nullptr;
    return std::move(old[at->second]);
  };
  std::vector<std::unique_ptr<fwk::TabItem>> items;
  m_tabGroups.clear();
  int h = stripHeight();
  int overviewIcon = m_tabPerGroup && h <= 15 ? 12 : 16;
  if (!old.empty() && old[0])
    items.push_back(std::move(old[0]));
  else
    items.push_back(
        std::make_unique<fwk::TabItem>(moduleIcon(MAKEINTRESOURCE(kOverviewIcon), overviewIcon), overviewIcon));
  std::vector<int64_t> ids = groupIds();
  if (!m_tabPerGroup) {
    if (ids.empty())
      m_selectedGroup = 0;
    else if (!listed(ids, m_selectedGroup))
      m_selectedGroup = ids.front();
    ids.assign(m_selectedGroup ? 1 : 0, m_selectedGroup);
  }
  ids.insert(ids.begin(), 0);
  items.reserve(ids.size() + 1);
  m_tabGroups.reserve(ids.size());
  for (int64_t id : ids) {
    bool groupTab = !m_tabPerGroup && id != 0;
    std::u16string title = groupTab ? text(kStrGroup) + u": " + groupName(id) : groupName(id);
    std::unique_ptr<fwk::TabItem> item = reuse(id, title);
    if (!item && groupTab) item = std::make_unique<GroupTab>(this, title, h);
    if (!item) item = std::make_unique<fwk::TabItem>(title);
    items.push_back(std::move(item));
    m_tabGroups.push_back(id);
  }

  int select = 0;
  if (!m_overviewShown) {
    auto at = std::find(m_tabGroups.begin(), m_tabGroups.end(), shownGroup);
    if (onGroupTab && m_tabGroups.size() > 1)
      select = 2;
    else if (at != m_tabGroups.end())
      select = int(at - m_tabGroups.begin()) + 1;
    else
      select = 1;
  }
  strip.setTabs(std::move(items), select);
  // The view changes only when the tab now selected shows another group;
  // the focus moves only when the view that goes had it.
  if (select > 0 && m_tabGroups[size_t(select - 1)] != shownGroup) show(select, hadFocus);
}

void ContactList::showTab(int i) { show(i, true); }

void ContactList::show(int i, bool focus) {
  if (i <= 0) {
    showOverview(focus);
  } else if (size_t(i - 1) < m_tabGroups.size()) {
    showGroup(m_tabGroups[size_t(i - 1)], focus);
  }
}

void ContactList::showOverview(bool focus) {
  m_overviewShown = true;
  if (!m_overview) {
    m_overview = std::make_unique<OverviewView>(m_layout ? m_layout->hwnd() : m_owner);
    m_overview->setSideKeyHandler([this](UINT key) { sideKey(key); });
  }
  if (m_shown != m_overview.get()) {
    if (m_shown && m_layout) m_layout->remove(m_shown->hwnd());
    m_shown = m_overview.get();
    m_groupView.reset();
  }
  ShowWindow(m_overview->hwnd(), SW_SHOW);
  place();
  if (focus) SetFocus(m_overview->hwnd());
}

void ContactList::showGroup(int64_t id, bool focus) {
  if (!m_groupView || m_groupView->groupId() != id) {
    HGroup* group = listedGroup(id);
    if (!group) return;
    if (m_shown && m_layout) m_layout->remove(m_shown->hwnd());
    m_shown = nullptr;
    m_groupView.reset();
    m_groupView = std::make_unique<GroupView>(m_layout ? m_layout->hwnd() : m_owner, group);
    KS_ReleaseGroup(group);
    m_groupView->setSideKeyHandler([this](UINT key) { sideKey(key); });
  }
  m_overviewShown = false;
  if (m_overview) {
    if (m_layout) m_layout->remove(m_overview->hwnd());
    ShowWindow(m_overview->hwnd(), SW_HIDE);
  }
  m_shown = m_groupView.get();
  ShowWindow(m_groupView->hwnd(), SW_SHOW);
  place();
  if (focus) SetFocus(m_groupView->hwnd());
}

void ContactList::place() {
  if (!m_layout) return;
  m_layout->remove(m_tabBar->hwnd());
  if (m_shown) m_layout->addStretching(m_shown->hwnd());
  m_layout->add(m_tabBar->hwnd(), stripHeight());
}

void ContactList::selectGroup(int64_t id) {
  // A choice made before the group went does nothing.
  if (m_tabPerGroup || !listed(groupIds(), id)) return;
  m_selectedGroup = id;
  if (tabs().tabCount() > 2) {
    tabs().tab(2)->setText(text(kStrGroup) + u": " + groupName(id));
    m_tabGroups[1] = id;
    tabs().setSelectedIndex(2, false);
    // The strip measures its tabs again when it is sized.
    RECT r{};
    GetClientRect(tabs().hwnd(), &r);
    SendMessage(tabs().hwnd(), WM_SIZE, 0, MAKELPARAM(r.right, r.bottom));
    InvalidateRect(tabs().hwnd(), nullptr, FALSE);
    showTab(2);
  }
}

void ContactList::selectNextGroup() {
  std::vector<int64_t> ids = groupIds();
  if (ids.empty()) return;
  auto at = std::upper_bound(ids.begin(), ids.end(), m_selectedGroup);
  selectGroup(at == ids.end() ? ids.front() : *at);
}

void ContactList::chooseGroup() {
  std::vector<int64_t> ids = groupIds();
  if (ids.empty()) return;
  HMENU menu = CreatePopupMenu();
  for (size_t i = 0; i < ids.size(); ++i)
    AppendMenu(menu, MF_STRING | (ids[i] == m_selectedGroup ? MF_CHECKED : 0), i + 1, groupName(ids[i]).c_str());
  RECT r{};
  POINT corner{0, 0};
  if (tabs().tabRect(tabs().selectedIndex(), &r)) corner = POINT{r.left, r.bottom};
  ClientToScreen(tabs().hwnd(), &corner);
  UINT chosen = UINT(TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_LEFTALIGN | TPM_BOTTOMALIGN, corner.x, corner.y,
                                      m_owner, nullptr));
  DestroyMenu(menu);
  if (chosen >= 1 && chosen <= ids.size()) selectGroup(ids[chosen - 1]);
}

void ContactList::sideKey(UINT key) {
  SetFocus(tabs().hwnd());
  // Posted: the strip may switch views, which destroys the view whose key
  // handler is still running.
  PostMessage(tabs().hwnd(), WM_KEYDOWN, key, 0);
}

void ContactList::addMenus() {
  HWND bar = m_owner ? SHFindMenuBar(m_owner) : nullptr;
  HMENU barMenu = bar ? reinterpret_cast<HMENU>(SendMessage(bar, SHCMBM_GETMENU, 0, 0)) : nullptr;
  if (!barMenu) return;
  HMENU menu = GetSubMenu(barMenu, 1);
  for (int i = 0, n = GetMenuItemCount(barMenu); !menu && i < n; ++i) menu = GetSubMenu(barMenu, i);
  if (!menu) return;
  m_contactsMenu = CreatePopupMenu();
  AppendMenu(m_contactsMenu, MF_STRING, m_commands[0], text(kStrAddContactMenu).c_str());
  m_groupsMenu = CreatePopupMenu();
  AppendMenu(m_groupsMenu, MF_STRING | MF_GRAYED, m_commands[1], text(kStrJoinGroupMenu).c_str());
  AppendMenu(m_groupsMenu, MF_STRING | MF_GRAYED, m_commands[2], text(kStrCreateGroupMenu).c_str());
  InsertMenu(menu, 1, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
  InsertMenu(menu, 2, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(m_contactsMenu), text(kStrContacts).c_str());
  InsertMenu(menu, 3, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(m_groupsMenu), text(kStrGroups).c_str());
  InsertMenu(menu, 4, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
  m_hostMenu = menu;
  DrawMenuBar(m_owner);
}

void ContactList::removeMenus() {
  if (!m_hostMenu || !IsMenu(m_hostMenu)) return;
  int at = -1;
  for (int i = 0, n = GetMenuItemCount(m_hostMenu); i < n; ++i)
    if (GetSubMenu(m_hostMenu, i) == m_contactsMenu) at = i;
  if (at < 0) return;
  // The separator after "Groups", "Groups", "Contacts", the one before.
  DeleteMenu(m_hostMenu, UINT(at + 2), MF_BYPOSITION);
  DeleteMenu(m_hostMenu, UINT(at + 1), MF_BYPOSITION);
  DeleteMenu(m_hostMenu, UINT(at), MF_BYPOSITION);
  if (at > 0) DeleteMenu(m_hostMenu, UINT(at - 1), MF_BYPOSITION);
  m_hostMenu = m_contactsMenu = m_groupsMenu = nullptr;
  if (m_owner && IsWindow(m_owner)) DrawMenuBar(m_owner);
}

void ContactList::updateMenus() {
  if (!m_groupsMenu) return;
  bool connected = KS_GetVariantLong(olvaro::kConnectionStateVariant) == olvaro::kSignedIn;
  UINT flags = MF_BYCOMMAND | (connected ? MF_ENABLED : MF_GRAYED);
  EnableMenuItem(m_groupsMenu, m_commands[1], flags);
  EnableMenuItem(m_groupsMenu, m_commands[2], flags);
}

// The command comes as the argument's value.
void ContactList::onCommand(void* arg) {
  UINT id = UINT(reinterpret_cast<uintptr_t>(arg));
  if (!id) return;
  bool connected = KS_GetVariantLong(olvaro::kConnectionStateVariant) == olvaro::kSignedIn;
  if (id == m_commands[0]) {
    m_dialogs.addContact().bringUp();
  } else if (id == m_commands[1] && connected) {
    m_dialogs.joinGroup().bringUp();
  } else if (id == m_commands[2] && connected) {
    m_dialogs.createGroup().bringUp();
  }
}

}  // namespace panorel

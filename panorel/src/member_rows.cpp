#include "member_rows.h"

#include <string>

#include "dialogs.h"
#include "framework/fonts.h"
#include "framework/paint.h"
#include "group_view.h"
#include "section_view.h"
#include "olvaro/connection_calls.h"
#include "olvaro/hub_records.h"
#include "platform/bitmap.h"
#include "platform/gdi.h"
#include "platform/menu.h"
#include "platform/msgbox.h"
#include "texts.h"

namespace panorel {

namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kGrey = RGB(124, 125, 127);
constexpr COLORREF kAdminRed = RGB(192, 0, 0);
constexpr COLORREF kModeratorGreen = RGB(0, 192, 0);
constexpr COLORREF kSilver = RGB(192, 192, 192);
bool registered(const std::string& name) { return KS_GetFunctionProcAddress(name.c_str(), nullptr, nullptr) != 0; }

int32_t serviceState(HService* service) {
  if (!service) return 0;
  ServiceData d{};
  d.size = sizeof d;
  KS_GetServiceData(service, &d);
  return d.state;
}

// The local user's contact in `service` (a reference the caller releases).
HContact* myHandle(HService* service) {
  std::string name = olvaro::handleName("Service/%p/GetMyHandle", service);
  HContact* me = nullptr;
  // The function's 32-bit result cannot carry a handle here; the cell form
  // fills the pointer instead.
  if (service && registered(name)) KS_CallFunction(name.c_str(), &me);
  return me;
}

// The local user's presence: the service's, since the connection need not
// keep one on the user's own contact.
int32_t ownPresence(HService* service) {
  ServiceData d{};
  d.size = sizeof d;
  if (service) KS_GetServiceData(service, &d);
  bool signedIn = d.state != 0 && d.state != 100 && d.state != 101;
  if (!signedIn) return 0;
  return d.signInRequested < 2 ? 1 : d.signInRequested;
}

std::u16string unreadText(int count) {
  return count == 1 ? text(kStrOneNewMessage) : withCount(text(kStrNewMessages), count);
}

}  // namespace

int32_t adminRole(UINT command) {
  switch (command) {
    case kCmdMakeAdmin:
      return kRoleAdmin;
    case kCmdMakeModerator:
      return kRoleModerator;
    case kCmdSilence:
      return kRoleSilenced;
    case kCmdKick:
      return kRoleKicked;
    case kCmdBan:
      return kRoleBanned;
    default:
      return 0;
  }
}

bool adminActionAllowed(UINT command, int32_t mine, int32_t theirs) {
  bool moderates = command == kCmdSilence || command == kCmdKick || command == kCmdBan;
  bool may = (mine & kRoleAdmin) ||
             ((mine & kRoleModerator) && !(theirs & (kRoleAdmin | kRoleModerator)) && moderates);
  if (!may) return false;
  switch (command) {
    case kCmdMakeAdmin:
    case kCmdMakeModerator:
      return theirs == 0 || theirs == kRoleAdmin || theirs == kRoleModerator;
    case kCmdBan:
      if (theirs == kRoleBanned) return true;
      [[fallthrough]];
    case kCmdSilence:
    case kCmdKick:
      return theirs == 0 || theirs == kRoleSilenced;
    default:
      return false;
  }
}

int32_t adminNewRole(UINT command, int32_t theirs) {
  int32_t role = adminRole(command);
  if (!(theirs & role)) return role;
  return role == kRoleBanned ? kRoleKicked : 0;
}

void paintMemberRow(HDC dc, const RECT& rect, const std::u16string& name, COLORREF nameColor,
                    const std::u16string& suffix, COLORREF suffixColor, const std::u16string& second, HICON icon,
                    int iconSize) {
  int h = rect.bottom - rect.top;
  fwk::SavedDC saved(dc);
  SetBkMode(dc, TRANSPARENT);
  RECT upper{rect.left + h, rect.top, rect.right - 2, rect.top + h / 2};
  RECT lower{rect.left + h, rect.top + h / 2, rect.right - 2, rect.bottom};
  SelectObject(dc, fwk::boldFont());
  SetTextColor(dc, nameColor);
  RECT measured = upper;
  DrawText(dc, name.c_str(), int(name.size()), &measured, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX | DT_CALCRECT);
  DrawText(dc, name.c_str(), int(name.size()), &upper,
           DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  if (!suffix.empty()) {
    RECT after = upper;
    after.left = measured.right;
    if (after.left < after.right) {
      SelectObject(dc, fwk::regularFont());
      SetTextColor(dc, suffixColor);
      DrawText(dc, suffix.c_str(), int(suffix.size()), &after, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
  }
  SelectObject(dc, fwk::regularFont());
  SetTextColor(dc, kGrey);
  DrawText(dc, second.c_str(), int(second.size()), &lower,
           DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  if (icon)
    DrawIconEx(dc, rect.left + (h - iconSize) / 2, rect.top + (h - iconSize) / 2, icon, iconSize, iconSize, 0,
               nullptr, DI_NORMAL);
}

// ---- ContactRow ----------------------------------------------------------

ContactRow::ContactRow(GroupView* view, HContact* contact, int32_t role)
    : m_view(view),
      m_contact(KS_DuplicateContactHandle(contact)),
      m_group(KS_DuplicateGroupHandle(view->group())),
      m_ownList(view->ownList()),
      m_role(role) {
  m_watch = olvaro::subscribeContact<&ContactRow::onContactChanged>(m_contact, this);
  readSortKey();
}

ContactRow::~ContactRow() {
  m_watch.reset();
  m_serviceWatch.reset();
  if (m_icon) DestroyIcon(m_icon);
  KS_ReleaseGroup(m_group);
  KS_ReleaseContact(m_contact);
}

void ContactRow::detach() {
  m_watch.reset();
  m_serviceWatch.reset();
  m_view = nullptr;
}

int ContactRow::height(int) { return rowDpi() / 4; }

int ContactRow::iconSizeFor(int rowHeight) { return rowHeight < 25 ? 16 : rowHeight < 35 ? 22 : 32; }

ContactData ContactRow::shownData() const {
  ContactData d = olvaro::contactData(m_contact);
  if (m_own) d.onlineStatus = ownPresence(d.service);
  return d;
}

bool ContactRow::readSortKey() {
  // The user's own row in a group follows the service, which tells when
  // the user's presence changes.
  if (!m_ownList) {
    HService* service = olvaro::contactData(m_contact).service;
    HContact* me = myHandle(service);
    m_own = me == m_contact;
    if (me) KS_ReleaseContact(me);
    if (!m_own)
      m_serviceWatch.reset();
    else if (!m_serviceWatch)
      m_serviceWatch = olvaro::subscribeService<&ContactRow::onContactChanged>(service, this);
  }
  ContactData d = shownData();
  bool online = d.onlineStatus != 0;
  bool listedOnline = online && d.onlineStatus != 100 && m_role != kRoleBanned;
  // A member the server sent no nickname for (the user's own entry, say)
  // is shown by its address, else its number, rather than as a blank row.
  std::string shown = d.nickname && *d.nickname ? d.nickname
                      : d.name && *d.name       ? d.name
                                                : std::to_string(int32_t(d.id));
  const std::string& nickname = shown;
  bool changed = online != m_online || listedOnline != m_listedOnline || m_nickname != nickname;
  m_online = online;
  m_listedOnline = listedOnline;
  if (m_nickname != nickname) {
    m_nickname = nickname;
    // Lower-cased once, so sorting compares bytes as a case-blind compare
    // of 8-bit strings would.
    m_sortKey = m_nickname;
    for (char& c : m_sortKey)
      if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return changed;
}

bool ContactRow::groupListed() const {
  HGroup* listed = KS_FindGroup(KS_GetGroupID(m_group));
  if (listed) KS_ReleaseGroup(listed);
  return listed == m_group;
}

void ContactRow::onContactChanged() {
  if (!m_view) return;
  // A change of place waits for the next paint; anything else is a repaint.
  if (readSortKey())
    m_view->markDirty();
  else
    m_view->invalidate();
}

bool ContactRow::waitingForAcceptance(const ContactData& d) const { return m_ownList && d.state == 1; }

std::u16string ContactRow::secondLine() const {
  return secondLineFor(shownData(), KS_GetUnreadMessageCount(m_contact, 0));
}

std::u16string ContactRow::secondLineFor(const ContactData& d, int unread) const {
  if (unread > 0) return unreadText(unread);
  if (waitingForAcceptance(d)) return text(kStrWaitingForAcceptance);
  if (d.status && *d.status) return widen(d.status);
  return presenceWord(d.onlineStatus);
}

std::u16string ContactRow::roleSuffix() const {
  switch (m_role) {
    case kRoleAdmin:
      return u" (Admin)";
    case kRoleModerator:
      return u" (Mod)";
    case kRoleBanned:
      return u" (Banned)";
    case kRoleSilenced:
      return u" (Silenced)";
    default:
      return u"";
  }
}

COLORREF ContactRow::roleColor() const {
  switch (m_role) {
    case kRoleAdmin:
      return kAdminRed;
    case kRoleModerator:
      return kModeratorGreen;
    default:
      return kSilver;
  }
}

COLORREF ContactRow::nameColor() const { return nameColorFor(shownData()); }

COLORREF ContactRow::nameColorFor(const ContactData& d) const {
  return d.onlineStatus == 0 || waitingForAcceptance(d) ? kGrey : kBlack;
}

HICON ContactRow::iconFor(int size, const ContactData& d, bool unread) {
  if (unread) return moduleIcon(u"MESSAGE_UNREAD", size);
  if (waitingForAcceptance(d)) return moduleIcon(u"CONTACT", size);
  // Composing the contact's icon is the dear part of a paint: keep it until
  // the presence or the size changes.
  if (!m_icon || m_iconStatus != d.onlineStatus || m_iconSize != size) {
    if (m_icon) DestroyIcon(m_icon);
    m_icon = KS_GetContactIcon(m_contact, size);
    m_iconStatus = d.onlineStatus;
    m_iconSize = size;
  }
  return m_icon;
}

void ContactRow::paint(HDC dc, const RECT& rect) {
  ContactData d = shownData();
  int size = iconSizeFor(rect.bottom - rect.top);
  int unread = KS_GetUnreadMessageCount(m_contact, 0);
  paintMemberRow(dc, rect, widen(m_nickname.c_str()), nameColorFor(d), roleSuffix(), roleColor(),
                 secondLineFor(d, unread), iconFor(size, d, unread > 0), size);
}

void ContactRow::activate() { KS_EventRaise("messaging.chat.contact", m_contact); }

HMENU ContactRow::buildMenu() {
  bool realGroup = !m_ownList;
  ContactData d = olvaro::contactData(m_contact);
  HMENU menu = CreatePopupMenu();
  AppendMenu(menu, MF_STRING, kCmdChat, realGroup ? u"Private Chat" : u"Chat");
  if (realGroup) {
    int32_t mine = 0;
    HContact* me = myHandle(d.service);
    if (me) {
      KS_GetGroupMember(m_group, me, &mine);
      KS_ReleaseContact(me);
    }
    AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
    static const UINT kActions[] = {kCmdMakeAdmin, kCmdMakeModerator, kCmdSilence, kCmdKick, kCmdBan};
    static const unsigned kLabels[] = {kStrAdmin, kStrMod, kStrSilence, kStrKick, kStrBan};
    for (size_t i = 0; i < 5; ++i) {
      UINT flags = MF_STRING;
      if (adminRole(kActions[i]) & m_role) flags |= MF_CHECKED;
      if (!adminActionAllowed(kActions[i], mine, m_role)) flags |= MF_GRAYED;
      AppendMenu(menu, flags, kActions[i], text(kLabels[i]).c_str());
    }
    HGroup* list = KS_GetGroup(0);
    bool listed = KS_GroupContainsMember(list, m_contact) != 0;
    KS_ReleaseGroup(list);
    if (registered(olvaro::handleName("Service/%p/AddContact", d.service)) && !listed &&
        serviceState(d.service) != 0) {
      AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
      AppendMenu(menu, MF_STRING, kCmdAddToContacts, u"Add to Contacts");
    }
  } else {
    bool may = registered(olvaro::handleName("Service/%p/DeleteContact", d.service)) && serviceState(d.service) != 0;
    AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenu(menu, MF_STRING | (may ? 0 : MF_GRAYED), kCmdDelete, u"Delete");
  }
  AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenu(menu, MF_STRING, kCmdProperties, u"Properties");
  return menu;
}

void ContactRow::contextMenu(int x, int y) {
  // The menu may lead to this row's removal; keep it until done.
  fwk::Ref<fwk::Row> keep(this);
  if (UINT chosen = trackMenu(buildMenu(), x, y)) runCommand(chosen);
}

void ContactRow::runCommand(UINT command) {
  ContactData d = olvaro::contactData(m_contact);
  switch (command) {
    case kCmdChat:
      activate();
      break;
    case kCmdDelete: {
      if (MessageBox(mainWindow(), u"Are you sure you wish to remove this contact from your contact list?",
                     u"Delete Contact", MB_YESNO | MB_ICONQUESTION) != IDYES)
        break;
      HContact* cell = m_contact;
      KS_CallFunction(olvaro::handleName("Service/%p/DeleteContact", d.service).c_str(), &cell);
      break;
    }
    case kCmdAddToContacts: {
      std::string id = std::to_string(int32_t(KS_GetContactID(m_contact)));
      olvaro::AddContactRequest request{sizeof request, id.c_str(), kAddContactMessage, nullptr, nullptr};
      KS_CallFunction(olvaro::handleName("Service/%p/AddContact", d.service).c_str(), &request);
      break;
    }
    case kCmdProperties:
      if (DialogSet* dialogs = DialogSet::current()) dialogs->showProperties(m_contact);
      break;
    case kCmdMakeAdmin:
    case kCmdMakeModerator:
    case kCmdSilence:
    case kCmdKick:
    case kCmdBan: {
      // A menu that outlived its view may be answered after the group went.
      if (!m_view || !groupListed()) break;
      olvaro::AdminContactRequest request{m_contact, m_group, adminNewRole(command, m_role)};
      KS_CallFunction(olvaro::handleName("Service/%p/AdminContact", d.service).c_str(), &request);
      break;
    }
    default:
      break;
  }
}

// ---- GroupChatRow --------------------------------------------------------

GroupChatRow::GroupChatRow(GroupView* view, HGroup* group) : m_view(view), m_group(KS_DuplicateGroupHandle(group)) {}

GroupChatRow::~GroupChatRow() { KS_ReleaseGroup(m_group); }

int GroupChatRow::height(int) { return rowDpi() / 4; }

std::u16string GroupChatRow::secondLine() const {
  GroupData d{};
  d.size = sizeof d;
  KS_GetGroupData(m_group, &d);
  return secondLineFor(d, KS_GetUnreadMessageCount(m_group, 1));
}

std::u16string GroupChatRow::secondLineFor(const GroupData& d, int unread) const {
  if (unread > 0) return unreadText(unread);
  if (d.description && *d.description) return widen(d.description);
  return text(kStrGroupChat);
}

void GroupChatRow::paint(HDC dc, const RECT& rect) {
  GroupData d{};
  d.size = sizeof d;
  KS_GetGroupData(m_group, &d);
  int size = ContactRow::iconSizeFor(rect.bottom - rect.top);
  int unread = KS_GetUnreadMessageCount(m_group, 1);
  paintMemberRow(dc, rect, widen(d.name), kBlack, u"", kBlack, secondLineFor(d, unread),
                 moduleIcon(unread > 0 ? u"MESSAGE_UNREAD" : u"GROUP", size), size);
}

void GroupChatRow::activate() { KS_EventRaise("messaging.chat.group", m_group); }

HMENU GroupChatRow::buildMenu() {
  HMENU menu = CreatePopupMenu();
  AppendMenu(menu, MF_STRING, kCmdChat, text(kStrGroupChat).c_str());
  AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
  bool may = registered("orvaloGroupUnsub");
  AppendMenu(menu, MF_STRING | (may ? 0 : MF_GRAYED), kCmdDelete, u"Leave Group");
  return menu;
}

void GroupChatRow::contextMenu(int x, int y) {
  fwk::Ref<fwk::Row> keep(this);
  if (UINT chosen = trackMenu(buildMenu(), x, y)) runCommand(chosen);
}

void GroupChatRow::runCommand(UINT command) {
  if (command == kCmdChat) {
    activate();
  } else if (command == kCmdDelete) {
    KS_CallFunction("orvaloGroupUnsub", m_group);
  }
}

}  // namespace panorel

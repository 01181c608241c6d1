// The rows of a member view: one per contact, and the group-chat row at the
// top of a real group.
#pragma once

#include <string>

#include "framework/row.h"
#include "olvaro/api.h"
#include "olvaro/group_roles.h"
#include "olvaro/registrations.h"

namespace panorel {

class GroupView;

using olvaro::MemberRole;
using enum olvaro::MemberRole;

// The commands of the rows' menus.
enum RowCommand : UINT {
  kCmdChat = 1,
  kCmdDelete = 2,  // the group-chat row: leave the group
  kCmdAddToContacts = 3,
  kCmdProperties = 4,
  kCmdMakeAdmin = 5,
  kCmdMakeModerator = 6,
  kCmdSilence = 7,
  kCmdKick = 8,
  kCmdBan = 9,
};

// The role an admin command gives, and whether the local user (`mine`) may
// use it on a member whose value is `theirs`.
int32_t adminRole(UINT command);
bool adminActionAllowed(UINT command, int32_t mine, int32_t theirs);
// What the command sends: the action's role, or its undoing.
int32_t adminNewRole(UINT command, int32_t theirs);

class ContactRow : public fwk::Row {
 public:
  ContactRow(GroupView* view, HContact* contact, int32_t role);
  ~ContactRow() override;

  void paint(HDC dc, const RECT& rect) override;
  int height(int width) override;
  void activate() override;
  void contextMenu(int x, int y) override;

  HContact* contact() const { return m_contact; }
  int32_t role() const { return m_role; }
  // The view is going: a menu still open on this row must not reach it.
  void detach();
  void setRole(int32_t role) { m_role = role; }
  // Reads what the order depends on; true when it changed.
  bool readSortKey();
  bool online() const { return m_online; }
  bool listedOnline() const { return m_listedOnline; }
  const std::string& nickname() const { return m_nickname; }
  const std::string& sortKey() const { return m_sortKey; }
  // Marks rows seen by a rebuild.
  uint32_t generation = 0;

  // The menu as it would be shown now (the caller destroys it), and the
  // work of one of its commands.
  HMENU buildMenu();
  void runCommand(UINT command);

  // The texts and icon the row paints, for tests.
  std::u16string secondLine() const;
  std::u16string roleSuffix() const;
  COLORREF roleColor() const;
  COLORREF nameColor() const;
  static int iconSizeFor(int rowHeight);

 private:
  void onContactChanged();
  // The row's group is still the one the hub lists under its id.
  bool groupListed() const;
  bool waitingForAcceptance(const ContactData& d) const;
  // The contact's data with the presence the row shows.
  ContactData shownData() const;
  // The same from data already read, as a paint has it.
  std::u16string secondLineFor(const ContactData& d, int unread) const;
  COLORREF nameColorFor(const ContactData& d) const;
  HICON iconFor(int size, const ContactData& d, bool unread);

  GroupView* m_view;
  HContact* m_contact;
  HGroup* m_group;  // the view's group, held by the row too
  bool m_ownList;
  bool m_own = false;  // the local user's own row in a group
  int32_t m_role;
  bool m_online = false;        // onlineStatus != 0: first in the order
  bool m_listedOnline = false;  // which section it belongs in
  std::string m_nickname;
  std::string m_sortKey;
  olvaro::ContactSubscription m_watch;
  olvaro::ServiceSubscription m_serviceWatch;
  HICON m_icon = nullptr;  // the contact's composed icon, made for:
  int32_t m_iconStatus = -1;
  int m_iconSize = 0;
};

class GroupChatRow : public fwk::Row {
 public:
  GroupChatRow(GroupView* view, HGroup* group);
  ~GroupChatRow() override;

  void paint(HDC dc, const RECT& rect) override;
  int height(int width) override;
  void activate() override;
  void contextMenu(int x, int y) override;
  HMENU buildMenu();
  void runCommand(UINT command);
  std::u16string secondLine() const;

 private:
  std::u16string secondLineFor(const GroupData& d, int unread) const;

  GroupView* m_view;
  HGroup* m_group;
};

// Draws a member view row: the two lines beside a square icon.
void paintMemberRow(HDC dc, const RECT& rect, const std::u16string& name, COLORREF nameColor,
                    const std::u16string& suffix, COLORREF suffixColor, const std::u16string& second, HICON icon,
                    int iconSize);

}  // namespace panorel

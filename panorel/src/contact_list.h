// The contact list in the host's main window: the tab strip at the bottom
// of the layout, the overview or one group's member view above it, and
// the "Contacts" and "Groups" pop-ups in the host's menu.
#pragma once

#include <memory>
#include <vector>

#include "dialogs.h"
#include "framework/tab_strip.h"
#include "group_view.h"
#include "olvaro/menu_commands.h"
#include "olvaro/registrations.h"
#include "overview_view.h"

namespace fwk {
class BoxLayout;
}

namespace panorel {

class ContactList;

// Holds the strip so its notifications reach the contact list rather than
// the host's layout.
class TabBar : public fwk::Control {
 public:
  TabBar(HWND parent, ContactList* owner);
  fwk::TabStrip& strip() { return *m_strip; }
  // Opens the list of groups once the key or tap that asked has been
  // handled: the list runs its own loop, in which the tabs may be made anew.
  void postChooseGroup();
  static constexpr UINT kChooseGroup = WM_APP + 21;
  LRESULT windowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 protected:
  LRESULT onSize(UINT kind, int width, int height) override;
  LRESULT onSetFocus(HWND previous) override;
  LRESULT onNextDlgCtl(bool previous) override;

 private:
  ContactList* m_owner;
  std::unique_ptr<fwk::TabStrip> m_strip;
};

// The default mode's group tab: "Group: name" and a small grey triangle
// that opens the list of groups.
class GroupTab : public fwk::TabItem {
 public:
  GroupTab(ContactList* owner, const std::u16string& title, int height);
  void paintParts(HDC dc, const RECT& rect) const override;
  bool onKey(UINT key) override;
  void onStylusDown(bool doubleTap, int x, int y) override;

 private:
  ContactList* m_owner;
  int m_height;
};

class ContactList {
 public:
  ContactList();
  ~ContactList();
  ContactList(const ContactList&) = delete;
  ContactList& operator=(const ContactList&) = delete;

  bool tabPerGroup() const { return m_tabPerGroup; }
  fwk::TabStrip& tabs() { return m_tabBar->strip(); }
  TabBar& tabBar() { return *m_tabBar; }
  OverviewView* overview() const { return m_overview.get(); }
  GroupView* groupView() const { return m_groupView.get(); }
  DialogSet& dialogs() { return m_dialogs; }
  // The ids of the menu commands: add a contact, join, create.
  UINT addContactCommand() const { return m_commands[0]; }
  UINT joinGroupCommand() const { return m_commands[1]; }
  UINT createGroupCommand() const { return m_commands[2]; }
  HMENU contactsMenu() const { return m_contactsMenu; }
  HMENU groupsMenu() const { return m_groupsMenu; }

  // Shows what tab i stands for and gives it the focus (the user chose it).
  void showTab(int i);
  // The group the default mode's group tab shows (0 when none).
  int64_t selectedGroup() const { return m_selectedGroup; }
  void selectGroup(int64_t id);
  void selectNextGroup();
  // The pop-up of groups at the group tab's lower left corner.
  void chooseGroup();
  // Fills the tabs again and selects what was shown.
  void rebuildTabs();
  // Puts the view and the strip back at the end of the layout.
  void place();

  // Ids of the real groups, ascending.
  static std::vector<int64_t> groupIds();

 private:
  void onCommand(void* arg);
  void addMenus();
  void removeMenus();
  void updateMenus();
  void sideKey(UINT key);
  // A change of the groups never takes the focus: it would raise the main
  // window over the dialogs and chats in front of it.
  void show(int i, bool focus);
  void showOverview(bool focus);
  void showGroup(int64_t id, bool focus);
  int stripHeight() const;

  HWND m_owner;
  fwk::BoxLayout* m_layout;
  bool m_tabPerGroup;
  std::unique_ptr<TabBar> m_tabBar;
  std::unique_ptr<OverviewView> m_overview;
  std::unique_ptr<GroupView> m_groupView;
  fwk::Control* m_shown = nullptr;
  // What tab i > 0 shows; in the default mode the group tab's entry follows
  // the chosen group.
  std::vector<int64_t> m_tabGroups;
  int64_t m_selectedGroup = 0;
  bool m_overviewShown = true;
  HMENU m_hostMenu = nullptr;
  HMENU m_contactsMenu = nullptr;
  HMENU m_groupsMenu = nullptr;
  olvaro::MenuCommands<3> m_commands;
  DialogSet m_dialogs;
  olvaro::EventSubscription m_commandWatch, m_groupsWatch, m_startupWatch;
  olvaro::VariantSubscription m_stateWatch;
};

}  // namespace panorel

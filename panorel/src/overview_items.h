// The rows of the overview: the sign-in status header, one row per contact
// or group with unread messages, the row saying there are none, and the
// items other plug-ins add.
#pragma once

#include <string>

#include "framework/row.h"
#include "olvaro/api.h"

namespace panorel {

// Sign-in state, own name and presence of the primary service, read when
// painted. Activating it signs in or out; its menu is the service's own.
class StatusHeaderRow : public fwk::TwoLineRow {
 public:
  StatusHeaderRow() : fwk::TwoLineRow(u"", u"") {}
  void paint(HDC dc, const RECT& rect) override;
  void activate() override;
  void contextMenu(int x, int y) override;
  // Fills title, text and icon from the current state.
  void update();
};

class UnreadContactRow : public fwk::TwoLineRow {
 public:
  explicit UnreadContactRow(HContact* contact);
  ~UnreadContactRow() override;
  void paint(HDC dc, const RECT& rect) override;
  void activate() override;
  void contextMenu(int x, int y) override;
  void update();
  HContact* contact() const { return m_contact; }

 private:
  HContact* m_contact;
};

class UnreadGroupRow : public fwk::TwoLineRow {
 public:
  explicit UnreadGroupRow(HGroup* group);
  ~UnreadGroupRow() override;
  void paint(HDC dc, const RECT& rect) override;
  void activate() override;
  void contextMenu(int x, int y) override;
  void update();
  HGroup* group() const { return m_group; }

 private:
  HGroup* m_group;
};

class NoUnreadRow : public fwk::TwoLineRow {
 public:
  NoUnreadRow();
};

// An item another plug-in owns: its menu is the owner's, asked for through
// "Overview/Item/OnContextMenu".
class StaticItemRow : public fwk::TwoLineRow {
 public:
  StaticItemRow(const char* title, const char* text, HMODULE iconModule, LPCWSTR iconResource);
  ~StaticItemRow() override;
  void contextMenu(int x, int y) override;
  void setIcon(HMODULE iconModule, LPCWSTR iconResource);

 private:
  HICON m_ownIcon = nullptr;
};

// Shows a menu of one item ("View Messages") at (x, y); true when chosen.
bool chooseSingleItem(const std::u16string& label, int x, int y);

}  // namespace panorel

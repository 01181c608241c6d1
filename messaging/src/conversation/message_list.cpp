#include "message_list.h"

#include <utility>

namespace messaging {

MessageList::MessageList(HWND parent, Conversation* owner)
    : fwk::ListControl(parent, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 10, 10),
      m_owner(owner),
      m_moreRow(new MoreHistoryRow(this)) {}

void MessageList::setMoreRow(bool on) {
  if (on == m_hasMoreRow) return;
  m_hasMoreRow = on;
  if (on)
    insertRowAtFront(m_moreRow);
  else
    removeRow(m_moreRow.get());
}

bool MessageList::isWaitRow(int i) const { return dynamic_cast<WaitRow*>(row(i)) != nullptr; }

void MessageList::replaceRow(int i, fwk::Ref<fwk::Row> replacement) {
  ListControl::replaceRow(i, std::move(replacement));
  makeRowVisible(selectedIndex());
}

void MessageList::addWaitRow() {
  bool more = m_hasMoreRow;
  setMoreRow(false);
  insertRowAtFront(fwk::Ref<fwk::Row>(new WaitRow()));
  setMoreRow(more);
}

void MessageList::dropWaitRows(bool keepMoreRow) {
  setMoreRow(false);
  // The placeholders lie together at the top: each answer fills the lowest.
  int n = 0;
  while (isWaitRow(n)) ++n;
  removeRows(0, n);
  setMoreRow(keepMoreRow);
}

int MessageList::indexFromEnd(const fwk::Row* r) const {
  for (int i = rowCount() - 1; i >= 0; --i)
    if (row(i) == r) return i;
  return -1;
}

void MessageList::rowHeightChanged(fwk::Row* changed) {
  int at = indexFromEnd(changed);
  if (at < 0) return;
  remeasureRow(at);
  if (selectedIndex() >= at) makeRowVisible(selectedIndex());
}

void MessageList::append(fwk::Ref<fwk::Row> row) {
  int last = rowCount() - 1;
  bool follow = !hasFocus() || selectedIndex() == last;
  addRow(std::move(row));
  if (follow) setSelectedIndex(rowCount() - 1);
}

LRESULT MessageList::onKey(UINT key, bool down, LPARAM repeatData) {
  if (key == VK_LEFT || key == VK_RIGHT || key == VK_UP || key == VK_ESCAPE)
    if (m_owner->listKey(key, down, repeatData)) return 0;
  return ListControl::onKey(key, down, repeatData);
}

}  // namespace messaging

#include "message_list.h"

#include <vector>

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
  if (i < 0 || i >= rowCount() || !replacement) return;
  int selected = selectedIndex();
  // Rows above the one replaced are few (the bar and the placeholders):
  // take them off the front and put them back around the new row.
  std::vector<fwk::Ref<fwk::Row>> front;
  front.reserve(size_t(i) + 1);
  for (int k = 0; k <= i; ++k) front.emplace_back(row(k));
  for (int k = 0; k <= i; ++k) removeRow(front[size_t(k)].get());
  front[size_t(i)] = replacement;
  for (int k = i; k >= 0; --k) insertRowAtFront(front[size_t(k)]);
  if (selected >= 0) setSelectedIndex(selected);
}

int MessageList::indexFromEnd(const fwk::Row* r) const {
  for (int i = rowCount() - 1; i >= 0; --i)
    if (row(i) == r) return i;
  return -1;
}

void MessageList::rowHeightChanged(fwk::Row* changed) {
  int at = indexFromEnd(changed);
  if (at < 0) return;
  int selected = selectedIndex();
  std::vector<fwk::Ref<fwk::Row>> tail;
  for (int k = at; k < rowCount(); ++k) tail.emplace_back(row(k));
  for (auto it = tail.rbegin(); it != tail.rend(); ++it) removeRow(it->get());
  for (auto& r : tail) addRow(r);
  if (selected >= at) setSelectedIndex(selected);
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

// The list of a conversation's rows. Messages are appended at the end,
// history and its placeholders go in at the front, under the more-history
// bar when there is one.
#pragma once

#include <string>

#include "framework/list_control.h"
#include "message_rows.h"

namespace messaging {

// What the rows need from their conversation.
class Conversation {
 public:
  virtual ~Conversation() = default;
  // The local user's nickname in the peer's service.
  virtual std::u16string ownName() = 0;
  // A tap, Enter or the menu on the more-history bar.
  virtual void requestHistory() = 0;
  // Keys the list hands to its window first; true when used there.
  virtual bool listKey(UINT key, bool down, LPARAM repeatData) = 0;
  virtual HWND windowHandle() = 0;
  // The contact or group the conversation is with (none: each message's own).
  virtual void* peer() const { return nullptr; }
};

class MessageList : public fwk::ListControl {
 public:
  MessageList(HWND parent, Conversation* owner);

  Conversation* owner() const { return m_owner; }
  bool hasMoreRow() const { return m_hasMoreRow; }
  void setMoreRow(bool on);
  // Puts `row` where row `i` is (the old row goes) and keeps the selected
  // row in view.
  void replaceRow(int i, fwk::Ref<fwk::Row> row);
  // A placeholder for history at the top, under the bar.
  void addWaitRow();
  // Takes the placeholders away, and the bar unless `keepMoreRow`.
  void dropWaitRows(bool keepMoreRow);
  // Appends and follows the new row when the user is not reading elsewhere.
  void append(fwk::Ref<fwk::Row> row);
  // Whether the row at `i` waits for history.
  bool isWaitRow(int i) const;
  // The row's index, looked for from the end, where rows change most.
  int indexFromEnd(const fwk::Row* row) const;
  // Measures the row again after its height changed; the rows below move,
  // the ones above keep their places.
  void rowHeightChanged(fwk::Row* row);

 protected:
  LRESULT onKey(UINT key, bool down, LPARAM repeatData) override;

 private:
  Conversation* m_owner;
  bool m_hasMoreRow = false;
  fwk::Ref<MoreHistoryRow> m_moreRow;
};

}  // namespace messaging

// The rows of a conversation: messages, notices, the more-history bar and
// the placeholders of history on its way.
#pragma once

#include <cstdint>
#include <string>

#include "framework/row.h"
#include "olvaro/api.h"
#include "olvaro/registrations.h"

namespace messaging {

class MessageList;

// Text colours the rows use.
constexpr COLORREF kGreyText = 0x009F9D9C;    // RGB(156, 157, 159)
constexpr COLORREF kActionText = 0x001000EB;  // RGB(235, 0, 16)
constexpr COLORREF kAdminText = 0x00FF0000;   // RGB(0, 0, 255)

// One message: a header line (name, state or time, progress) and the body.
class MessageRow : public fwk::Row {
 public:
  // Takes a reference of its own on `message`.
  MessageRow(HMessage* message, MessageList* list);
  ~MessageRow() override;

  void paint(HDC dc, const RECT& rect) override;
  int height(int width) override;
  // Voice plays, a photo is shown, a text does nothing.
  void activate() override;
  void contextMenu(int x, int y) override;

  HMessage* message() const { return m_message; }
  // The state words or time at the right of the header.
  std::u16string statusText() const;
  // The header's name.
  std::u16string senderName() const;
  // The menu's items: (command, text), a separator as command -1.
  std::vector<std::pair<int, std::u16string>> menuItems() const;
  // Runs a command of the menu.
  void runCommand(int command);

 private:
  void onChanged();
  MessageData data() const;

  HMessage* m_message;
  MessageList* m_list;
  int m_header;
  int m_width = -1;   // of the last measure
  int m_height = 0;
  olvaro::MessageSubscription m_changes;
};

// A line of text in its colour with the time it was made at the right.
class NoticeRow : public fwk::Row {
 public:
  NoticeRow(std::u16string text, COLORREF color, int64_t madeSec);
  void paint(HDC dc, const RECT& rect) override;
  int height(int width) override;
  const std::u16string& text() const { return m_text; }
  COLORREF color() const { return m_color; }

 private:
  std::u16string m_text;
  COLORREF m_color;
  int64_t m_made;
};

// The bar at the top that fetches older messages on any tap, Enter or menu.
class MoreHistoryRow : public fwk::Row {
 public:
  explicit MoreHistoryRow(MessageList* list) : m_list(list) {}
  void paint(HDC dc, const RECT& rect) override;
  void paintSelectionBackground(HDC, const RECT&, bool) override {}
  int height(int width) override;
  void activate() override;
  void activateIf(bool) override { activate(); }
  void contextMenu(int, int) override { activate(); }

 private:
  MessageList* m_list;
};

// Where a message of history will go once the server sends it.
class WaitRow : public fwk::TwoLineRow {
 public:
  WaitRow() : TwoLineRow(u"Please Wait", u"Retrieving History...") {}
};

}  // namespace messaging

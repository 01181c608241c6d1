#include "message_rows.h"

#include <algorithm>
#include <map>

#include "framework/fonts.h"
#include "framework/paint.h"
#include "message_format.h"
#include "olvaro/connection_state.h"
#include "olvaro/hub_records.h"
#include "message_list.h"
#include "photo.h"
#include "platform/bitmap.h"
#include "platform/gdi.h"
#include "platform/menu.h"
#include "platform/resources.h"
#include "platform/shell.h"
#include "platform/systime.h"
#include "platform/text.h"
#include "voice_player.h"

namespace messaging {
namespace {

HICON kindIcon(UINT id, int size) {
  static std::map<std::pair<UINT, int>, HICON> cache;
  auto key = std::make_pair(id, size);
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  HICON icon = static_cast<HICON>(
      LoadImage(platform::currentModule(), MAKEINTRESOURCE(id), IMAGE_ICON, size, size, 0));
  cache[key] = icon;
  return icon;
}

void copyToClipboard(HWND owner, const std::u16string& text) {
  if (!OpenClipboard(owner)) return;
  EmptyClipboard();
  HLOCAL mem = LocalAlloc(LPTR, (text.size() + 1) * sizeof(char16_t));
  if (mem) {
    std::copy(text.begin(), text.end(), static_cast<char16_t*>(mem));
    if (!SetClipboardData(CF_UNICODETEXT, mem)) LocalFree(mem);
  }
  CloseClipboard();
}

void openWebAddress(HWND owner, const std::u16string& address) {
  SHELLEXECUTEINFO info{};
  info.cbSize = sizeof info;
  info.hwnd = owner;
  info.lpFile = u"iexplore.exe";
  info.lpParameters = address.c_str();
  info.nShow = SW_SHOWNORMAL;
  ShellExecuteEx(&info);
}

int textHeight(const std::u16string& text, int width) {
  HDC dc = GetDC(nullptr);
  int h = 0;
  {
    fwk::ScopedSelect font(dc, fwk::regularFont());
    RECT r{0, 0, std::max(1, width), 0};
    DrawText(dc, text.c_str(), int(text.size()), &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    h = r.bottom - r.top;
  }
  ReleaseDC(nullptr, dc);
  return h;
}

}  // namespace

MessageRow::MessageRow(HMessage* message, MessageList* list)
    : m_message(KS_DuplicateMessageHandle(message)),
      m_list(list),
      m_header(fwk::screenDpi() / 4),
      m_changes(olvaro::subscribeMessage<&MessageRow::onChanged>(m_message, this)) {}

MessageRow::~MessageRow() {
  m_changes = olvaro::MessageSubscription();
  if (m_message) KS_ReleaseMessage(m_message);
}

void MessageRow::onChanged() {
  // A text still arriving grows; anything else only repaints its band.
  if (m_width >= 0 && typeOf(data()) == "text/plain") {
    int before = m_height;
    if (height(m_width) != before) {
      m_list->rowHeightChanged(this);
      return;
    }
  }
  int i = m_list->indexFromEnd(this);
  if (i >= 0) m_list->paintRow(i);
}

MessageData MessageRow::data() const {
  return olvaro::messageData(m_message);
}

std::u16string MessageRow::senderName() const {
  MessageData d = data();
  return d.contact ? nicknameOf(d.contact) : m_list->owner()->ownName();
}

std::u16string MessageRow::statusText() const {
  MessageData d = data();
  auto stamp = [&] { return formatTimeStamp(d.localTimeSec, platform::unixTimeNow()); };
  // Given up on, either way: a receive cut short or a send the server refused.
  if (d.interrupted) return u"Failed";
  if (d.contact) return d.complete ? stamp() : u"Receiving";
  if (!d.complete) return u"Creating";
  if (d.progress == d.payloadLength) return stamp();
  return KS_GetVariantLong(olvaro::kConnectionStateVariant) == olvaro::kSignedIn ? u"Sending" : u"Pending";
}

void MessageRow::paint(HDC dc, const RECT& rect) {
  MessageData d = data();
  std::string_view type = typeOf(d);
  int h = m_header;
  fwk::SavedDC saved(dc);
  SetBkMode(dc, TRANSPARENT);

  // Header: the name on the left, the state or time on the right.
  std::u16string name = senderName();
  SelectObject(dc, fwk::boldFont());
  SetTextColor(dc, d.contact && (d.origin == 2 || d.origin == 3) ? kGreyText : RGB(0, 0, 0));
  RECT nameRect{rect.left + h, rect.top, rect.right, rect.top + h / 2};
  DrawText(dc, name.c_str(), int(name.size()), &nameRect, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
  std::u16string status = statusText();
  SelectObject(dc, fwk::regularFont());
  SetTextColor(dc, kGreyText);
  RECT statusRect{rect.left + h, rect.top, rect.right, rect.top + h / 2};
  DrawText(dc, status.c_str(), int(status.size()), &statusRect, DT_RIGHT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);

  // Progress of a transfer in the lower half of the header, at the right.
  int64_t done = 0, total = 0;
  if (d.origin == 0 && !d.interrupted && d.progress != 0 && d.progress != d.payloadLength) {
    done = d.progress;
    total = d.payloadLength;
  } else if (d.origin != 0 && !d.complete && !d.interrupted && d.totalLength != 0) {
    done = d.payloadLength;
    total = d.totalLength;
  }
  if (total > 0) {
    SIZE sample{};
    {
      fwk::ScopedSelect small(dc, fwk::smallFont());
      GetTextExtentPoint32(dc, u"12:34:56", 8, &sample);
    }
    RECT outline{rect.right - sample.cx, (rect.top + rect.bottom) / 2, rect.right, rect.bottom};
    InflateRect(&outline, -2, -2);
    HBRUSH grey = CreateSolidBrush(kGreyText);
    RECT edges[4] = {{outline.left, outline.top, outline.right, outline.top + 1},
                     {outline.left, outline.bottom - 1, outline.right, outline.bottom},
                     {outline.left, outline.top, outline.left + 1, outline.bottom},
                     {outline.right - 1, outline.top, outline.right, outline.bottom}};
    for (const RECT& e : edges) FillRect(dc, &e, grey);
    RECT inner = outline;
    InflateRect(&inner, -2, -2);
    int64_t width = std::max<int64_t>(0, inner.right - inner.left);
    inner.right = inner.left + LONG(std::clamp<int64_t>(done, 0, total) * width / total);
    if (inner.right > inner.left) FillRect(dc, &inner, grey);
    DeleteObject(grey);
  }

  // Body.
  Body body = messageBody(type, payloadOf(d), platform::currentModule());
  SetTextColor(dc, body.action ? kActionText : RGB(0, 0, 0));
  RECT bodyRect{rect.left + h, rect.top + h / 2, rect.right, rect.bottom};
  UINT format = DT_LEFT | DT_TOP | DT_NOPREFIX | (type == "text/plain" ? DT_WORDBREAK : DT_SINGLELINE);
  DrawText(dc, body.text.c_str(), int(body.text.size()), &bodyRect, format);

  // The kind's icon in the square at the left.
  UINT icon = type.starts_with("text/") ? 102 : type.starts_with("audio/") ? 103 : type.starts_with("image/") ? 101 : 0;
  if (icon) {
    int s = h < 33 ? 16 : 32;
    if (HICON i = kindIcon(icon, s))
      DrawIconEx(dc, rect.left + (h - s) / 2, rect.top + (h - s) / 2, i, s, s, 0, nullptr, DI_NORMAL);
  }
}

int MessageRow::height(int width) {
  MessageData d = data();
  m_width = width;
  if (typeOf(d) != "text/plain") return m_height = m_header;
  Body body = messageBody(typeOf(d), payloadOf(d), platform::currentModule());
  return m_height = std::max(m_header, m_header / 2 + textHeight(body.text, width - m_header) + 2);
}

void MessageRow::activate() {
  MessageData d = data();
  if (typeOf(d).starts_with("audio/"))
    PlayVoiceMessageIn(m_message, m_list->owner()->peer());
  else if (typeOf(d).starts_with("image/"))
    ViewPhotoMessage(m_message, m_list->owner()->windowHandle());
}

std::vector<std::pair<int, std::u16string>> MessageRow::menuItems() const {
  MessageData d = data();
  std::string_view type = typeOf(d);
  std::vector<std::pair<int, std::u16string>> items;
  if (type.starts_with("audio/"))
    items.emplace_back(2, u"Play");
  else if (type.starts_with("image/"))
    items.emplace_back(3, u"View");
  else
    items.emplace_back(1, u"Copy to Clipboard");
  items.emplace_back(-1, u"");
  items.emplace_back(0, u"Forward");
  if (type.starts_with("text/")) {
    int command = 100;
    for (const std::string& address : findWebAddresses(payloadOf(d)))
      items.emplace_back(command++, platform::widen(address));
  }
  return items;
}

void MessageRow::runCommand(int command) {
  MessageData d = data();
  HWND owner = m_list->hwnd();
  if (command == 1) {
    copyToClipboard(owner, platform::widen(std::string(payloadOf(d))));
  } else if (command == 2) {
    PlayVoiceMessageIn(m_message, m_list->owner()->peer());
  } else if (command == 3) {
    ViewPhotoMessage(m_message, m_list->owner()->windowHandle());
  } else if (command >= 100) {
    auto items = menuItems();
    for (auto& [id, text] : items)
      if (id == command) openWebAddress(owner, text);
  }
}

void MessageRow::contextMenu(int x, int y) {
  auto items = menuItems();
  HMENU menu = CreatePopupMenu();
  for (auto& [id, text] : items) {
    if (id < 0)
      AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
    else
      AppendMenu(menu, MF_STRING | (id == 0 ? MF_GRAYED : 0), UINT_PTR(id), text.c_str());
  }
  // The row may go while the menu is open.
  fwk::Ref<MessageRow> keep(this);
  int command = TrackPopupMenuEx(menu, TPM_RETURNCMD, x, y, m_list->hwnd(), nullptr);
  DestroyMenu(menu);
  if (command > 0) runCommand(command);
}

NoticeRow::NoticeRow(std::u16string text, COLORREF color, int64_t madeSec)
    : m_text(std::move(text)), m_color(color), m_made(madeSec) {}

int NoticeRow::height(int) { return fwk::screenDpi() / 8 + 2; }

void NoticeRow::paint(HDC dc, const RECT& rect) {
  int rowHeight = rect.bottom - rect.top;
  fwk::SavedDC saved(dc);
  SetBkMode(dc, TRANSPARENT);
  SelectObject(dc, fwk::regularFont());
  std::u16string time = formatClockTime(m_made);
  SetTextColor(dc, kGreyText);
  RECT timeRect = rect;
  DrawText(dc, time.c_str(), int(time.size()), &timeRect, DT_RIGHT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SIZE timeSize{};
  GetTextExtentPoint32(dc, time.c_str(), int(time.size()), &timeSize);
  SetTextColor(dc, m_color);
  // A long line ends short of the time rather than under it.
  RECT textRect{rect.left + 2 * rowHeight, rect.top, rect.right - timeSize.cx - 4, rect.bottom};
  DrawText(dc, m_text.c_str(), int(m_text.size()), &textRect,
           DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
}

int MoreHistoryRow::height(int) { return fwk::screenDpi() / 8 + 2; }

void MoreHistoryRow::paint(HDC dc, const RECT& rect) {
  bool lit = isSelected() && m_list->hasFocus();
  RECT upper = rect;
  upper.bottom = rect.top + (rect.bottom - rect.top) / 2;
  HBRUSH whole = CreateSolidBrush(lit ? RGB(169, 219, 246) : RGB(221, 221, 221));
  HBRUSH top = CreateSolidBrush(lit ? RGB(214, 238, 251) : RGB(235, 235, 235));
  FillRect(dc, &rect, whole);
  FillRect(dc, &upper, top);
  DeleteObject(whole);
  DeleteObject(top);
  if (lit) {
    RECT edge = rect;
    DrawEdge(dc, &edge, EDGE_RAISED, BF_RECT);
  }
  static HICON chevron =
      static_cast<HICON>(LoadImage(platform::currentModule(), u"CHEVERON_UP", IMAGE_ICON, 16, 16, 0));
  if (chevron)
    DrawIconEx(dc, (rect.left + rect.right - 16) / 2, (rect.top + rect.bottom - 16) / 2, chevron, 16, 16, 0, nullptr,
               DI_NORMAL);
}

void MoreHistoryRow::activate() { m_list->owner()->requestHistory(); }

}  // namespace messaging

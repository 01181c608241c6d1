#include "message_edit.h"

#include <string>

#include "conversation_input.h"
#include "framework/fonts.h"
#include "framework/paint.h"
#include "olvaro/api.h"
#include "platform/controls.h"
#include "platform/gdi.h"
#include "platform/text.h"

namespace messaging {

void focusNextControl(HWND control, bool previous) {
  if (HWND parent = GetParent(control)) SendMessage(parent, WM_NEXTDLGCTL, previous ? 1 : 0, 0);
}

HMessage* createInputMessage(const char* contentType, std::optional<std::string_view> payload) {
  MessageData d{};
  d.size = sizeof d;
  d.mask = MESSAGE_ID | MESSAGE_CONTENTTYPE | MESSAGE_COMPLETE;
  d.id = int64_t(KS_GetLUID());
  d.contentType = contentType;
  if (payload) {
    d.mask |= MESSAGE_PAYLOAD;
    d.payload = reinterpret_cast<const uint8_t*>(payload->data());
    d.payloadLength = int32_t(payload->size());
  }
  d.complete = payload ? 1 : 0;
  return KS_CreateMessage(&d);
}

MessageEdit::MessageEdit(HWND parent, HWND window)
    : fwk::Control(u"CAPEDIT", u"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_NOHIDESEL |
                                        ES_AUTOVSCROLL,
                   0, 0, 10, 10, parent, nullptr),
      m_window(window) {}

void MessageEdit::send() {
  int length = GetWindowTextLength(hwnd());
  if (length <= 0) return;
  std::u16string text(size_t(length) + 1, u'\0');
  text.resize(size_t(GetWindowText(hwnd(), text.data(), length + 1)));
  std::string utf8 = platform::narrow(text);
  SetWindowText(hwnd(), u"");
  HMessage* message = createInputMessage("text/plain", utf8);
  if (!message) return;
  SendMessage(m_window, kInputMessage, WPARAM(hwnd()), LPARAM(message));
  KS_ReleaseMessage(message);
}

LRESULT MessageEdit::windowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  // Enter sends; its typed carriage return must not reach the box.
  if (msg == WM_CHAR && (wParam == u'\r' || wParam == u'\n')) return 0;
  return Control::windowProc(msg, wParam, lParam);
}

LRESULT MessageEdit::onKey(UINT key, bool down, LPARAM repeatData) {
  switch (key) {
    case VK_RETURN:
      if (down) {
        if (GetKeyState(VK_SHIFT) & 0x8000)
          SendMessage(hwnd(), EM_REPLACESEL, TRUE, LPARAM(u"\r\n"));
        else if (!(GetKeyState(VK_CONTROL) & 0x8000))
          send();
      }
      return 0;
    case VK_LEFT:
    case VK_RIGHT:
      if (empty()) return SendMessage(m_window, down ? WM_KEYDOWN : WM_KEYUP, key, repeatData);
      break;
    case VK_ESCAPE:
      // Back in an empty box leaves the conversation as it does elsewhere.
      if (empty()) return SendMessage(m_window, down ? WM_KEYDOWN : WM_KEYUP, key, repeatData);
      break;
    case VK_UP:
      if (SendMessage(hwnd(), EM_LINEFROMCHAR, WPARAM(-1), 0) == 0) {
        if (down) focusNextControl(hwnd(), true);
        return 0;
      }
      break;
    case VK_DOWN: {
      LRESULT line = SendMessage(hwnd(), EM_LINEFROMCHAR, WPARAM(-1), 0);
      if (line + 1 >= SendMessage(hwnd(), EM_GETLINECOUNT, 0, 0)) {
        if (down) focusNextControl(hwnd(), false);
        return 0;
      }
      break;
    }
  }
  return Control::onKey(key, down, repeatData);
}

LRESULT MessageEdit::onPaint() {
  if (!empty() || m_focused) return Control::onPaint();
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd(), &ps);
  RECT rc;
  GetClientRect(hwnd(), &rc);
  FillRect(dc, &rc, GetSysColorBrush(COLOR_WINDOW));
  {
    fwk::SavedDC saved(dc);
    SelectObject(dc, fwk::smallFont());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kHintColor);
    RECT text = rc;
    InflateRect(&text, -2, -2);
    DrawText(dc, u"Type Message Here", -1, &text, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
  }
  EndPaint(hwnd(), &ps);
  return 0;
}

LRESULT MessageEdit::onSetFocus(HWND previous) {
  m_focused = true;
  InvalidateRect(hwnd(), nullptr, TRUE);
  return Control::onSetFocus(previous);
}

LRESULT MessageEdit::onKillFocus(HWND next) {
  m_focused = false;
  InvalidateRect(hwnd(), nullptr, TRUE);
  return Control::onKillFocus(next);
}

}  // namespace messaging

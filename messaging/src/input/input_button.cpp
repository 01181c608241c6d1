#include "input_button.h"

#include <string>

#include "conversation_input.h"
#include "framework/fonts.h"
#include "framework/paint.h"
#include "platform/bitmap.h"
#include "platform/gdi.h"
#include "platform/resources.h"

namespace messaging {

InputButton::InputButton(HWND parent, HWND window)
    : fwk::Control(nullptr, u"", WS_CHILD | WS_TABSTOP, 0, 0, 10, 10, parent, nullptr), m_window(window) {
  setTakesFocusOnTap(true);
}

LRESULT InputButton::onGetDlgCode(UINT, MSG*) { return DLGC_WANTALLKEYS; }

LRESULT InputButton::onKey(UINT key, bool down, LPARAM repeatData) {
  switch (key) {
    case VK_LEFT:
    case VK_RIGHT:
    case VK_ESCAPE:
      return SendMessage(m_window, down ? WM_KEYDOWN : WM_KEYUP, key, repeatData);
    case VK_UP:
    case VK_DOWN:
      if (down) focusNextControl(hwnd(), key == VK_UP);
      return 0;
  }
  return Control::onKey(key, down, repeatData);
}

LRESULT InputButton::onSetFocus(HWND previous) {
  m_focused = true;
  InvalidateRect(hwnd(), nullptr, FALSE);
  return Control::onSetFocus(previous);
}

LRESULT InputButton::onKillFocus(HWND next) {
  m_focused = false;
  InvalidateRect(hwnd(), nullptr, FALSE);
  return Control::onKillFocus(next);
}

void InputButton::paintFace(UINT textId, bool sunken) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd(), &ps);
  RECT rc;
  GetClientRect(hwnd(), &rc);
  HBRUSH grey = CreateSolidBrush(RGB(192, 192, 192));
  FillRect(dc, &rc, grey);
  DeleteObject(grey);
  RECT edge = rc;
  InflateRect(&edge, -2, -2);
  DrawEdge(dc, &edge, sunken ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
  {
    fwk::SavedDC saved(dc);
    SelectObject(dc, fwk::boldFont());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    std::u16string text = platform::loadStringWide(platform::currentModule(), textId);
    DrawText(dc, text.c_str(), int(text.size()), &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  if (m_focused) {
    RECT focus = rc;
    InflateRect(&focus, -4, -4);
    DrawFocusRect(dc, &focus);
  }
  EndPaint(hwnd(), &ps);
}

}  // namespace messaging

#include "dialog.h"

#include "framework/fonts.h"
#include "framework/phone_dialog.h"
#include "platform/bitmap.h"
#include "platform/gdi.h"
#include "platform/module.h"
#include "platform/phoneshell.h"
#include "platform/screen.h"

namespace host {

namespace {

constexpr UINT kDialogMenuBar = 103;
constexpr COLORREF kHeaderColor = RGB(225, 232, 242);
constexpr COLORREF kHeaderLine = RGB(150, 165, 190);

}  // namespace

Dialog::Dialog(HWND owner, LPCWSTR title, std::function<void()> onClosed)
    : fwk::Control(nullptr, title, WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                   CW_USEDEFAULT, owner, nullptr),
      onClosed_(std::move(onClosed)) {
  menuBar_ = fwk::initPhoneDialog(hwnd(), kDialogMenuBar, GetModuleHandle(nullptr));
}

Dialog::~Dialog() { onClosed_ = nullptr; }

void Dialog::bringUp() {
  ShowWindow(hwnd(), SW_SHOW);
  SetForegroundWindow(hwnd());
}

void Dialog::close() {
  if (IsWindow(hwnd())) DestroyWindow(hwnd());
}

RECT Dialog::headerRect() const {
  RECT r;
  GetClientRect(hwnd(), &r);
  r.bottom = r.top + platform::screenDpi() / 5;
  return r;
}

RECT Dialog::bodyRect() const {
  RECT r;
  GetClientRect(hwnd(), &r);
  r.top = headerRect().bottom;
  return r;
}

void Dialog::setHeaderText(const std::u16string& text) {
  header_ = text;
  RECT r = headerRect();
  InvalidateRect(hwnd(), &r, TRUE);
}

LRESULT Dialog::windowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_HOTKEY && HIWORD(lParam) == VK_TBACK) {
    SHSendBackToFocusWindow(msg, wParam, lParam);
    return 0;
  }
  return fwk::Control::windowProc(msg, wParam, lParam);
}

LRESULT Dialog::onCommand(UINT id, UINT, HWND) {
  if (id == IDOK)
    onOk();
  else if (id == IDCANCEL)
    onCancel();
  return 0;
}

LRESULT Dialog::onDestroy() {
  if (auto closed = std::move(onClosed_)) {
    onClosed_ = nullptr;
    closed();
  }
  return 0;
}

LRESULT Dialog::onPaint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd(), &ps);
  RECT header = headerRect();
  HBRUSH fill = CreateSolidBrush(kHeaderColor);
  FillRect(dc, &header, fill);
  DeleteObject(fill);
  HBRUSH line = CreateSolidBrush(kHeaderLine);
  RECT rule{header.left, header.bottom - 1, header.right, header.bottom};
  FillRect(dc, &rule, line);
  DeleteObject(line);
  if (!header_.empty()) {
    RECT text = header;
    text.left += 6;
    text.right -= 6;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    HGDIOBJ old = SelectObject(dc, fwk::boldFont());
    DrawText(dc, header_.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_END_ELLIPSIS);
    SelectObject(dc, old);
  }
  EndPaint(hwnd(), &ps);
  return 0;
}

}  // namespace host

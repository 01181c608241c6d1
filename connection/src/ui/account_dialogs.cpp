#include "account_dialogs.h"

#include "contacts.h"
#include "framework/fonts.h"
#include "framework/phone_dialog.h"
#include "platform/controls.h"
#include "platform/msgbox.h"
#include "platform/phoneshell.h"
#include "platform/resources.h"
#include "platform/text.h"
#include "ui_texts.h"

namespace olvaro::conn {

namespace {

// The OK/Cancel soft-key bar in this module's resources.
constexpr UINT kDialogMenuBar = 101;
constexpr UINT kCommandOk = 1;
constexpr UINT kCommandCancel = 2;
constexpr int kAccountFieldLimit = 127;
constexpr int kIdentityFieldLimit = 255;

}  // namespace

AccountDialog::AccountDialog(HWND owner, LPCWSTR caption)
    : fwk::Control(nullptr, caption, WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                   owner, nullptr) {
  menuBar_ = fwk::initPhoneDialog(hwnd(), kDialogMenuBar, platform::currentModule());
  CreateWindowEx(0, WC_SIPPREF, u"", WS_CHILD, 0, 0, 0, 0, hwnd(), reinterpret_cast<HMENU>(uintptr_t(99)), nullptr,
                 nullptr);
}

AccountDialog::~AccountDialog() = default;

void AccountDialog::bringUp() {
  ShowWindow(hwnd(), SW_SHOW);
  SetForegroundWindow(hwnd());
}

void AccountDialog::close() { ShowWindow(hwnd(), SW_HIDE); }

bool AccountDialog::isShown() const { return IsWindowVisible(hwnd()) != FALSE; }

LRESULT AccountDialog::windowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_HOTKEY && HIWORD(lParam) == VK_TBACK) {
    SHSendBackToFocusWindow(msg, wParam, lParam);
    return 0;
  }
  return fwk::Control::windowProc(msg, wParam, lParam);
}

HWND AccountDialog::add(LPCWSTR className, LPCWSTR text, DWORD style, int height) {
  HWND child = CreateWindowEx(0, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, height, hwnd(),
                              reinterpret_cast<HMENU>(uintptr_t(nextId_++)), nullptr, nullptr);
  SendMessage(child, WM_SETFONT, reinterpret_cast<WPARAM>(fwk::smallFont()), FALSE);
  rows_.push_back({child, height});
  place();
  return child;
}

HWND AccountDialog::addLabel(LPCWSTR text) { return add(WC_STATIC, text, SS_LEFT, fwk::screenDpi() * 18 / 96); }

HWND AccountDialog::addEdit(DWORD style) {
  return add(WC_EDIT, u"", WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL | style, fwk::screenDpi() * 22 / 96);
}

HWND AccountDialog::addCheckBox(LPCWSTR text) {
  return add(WC_BUTTON, text, WS_TABSTOP | BS_AUTOCHECKBOX, fwk::screenDpi() * 22 / 96);
}

std::string AccountDialog::editText(HWND edit, int limit) {
  std::u16string text(size_t(limit) + 1, u'\0');
  int length = GetWindowText(edit, text.data(), limit + 1);
  text.resize(length > 0 ? size_t(length) : 0);
  return platform::narrow(text);
}

void AccountDialog::complain(unsigned textId) {
  MessageBox(hwnd(), loadWideText(textId).c_str(), loadWideText(kStrMissingInformation).c_str(),
             MB_OK | MB_ICONEXCLAMATION);
}

LRESULT AccountDialog::onCommand(UINT id, UINT, HWND) {
  if (id == kCommandOk) {
    onOk();
  } else if (id == kCommandCancel) {
    close();
  }
  return 0;
}

LRESULT AccountDialog::onClose() {
  close();
  return 0;
}

LRESULT AccountDialog::onSize(UINT, int, int) {
  place();
  return 0;
}

void AccountDialog::place() {
  RECT client;
  GetClientRect(hwnd(), &client);
  int margin = fwk::screenDpi() * 4 / 96;
  int y = client.top + margin;
  for (const Row& row : rows_) {
    MoveWindow(row.hwnd, client.left + margin, y, client.right - client.left - 2 * margin, row.height, TRUE);
    y += row.height + margin;
  }
}

SignInDialog::SignInDialog(HWND owner, HService* service)
    : AccountDialog(owner, u"Sign In"), service_(KS_DuplicateServiceHandle(service)) {
  addLabel(u"E-Mail Address:");
  user_ = addEdit();
  addLabel(u"Password:");
  password_ = addEdit(ES_PASSWORD);
  remember_ = addCheckBox(u"Remember me.");
  autoSignIn_ = addCheckBox(u"Sign in automatically.");
}

SignInDialog::~SignInDialog() {
  if (service_) KS_ReleaseService(service_);
}

void SignInDialog::open() {
  char user[256] = {}, pass[256] = {};
  KS_GetSettingString("connection.user", "", user, sizeof user);
  KS_GetSettingString("connection.pass", "", pass, sizeof pass);
  SetWindowText(user_, platform::widen(user).c_str());
  SetWindowText(password_, platform::widen(pass).c_str());
  bool remembered = *user && *pass;
  SendMessage(remember_, BM_SETCHECK, remembered ? BST_CHECKED : BST_UNCHECKED, 0);
  bool automatic = remembered && KS_GetSettingLong("Connection/AutoSignIn", 1) != 0;
  SendMessage(autoSignIn_, BM_SETCHECK, automatic ? BST_CHECKED : BST_UNCHECKED, 0);
  bringUp();
  SetFocus(user_);
}

LRESULT SignInDialog::onCommand(UINT id, UINT code, HWND control) {
  // Signing in by itself needs the password kept, and forgetting it ends
  // signing in by itself.
  if (code == BN_CLICKED && control == remember_) {
    if (SendMessage(remember_, BM_GETCHECK, 0, 0) != BST_CHECKED)
      SendMessage(autoSignIn_, BM_SETCHECK, BST_UNCHECKED, 0);
    return 0;
  }
  if (code == BN_CLICKED && control == autoSignIn_) {
    if (SendMessage(autoSignIn_, BM_GETCHECK, 0, 0) == BST_CHECKED)
      SendMessage(remember_, BM_SETCHECK, BST_CHECKED, 0);
    return 0;
  }
  return AccountDialog::onCommand(id, code, control);
}

void SignInDialog::onOk() {
  std::string user = editText(user_, kAccountFieldLimit);
  std::string pass = editText(password_, kAccountFieldLimit);
  if (user.empty() || pass.empty()) {
    complain(kStrNeedAccount);
    return;
  }
  ServiceData d{};
  d.size = sizeof d;
  d.mask = SERVICE_USERNAME | SERVICE_PASSWORD;
  d.userName = user.c_str();
  d.password = pass.c_str();
  if (service_) KS_SetServiceData(service_, &d);
  bool remember = SendMessage(remember_, BM_GETCHECK, 0, 0) == BST_CHECKED;
  if (remember) {
    KS_SetSettingString("connection.user", user.c_str());
    KS_SetSettingString("connection.pass", pass.c_str());
  } else {
    KS_SetSettingString("connection.pass", "");
  }
  KS_SetSettingLong("Connection/AutoSignIn", SendMessage(autoSignIn_, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
  close();
  int32_t online = 1;
  KS_CallFunction("Connection/SetPresenceStatus", &online);
}

IdentityDialog::IdentityDialog(HWND owner, HService* service)
    : AccountDialog(owner, u"Edit Identity"), service_(KS_DuplicateServiceHandle(service)) {
  addLabel(u"Nickname:");
  nickname_ = addEdit();
  addLabel(u"Status line:");
  status_ = addEdit();
}

IdentityDialog::~IdentityDialog() {
  if (service_) KS_ReleaseService(service_);
}

void IdentityDialog::open() {
  ServiceData d{};
  d.size = sizeof d;
  if (service_) KS_GetServiceData(service_, &d);
  SetWindowText(nickname_, widen(d.displayName).c_str());
  SetWindowText(status_, widen(d.text24).c_str());
  bringUp();
  SetFocus(nickname_);
  SendMessage(nickname_, EM_SETSEL, 0, -1);
}

void IdentityDialog::onOk() {
  std::string nickname = editText(nickname_, kIdentityFieldLimit);
  std::string status = editText(status_, kIdentityFieldLimit);
  if (nickname.empty() || status.empty()) {
    complain(kStrNeedIdentity);
    return;
  }
  IdentityRequest identity{nickname.c_str(), status.c_str()};
  KS_CallFunction("Connection/SetIdentity", &identity);
  close();
}

}  // namespace olvaro::conn

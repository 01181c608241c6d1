// The connection's two dialogs: "Sign In" asks for the account, "Edit
// Identity" for the nickname and status line. Each is made once and kept;
// closing only hides it.
#pragma once

#include <string>
#include <vector>

#include "framework/control.h"
#include "olvaro/api.h"

namespace olvaro::conn {

// The frame both share: full screen, owned by the main window, OK/Cancel
// soft keys, the Back key kept for the edits, and the input panel following
// the focus. Controls stack top to bottom in the order they are added.
class AccountDialog : public fwk::Control {
 public:
  AccountDialog(HWND owner, LPCWSTR caption);
  ~AccountDialog() override;

  void bringUp();
  void close();
  bool isShown() const;
  HWND menuBar() const { return menuBar_; }

  LRESULT windowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 protected:
  virtual void onOk() = 0;
  HWND addLabel(LPCWSTR text);
  HWND addEdit(DWORD style = 0);
  HWND addCheckBox(LPCWSTR text);
  // The edit's text, at most `limit` characters, as UTF-8.
  static std::string editText(HWND edit, int limit);
  void complain(unsigned textId);

  LRESULT onCommand(UINT id, UINT code, HWND control) override;
  LRESULT onClose() override;
  LRESULT onSize(UINT kind, int width, int height) override;

 private:
  HWND add(LPCWSTR className, LPCWSTR text, DWORD style, int height);
  void place();

  struct Row {
    HWND hwnd;
    int height;
  };
  HWND menuBar_ = nullptr;
  std::vector<Row> rows_;
  UINT nextId_ = 100;
};

class SignInDialog : public AccountDialog {
 public:
  SignInDialog(HWND owner, HService* service);
  ~SignInDialog() override;

  // Fills the form from the saved settings and shows it.
  void open();

  HWND userEdit() const { return user_; }
  HWND passwordEdit() const { return password_; }
  HWND rememberBox() const { return remember_; }
  HWND autoSignInBox() const { return autoSignIn_; }

 protected:
  void onOk() override;
  LRESULT onCommand(UINT id, UINT code, HWND control) override;

 private:
  HService* service_;
  HWND user_, password_, remember_, autoSignIn_;
};

class IdentityDialog : public AccountDialog {
 public:
  IdentityDialog(HWND owner, HService* service);
  ~IdentityDialog() override;

  // Fills the form from the service and shows it.
  void open();

  HWND nicknameEdit() const { return nickname_; }
  HWND statusEdit() const { return status_; }

 protected:
  void onOk() override;

 private:
  HService* service_;
  HWND nickname_, status_;
};

}  // namespace olvaro::conn

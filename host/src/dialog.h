// What the host's two dialogs share: a full-screen window owned by the main
// window, the OK/Cancel soft keys, the Back key kept for the dialog, and a
// header band at the top.
#pragma once

#include <functional>
#include <string>

#include "framework/control.h"

namespace host {

class Dialog : public fwk::Control {
 public:
  // `onClosed` runs once when the dialog's window goes away.
  Dialog(HWND owner, LPCWSTR title, std::function<void()> onClosed);
  ~Dialog() override;

  void bringUp();
  // Destroys the window; the object lives on until its owner lets it go.
  void close();
  HWND menuBar() const { return menuBar_; }
  RECT headerRect() const;
  RECT bodyRect() const;

  LRESULT windowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 protected:
  virtual void onOk() = 0;
  virtual void onCancel() { close(); }
  void setHeaderText(const std::u16string& text);

  LRESULT onCommand(UINT id, UINT code, HWND control) override;
  LRESULT onDestroy() override;
  LRESULT onPaint() override;

 private:
  HWND menuBar_ = nullptr;
  std::u16string header_;
  std::function<void()> onClosed_;
};

}  // namespace host

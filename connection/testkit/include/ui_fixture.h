// A stand-in for the host's main window: below the shell's title bar, with
// the box layout published as the host publishes its own.
#pragma once

#include <memory>

#include "framework/box_layout.h"
#include "framework/control.h"
#include "olvaro/api.h"
#include "platform/phoneshell.h"

namespace conntest {

class MainWindowStandIn {
 public:
  MainWindowStandIn() {
    window_ = std::make_unique<fwk::Control>(nullptr, u"Olvaro", WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 240, 320,
                                             nullptr, nullptr);
    SHINITDLGINFO init{};
    init.dwMask = SHIDIM_FLAGS;
    init.hDlg = window_->hwnd();
    init.dwFlags = SHIDIF_SIZEDLG | SHIDIF_SIZEDLGFULLSCREEN;
    SHInitDialog(&init);
    RECT client;
    GetClientRect(window_->hwnd(), &client);
    layout_ = std::make_unique<fwk::BoxLayout>(window_->hwnd(), WS_CHILD | WS_VISIBLE, 0, 0, client.right,
                                               client.bottom);
    KS_SetVariantPtr("core.window.hwnd", window_->hwnd());
    KS_SetVariantPtr("core.window.layout", layout_.get());
  }
  ~MainWindowStandIn() {
    KS_SetVariantPtr("core.window.layout", nullptr);
    KS_SetVariantPtr("core.window.hwnd", nullptr);
    layout_.reset();
    window_.reset();
  }
  HWND hwnd() const { return window_->hwnd(); }

 private:
  std::unique_ptr<fwk::Control> window_;
  std::unique_ptr<fwk::BoxLayout> layout_;
};

}  // namespace conntest

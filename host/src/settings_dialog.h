// Settings: four switches, the first being the start-up shortcut.
#pragma once

#include "dialog.h"

namespace host {

class SettingsDialog : public Dialog {
 public:
  // Check box ids, in the order they are stacked.
  enum : UINT { kRunAtStartup = 1001, kBeep, kTabPerGroup, kPowerSaving };

  SettingsDialog(HWND owner, std::function<void()> onClosed);

  HWND checkBox(UINT id) const;

 protected:
  void onOk() override;
  LRESULT onSize(UINT kind, int width, int height) override;

 private:
  void place();
  HWND boxes_[4] = {};
};

}  // namespace host

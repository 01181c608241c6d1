#include "settings_dialog.h"

#include "framework/fonts.h"
#include "olvaro/api.h"
#include "platform/controls.h"
#include "platform/screen.h"
#include "startup_shortcut.h"

namespace host {

namespace {

struct Switch {
  const char16_t* label;
  const char* setting;  // null: the start-up shortcut
  long defaultValue;
};

constexpr Switch kSwitches[4] = {
    {u"Run at startup", nullptr, 0},
    {u"Beep on new messages", "messaging.notifications.sound", 1},
    {u"One tab per Group", "Panorel/TabPerGroup", 0},
    {u"Power/Data Saving Mode", "advanced.powersave", 0},
};

}  // namespace

SettingsDialog::SettingsDialog(HWND owner, std::function<void()> onClosed)
    : Dialog(owner, u"Settings", std::move(onClosed)) {
  for (int i = 0; i < 4; ++i) {
    boxes_[i] = CreateWindowEx(0, WC_BUTTON, kSwitches[i].label, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX,
                               0, 0, 10, 10, hwnd(), reinterpret_cast<HMENU>(uintptr_t(kRunAtStartup + i)),
                               nullptr, nullptr);
    SendMessage(boxes_[i], WM_SETFONT, reinterpret_cast<WPARAM>(fwk::smallFont()), FALSE);
    bool checked = kSwitches[i].setting ? KS_GetSettingLong(kSwitches[i].setting, kSwitches[i].defaultValue) != 0
                                        : shortcutExists(kShortcutName);
    SendMessage(boxes_[i], BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  place();
  SetFocus(boxes_[0]);
}

HWND SettingsDialog::checkBox(UINT id) const {
  return id >= kRunAtStartup && id < kRunAtStartup + 4 ? boxes_[id - kRunAtStartup] : nullptr;
}

void SettingsDialog::onOk() {
  for (int i = 0; i < 4; ++i) {
    bool checked = SendMessage(boxes_[i], BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (kSwitches[i].setting) {
      KS_SetSettingLong(kSwitches[i].setting, checked ? 1 : 0);
    } else if (checked) {
      createShortcut(kShortcutName);
    } else {
      deleteShortcut(kShortcutName);
    }
  }
  close();
}

LRESULT SettingsDialog::onSize(UINT, int, int) {
  place();
  return 0;
}

void SettingsDialog::place() {
  if (!boxes_[0]) return;
  RECT body = bodyRect();
  int dpi = platform::screenDpi();
  int height = dpi * 22 / 96;
  int margin = dpi * 4 / 96;
  int y = body.top + margin;
  for (HWND box : boxes_) {
    MoveWindow(box, body.left + margin, y, body.right - body.left - 2 * margin, height, TRUE);
    y += height + margin;
  }
}

}  // namespace host

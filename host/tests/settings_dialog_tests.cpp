// The Settings dialog: four switches read from and written to their homes.
#include "host_window_fixture.h"
#include "platform/controls.h"
#include "settings_dialog.h"
#include "startup_shortcut.h"

using host::SettingsDialog;

namespace {

bool checked(HWND box) { return SendMessage(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }

}  // namespace

TEST_F(HostWindowTest, SettingsShowsTheStoredStatesAndOkWritesThemAndTheShortcut) {
  start();
  command(host::kCommandSettings);
  SettingsDialog* dialog = main().settingsDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(IsWindowVisible(dialog->hwnd()));
  EXPECT_EQ(testkit::windowText(dialog->hwnd()), "Settings");
  HWND run = dialog->checkBox(SettingsDialog::kRunAtStartup);
  HWND beep = dialog->checkBox(SettingsDialog::kBeep);
  HWND tabs = dialog->checkBox(SettingsDialog::kTabPerGroup);
  HWND power = dialog->checkBox(SettingsDialog::kPowerSaving);
  EXPECT_EQ(GetFocus(), run);
  EXPECT_EQ(testkit::windowText(run), "Run at startup");
  EXPECT_EQ(testkit::windowText(power), "Power/Data Saving Mode");
  // Defaults: no shortcut, beep on, the others off. Stacked top to bottom.
  EXPECT_FALSE(checked(run));
  EXPECT_TRUE(checked(beep));
  EXPECT_FALSE(checked(tabs));
  EXPECT_FALSE(checked(power));
  EXPECT_LT(testkit::screenRect(run).bottom, testkit::screenRect(beep).top + 1);
  EXPECT_LT(testkit::screenRect(tabs).bottom, testkit::screenRect(power).top + 1);
  testkit::saveScreenshot("host_settings");

  testkit::tap(run);
  testkit::tap(beep);
  testkit::tap(power);
  // A second Settings command brings up the same dialog.
  command(host::kCommandSettings);
  EXPECT_EQ(main().settingsDialog(), dialog);
  testkit::key(VK_TSOFT1);  // "OK"
  EXPECT_EQ(main().settingsDialog(), nullptr);
  EXPECT_TRUE(host::shortcutExists(host::kShortcutName));
  EXPECT_EQ(KS_GetSettingLong("messaging.notifications.sound", 1), 0);
  EXPECT_EQ(KS_GetSettingLong("Panorel/TabPerGroup", 0), 0);
  EXPECT_EQ(KS_GetSettingLong("advanced.powersave", 0), 1);

  // The settings reach the registry when the hub goes; a fresh hub and a
  // fresh dialog read them back.
  KS_API_Cleanup();
  platform::registryReset();
  command(host::kCommandSettings);
  dialog = main().settingsDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(checked(dialog->checkBox(SettingsDialog::kRunAtStartup)));
  EXPECT_FALSE(checked(dialog->checkBox(SettingsDialog::kBeep)));
  EXPECT_FALSE(checked(dialog->checkBox(SettingsDialog::kTabPerGroup)));
  EXPECT_TRUE(checked(dialog->checkBox(SettingsDialog::kPowerSaving)));

  // Unchecking the first switch deletes the shortcut.
  testkit::tap(dialog->checkBox(SettingsDialog::kRunAtStartup));
  SendMessage(dialog->hwnd(), WM_COMMAND, IDOK, 0);
  testkit::pump();
  EXPECT_FALSE(host::shortcutExists(host::kShortcutName));
}

TEST_F(HostWindowTest, SettingsCancelChangesNothing) {
  start();
  KS_SetSettingLong("Panorel/TabPerGroup", 1);
  command(host::kCommandSettings);
  SettingsDialog* dialog = main().settingsDialog();
  ASSERT_NE(dialog, nullptr);
  testkit::tap(dialog->checkBox(SettingsDialog::kRunAtStartup));
  testkit::tap(dialog->checkBox(SettingsDialog::kTabPerGroup));
  testkit::key(VK_TSOFT2);  // "Cancel"
  EXPECT_EQ(main().settingsDialog(), nullptr);
  EXPECT_FALSE(host::shortcutExists(host::kShortcutName));
  EXPECT_EQ(KS_GetSettingLong("Panorel/TabPerGroup", 0), 1);
}

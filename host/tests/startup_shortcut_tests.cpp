// The start-up shortcut that starts the host hidden.
#include "host_fixture.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "plugin_loader.h"
#include "startup_shortcut.h"

using StartupShortcutTest = hubtest::HubTest;

TEST_F(StartupShortcutTest, TargetQuotesTheHostPathAndAddsHidden) {
  EXPECT_EQ(platform::narrow(host::shortcutTarget(u"/opt/My Programs/olvaro")), "\"/opt/My Programs/olvaro\" /hidden");
  std::string path = platform::narrow(host::shortcutPath(u"Olvaro"));
  ASSERT_GE(path.size(), 11u);
  EXPECT_EQ(path.substr(path.size() - 11), "\\Olvaro.lnk");
}

TEST_F(StartupShortcutTest, CreateLookUpAndDelete) {
  EXPECT_FALSE(host::shortcutExists(host::kShortcutName));
  EXPECT_EQ(host::createShortcut(host::kShortcutName), 1);
  EXPECT_TRUE(host::shortcutExists(host::kShortcutName));

  std::u16string path = host::shortcutPath(host::kShortcutName);
  WCHAR target[1024] = {};
  ASSERT_TRUE(SHGetShortcutTarget(path.data(), target, 1024));
  EXPECT_EQ(std::u16string(target), host::shortcutTarget(host::hostPath()));

  EXPECT_TRUE(host::deleteShortcut(host::kShortcutName));
  EXPECT_FALSE(host::shortcutExists(host::kShortcutName));
  EXPECT_FALSE(host::deleteShortcut(host::kShortcutName));
}

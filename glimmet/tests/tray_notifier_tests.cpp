// The tray icon by connection state and unread count, the blink, the
// bubble's record and when it comes and goes, and the tray and bubble
// answering taps and keys while the main window is hidden.
#include <set>

#include "tray_fixture.h"

using namespace glimmettest;
using glimmet::kBubbleClass;

namespace {

POINT centre(const RECT& r) { return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

}  // namespace

TEST_F(TrayTest, IconFollowsTheStateWithNothingUnread) {
  signedIn(true);
  start();
  ASSERT_NE(sink(), nullptr);
  EXPECT_EQ(testkit::className(sink()), "KS_GLIMMET_SINK_WINDOW");
  EXPECT_FALSE(IsWindowVisible(sink()));
  auto icons = platform::shellTrayIcons();
  ASSERT_EQ(icons.size(), 1u);
  EXPECT_EQ(icons[0].callbackMessage, 0x8000u);
  EXPECT_EQ(icons[0].tip, u"");
  EXPECT_EQ(shown(), "AA_ORVALO");
  EXPECT_TRUE(bubbles().empty());
  signedIn(false);
  EXPECT_EQ(shown(), "ORVALO_GRAY");
  // No blinking with nothing unread.
  for (int i = 0; i < 3; ++i) {
    testkit::runClock(glimmet::kBlinkMs);
    EXPECT_EQ(shown(), "ORVALO_GRAY");
  }
  signedIn(true);
  EXPECT_EQ(shown(), "AA_ORVALO");
}

TEST_F(TrayTest, BubbleRecordAndItsComings) {
  signedIn(true);
  start();
  unread(3);
  auto shownBubbles = bubbles();
  ASSERT_EQ(shownBubbles.size(), 1u);
  const auto& b = shownBubbles[0];
  EXPECT_EQ(b.id, 1u);
  EXPECT_EQ(b.priority, 0x1B1);
  EXPECT_EQ(b.duration, 0u);
  EXPECT_EQ(b.flags, 0x21u);
  EXPECT_EQ(b.sink, sink());
  EXPECT_EQ(b.lParam, 0);
  EXPECT_EQ(b.title, u"Olvaro Messages");
  EXPECT_EQ(b.html,
            u"You have Olvaro messages waiting<br /><br /><table width='100%'><tr><td width='50%'><input "
            u"type='button' name='cmd:10' value='Open Olvaro' style='width: 100%'></td><td width='50%'><input "
            u"type='button' name='cmd:11' value='Dismiss' style='width: 100%'></td></tr></table>");
  EXPECT_TRUE(drawsAs(b.icon, GetModuleHandle(nullptr), u"MESSAGE_UNREAD"));

  // 3 to 4 keeps the bubble as it is.
  unread(4);
  EXPECT_EQ(bubbles().size(), 1u);
  EXPECT_TRUE(notifier->bubbleShown());

  // Dismissed, it stays away until the count changes again.
  SendMessage(sink(), WM_COMMAND, MAKEWPARAM(glimmet::kDismissCommand, 0), 0);
  EXPECT_TRUE(bubbles().empty());
  EXPECT_FALSE(notifier->bubbleShown());
  unread(4);
  EXPECT_TRUE(bubbles().empty());
  unread(5);
  EXPECT_EQ(bubbles().size(), 1u);
  EXPECT_EQ(g_activations, 0);

  // Read: the bubble goes and the blinking stops.
  unread(0);
  EXPECT_TRUE(bubbles().empty());
  for (int i = 0; i < 3; ++i) {
    testkit::runClock(glimmet::kBlinkMs);
    EXPECT_EQ(shown(), "AA_ORVALO");
  }
}

TEST_F(TrayTest, UnreadBlinksWithTheStateIconAndKeepsBlinkingAfterDismiss) {
  signedIn(true);
  start();
  unread(2);
  signedIn(false);  // signed out with messages unread
  std::set<std::string> seen;
  for (int i = 0; i < 4; ++i) {
    testkit::runClock(glimmet::kBlinkMs);
    EXPECT_EQ(shown(), unreadPhase() ? "MESSAGE_UNREAD" : "ORVALO_GRAY") << "step " << i;
    seen.insert(shown());
  }
  EXPECT_EQ(seen.size(), 2u);
  SendMessage(sink(), WM_COMMAND, MAKEWPARAM(glimmet::kDismissCommand, 0), 0);
  EXPECT_TRUE(bubbles().empty());
  signedIn(true);
  seen.clear();
  for (int i = 0; i < 4; ++i) {
    testkit::runClock(glimmet::kBlinkMs);
    EXPECT_EQ(shown(), unreadPhase() ? "MESSAGE_UNREAD" : "AA_ORVALO") << "step " << i;
    seen.insert(shown());
  }
  EXPECT_EQ(seen.size(), 2u);
}

TEST_F(TrayTest, TrayCallbacksAndCommands) {
  start();
  unread(1);
  // Only a left press or double-click opens the program; every callback
  // takes the bubble away.
  SendMessage(sink(), glimmet::kTrayCallbackMessage, glimmet::kTrayIconId, WM_LBUTTONUP);
  testkit::pump();
  EXPECT_EQ(g_activations, 0);
  EXPECT_TRUE(bubbles().empty());
  SendMessage(sink(), glimmet::kTrayCallbackMessage, glimmet::kTrayIconId, WM_LBUTTONDBLCLK);
  testkit::pump();
  EXPECT_EQ(g_activations, 1);
  unread(2);
  SendMessage(sink(), glimmet::kTrayCallbackMessage, glimmet::kTrayIconId, WM_LBUTTONDOWN);
  testkit::pump();
  EXPECT_EQ(g_activations, 2);
  EXPECT_TRUE(bubbles().empty());
  // Any other command removes it too, without opening anything.
  unread(3);
  SendMessage(sink(), WM_COMMAND, MAKEWPARAM(12, 0), 0);
  testkit::pump();
  EXPECT_TRUE(bubbles().empty());
  EXPECT_EQ(g_activations, 2);
  unread(4);
  SendMessage(sink(), WM_COMMAND, MAKEWPARAM(glimmet::kOpenCommand, 0), 0);
  testkit::pump();
  EXPECT_EQ(g_activations, 3);
  EXPECT_TRUE(bubbles().empty());
}

// What a desktop's own tray is given: an item only while the program shows
// no window, in the state's icon (not blinking), asking for attention with
// the unread icon while messages wait.
TEST_F(TrayTest, TheDesktopTrayItemFollowsTheWindowTheStateAndTheUnread) {
  HMODULE host = GetModuleHandle(nullptr);
  platform::DesktopTrayItem item;
  EXPECT_FALSE(platform::shellDesktopTray(&item)) << "no tray icon yet";
  signedIn(true);
  start();
  ShowWindow(mainWindow, SW_SHOW);
  EXPECT_FALSE(platform::shellDesktopTray(&item)) << "the main window shows";
  ShowWindow(mainWindow, SW_HIDE);
  ASSERT_TRUE(platform::shellDesktopTray(&item));
  EXPECT_EQ(item.hwnd, sink());
  EXPECT_EQ(item.id, glimmet::kTrayIconId);
  EXPECT_EQ(item.callback, glimmet::kTrayCallbackMessage);
  EXPECT_EQ(item.title, u"Olvaro");
  EXPECT_FALSE(item.attention);
  EXPECT_TRUE(pixmapShows(item.icon, host, u"AA_ORVALO"));
  EXPECT_TRUE(pixmapShows(item.attentionIcon, host, u"MESSAGE_UNREAD"));
  EXPECT_EQ(item.openLabel, u"Öffnen") << "the menu's words are the string table's";
  EXPECT_EQ(item.exitLabel, u"Beenden");

  unread(2);
  for (int i = 0; i < 2; ++i) {
    testkit::runClock(glimmet::kBlinkMs);
    ASSERT_TRUE(platform::shellDesktopTray(&item));
    EXPECT_TRUE(item.attention) << "step " << i;
    EXPECT_TRUE(pixmapShows(item.icon, host, u"AA_ORVALO")) << "the desktop's tray blinks by itself; step " << i;
  }
  signedIn(false);
  ASSERT_TRUE(platform::shellDesktopTray(&item));
  EXPECT_TRUE(pixmapShows(item.icon, host, u"ORVALO_GRAY"));
  unread(0);
  ASSERT_TRUE(platform::shellDesktopTray(&item));
  EXPECT_FALSE(item.attention);

  // The shell's title bar with the icon stays in view all along: only the
  // program's own windows count.
  EXPECT_TRUE(IsWindowVisible(platform::shellTitleBar()));
  ShowWindow(mainWindow, SW_SHOW);
  EXPECT_FALSE(platform::shellDesktopTray(&item));
  ShowWindow(mainWindow, SW_HIDE);
  EXPECT_TRUE(platform::shellDesktopTray(&item));
  notifier.reset();
  EXPECT_FALSE(platform::shellDesktopTray(&item)) << "the icon went";
}

TEST_F(TrayTest, TapsAndKeysOnTheScreenWhileTheMainWindowIsHidden) {
  signedIn(true);
  start();
  EXPECT_FALSE(IsWindowVisible(mainWindow));
  HWND bar = platform::shellTitleBar();
  ASSERT_TRUE(IsWindowVisible(bar));
  RECT iconRect{};
  ASSERT_TRUE(platform::shellTrayIconRect(sink(), glimmet::kTrayIconId, &iconRect));
  RECT ink = testkit::inkBox(iconRect, testkit::pixel(iconRect.left, iconRect.top));
  EXPECT_FALSE(IsRectEmpty(&ink)) << "the icon is drawn in the title bar";

  unread(1);
  RECT noteRect{};
  ASSERT_TRUE(platform::shellTrayNotificationRect(kBubbleClass, glimmet::kBubbleId, &noteRect));
  EXPECT_EQ(platform::shellNotificationBubble(kBubbleClass, glimmet::kBubbleId), nullptr) << "straight to the tray";

  // Stylus: the bubble opens from its icon, "Dismiss" takes it away.
  POINT p = centre(noteRect);
  testkit::tap(p.x, p.y);
  HWND bubble = platform::shellNotificationBubble(kBubbleClass, glimmet::kBubbleId);
  ASSERT_NE(bubble, nullptr);
  HWND open = testkit::findWindow("BUTTON", "Open Olvaro", bubble);
  HWND dismiss = testkit::findWindow("BUTTON", "Dismiss", bubble);
  ASSERT_TRUE(open && dismiss);
  testkit::tap(dismiss);
  EXPECT_TRUE(bubbles().empty());
  EXPECT_FALSE(IsWindow(bubble));
  EXPECT_EQ(g_activations, 0);

  // Keys: the opened bubble's first button has the focus; the action key
  // on "Open Olvaro" opens the program.
  unread(2);
  ASSERT_TRUE(platform::shellTrayNotificationRect(kBubbleClass, glimmet::kBubbleId, &noteRect));
  p = centre(noteRect);
  testkit::tap(p.x, p.y);
  bubble = platform::shellNotificationBubble(kBubbleClass, glimmet::kBubbleId);
  ASSERT_NE(bubble, nullptr);
  open = testkit::findWindow("BUTTON", "Open Olvaro", bubble);
  dismiss = testkit::findWindow("BUTTON", "Dismiss", bubble);
  EXPECT_EQ(GetFocus(), open);
  testkit::key(VK_RIGHT);
  EXPECT_EQ(GetFocus(), dismiss);
  testkit::key(VK_LEFT);
  EXPECT_EQ(GetFocus(), open);
  testkit::key(VK_RETURN);
  EXPECT_EQ(g_activations, 1);
  EXPECT_TRUE(bubbles().empty());

  // A tap on the tray icon itself opens the program and takes the bubble.
  unread(3);
  ASSERT_EQ(bubbles().size(), 1u);
  p = centre(iconRect);
  testkit::tap(p.x, p.y);
  EXPECT_EQ(g_activations, 2);
  EXPECT_TRUE(bubbles().empty());
}

TEST_F(TrayTest, GoingAwayTakesIconBubbleAndSubscriptions) {
  start();
  unread(1);
  ASSERT_EQ(bubbles().size(), 1u);
  HWND window = sink();
  notifier.reset();
  testkit::pump();
  EXPECT_TRUE(platform::shellTrayIcons().empty());
  EXPECT_TRUE(bubbles().empty());
  EXPECT_FALSE(IsWindow(window));
  unread(2);
  signedIn(true);
  testkit::runClock(2 * glimmet::kBlinkMs);
  EXPECT_TRUE(bubbles().empty());
  EXPECT_TRUE(platform::shellTrayIcons().empty());
  // A new notifier (the plug-in started again) works with the class made
  // the first time, and blinks for messages already waiting.
  start();
  EXPECT_EQ(platform::shellTrayIcons().size(), 1u);
  std::set<std::string> seen;
  for (int i = 0; i < 2; ++i) {
    testkit::runClock(glimmet::kBlinkMs);
    seen.insert(shown());
  }
  EXPECT_EQ(seen, (std::set<std::string>{"AA_ORVALO", "MESSAGE_UNREAD"}));
}

TEST_F(TrayTest, OnAPhoneTheIconsAreTheModulesOwnByNumber) {
  setenv("OLVARO_PLATFORM", "SmartPhone", 1);
  start();
  // This program carries stand-ins under the numbers that draw unlike the
  // host's icons, so the numbered ones are seen to be used.
  HMODULE self = GetModuleHandle(nullptr);
  EXPECT_TRUE(drawsAs(trayIcon(), self, MAKEINTRESOURCE(103)));
  signedIn(true);
  EXPECT_TRUE(drawsAs(trayIcon(), self, MAKEINTRESOURCE(101)));
  unread(1);
  ASSERT_EQ(bubbles().size(), 1u);
  EXPECT_TRUE(drawsAs(bubbles()[0].icon, self, MAKEINTRESOURCE(102)));
  EXPECT_EQ(shown(), "other");
}

// The run from start to stop, the main window and its commands.
#include "host_window_fixture.h"
#include "platform/phoneshell.h"
#include "platform/thread.h"

namespace {

// Records "core.startup" into the same log as the plug-ins, with what the
// host had published by then.
struct StartupProbe {
  PluginLog* log;
  bool windowPublished = false;
  bool layoutPublished = false;
  static uint32_t onStartup(void* user, void*) {
    auto* self = static_cast<StartupProbe*>(user);
    self->log->entries.push_back("core.startup");
    HWND hwnd = static_cast<HWND>(KS_GetVariantPtr("core.window.hwnd"));
    self->windowPublished = hwnd && IsWindow(hwnd);
    self->layoutPublished = KS_GetVariantPtr("core.window.layout") != nullptr;
    return 0;
  }
};

// Records commands as the plug-ins see them, and what the host had done by
// then.
struct CommandProbe {
  std::vector<std::string> log;
  host::MainWindow* main = nullptr;
  static uint32_t onCommand(void* user, void* id) {
    auto* self = static_cast<CommandProbe*>(user);
    auto n = reinterpret_cast<uintptr_t>(id);
    std::string entry = "command " + std::to_string(n);
    if (n == host::kCommandSettings && self->main->settingsDialog()) entry += " after the dialog";
    self->log.push_back(entry);
    return 0;
  }
  static uint32_t onAbout(void* user, void*) {
    static_cast<CommandProbe*>(user)->log.push_back("about");
    return 0;
  }
};

}  // namespace

TEST_F(HostWindowTest, PluginsStartBeforeStartupAndStopInTheSameOrderAfterTheLoop) {
  PluginLog log;
  StartupProbe probe{&log};
  Subscription* s = KS_EventSubscribe(&StartupProbe::onStartup, "core.startup", &probe);
  start({"bb_second.so", "cc_refuses.so", "aa_first.so", "dd_noexport.so"});
  EXPECT_EQ(log.entries, (std::vector<std::string>{"start aa_first", "start bb_second", "core.startup"}));
  EXPECT_TRUE(probe.windowPublished);
  EXPECT_TRUE(probe.layoutPublished);
  KS_EventUnsubscribe(s);

  HWND hwnd = main().hwnd();
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_EQ(testkit::windowText(hwnd), "Olvaro");
  EXPECT_EQ(KS_GetVariantPtr("core.window.layout"), static_cast<void*>(main().layout()));
  testkit::saveScreenshot("host_main_window");

  // Not signed in: closing (as KS_Exit does) ends the loop without asking.
  SendMessage(hwnd, WM_CLOSE, 0, 0);
  testkit::pump();
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_TRUE(quitPosted());
  host_->stop();
  EXPECT_EQ(log.entries, (std::vector<std::string>{"start aa_first", "start bb_second", "core.startup",
                                                   "stop aa_first", "stop bb_second"}));
}

TEST_F(HostWindowTest, HiddenStartShowsItselfOnActivation) {
  start({}, u"/hidden /newinstance");
  HWND hwnd = main().hwnd();
  EXPECT_FALSE(IsWindowVisible(hwnd));
  // What a second start posts to every top-level window.
  PostMessage(HWND_BROADCAST, host::activateMessage(), 0, 0);
  testkit::pump();
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_EQ(GetForegroundWindow(), hwnd);
}

TEST_F(HostWindowTest, EveryCommandReachesThePlugInsBeforeTheHostHandlesIt) {
  start();
  CommandProbe probe;
  probe.main = &main();
  Subscription* c = KS_EventSubscribe(&CommandProbe::onCommand, "core.window.OnCommand", &probe);
  Subscription* a = KS_EventSubscribe(&CommandProbe::onAbout, "core.window.menu.about", &probe);
  command(host::kCommandAbout);
  command(host::kCommandSettings);
  command(50001);  // a plug-in's own id: raised, nothing else
  EXPECT_EQ(probe.log, (std::vector<std::string>{"command 40004", "about", "command 40015", "command 50001"}));
  // The menu resource's ids are the shared host commands, none in the pool
  // plug-ins get theirs from.
  std::vector<UINT> ids;
  auto collect = [&](auto& self, HMENU menu) -> void {
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
      if (HMENU sub = GetSubMenu(menu, i)) self(self, sub);
      else if (UINT id = GetMenuItemID(menu, i); id != 0 && id != UINT(-1)) ids.push_back(id);
    }
  };
  collect(collect, reinterpret_cast<HMENU>(SendMessage(main().menuBar(), SHCMBM_GETSUBMENU, 0, host::kCommandMenu)));
  EXPECT_EQ(ids, (std::vector<UINT>{olvaro::kCommandAddService, olvaro::kCommandSettings, olvaro::kCommandAbout,
                                    olvaro::kCommandExit}));
  EXPECT_NE(main().settingsDialog(), nullptr);
  KS_EventUnsubscribe(c);
  KS_EventUnsubscribe(a);
}

TEST_F(HostWindowTest, ExitWhileSignedOutEndsWithoutAsking) {
  start();
  setSignedIn(false);
  HWND hwnd = main().hwnd();
  command(host::kCommandExit);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_TRUE(quitPosted());
}

TEST_F(HostWindowTest, CommandLineWordsAreCaseSensitiveSubstrings) {
  auto c = host::parseCommandLine(u"\"/opt/x/olvaro\" xAppRunAtTimex /hidden");
  EXPECT_TRUE(c.runAtTime);
  EXPECT_TRUE(c.hidden);
  EXPECT_FALSE(c.newInstance);
  c = host::parseCommandLine(u"olvaro apprunattime /HIDDEN /newinstance");
  EXPECT_FALSE(c.runAtTime);
  EXPECT_FALSE(c.hidden);
  EXPECT_TRUE(c.newInstance);
  // --version and --help are whole words after the program, whose own
  // path may hold them.
  c = host::parseCommandLine(u"\"/opt/--version x/olvaro\" /hidden --help");
  EXPECT_FALSE(c.version);
  EXPECT_TRUE(c.help);
  c = host::parseCommandLine(u"olvaro --version");
  EXPECT_TRUE(c.version);
  EXPECT_FALSE(c.help);
  c = host::parseCommandLine(u"olvaro --versions -hx");
  EXPECT_FALSE(c.version || c.help);
}

#include "message_box_probe.h"
#include "string_table.h"

TEST_F(HostWindowTest, ExitWhileSignedInAsksAndOnlyYesEnds) {
  start();
  setSignedIn(true);
  HWND hwnd = main().hwnd();
  {
    MessageBoxProbe no(VK_TSOFT2);
    command(host::kCommandExit);
    ASSERT_EQ(no.shown.size(), 1u);
    EXPECT_EQ(no.shown[0].caption, "Exit Olvaro?");
    EXPECT_EQ(no.shown[0].text,
              "If you exit, you won't receive any instant messages until you sign in again. Are you sure?");
  }
  EXPECT_TRUE(IsWindow(hwnd));
  EXPECT_FALSE(quitPosted());
  {
    MessageBoxProbe yes(VK_TSOFT1);
    SendMessage(hwnd, WM_CLOSE, 0, 0);  // as KS_Exit does
    testkit::pump();
    EXPECT_EQ(yes.shown.size(), 1u);
  }
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_TRUE(quitPosted());
}

TEST_F(HostWindowTest, HostStringTableIsCompiledIn) {
  EXPECT_EQ(testkit::narrow(host::loadText(104)), "Hide");
  EXPECT_EQ(testkit::narrow(host::loadText(107)), "Cancel");
  EXPECT_EQ(testkit::narrow(host::loadText(109)), "Select a service type");
  EXPECT_EQ(testkit::narrow(host::loadText(110)), "Enter your account details");
}

TEST_F(HostWindowTest, HideLeavesTheScreenAndActivationBringsTheWindowBack) {
  start();
  HWND hwnd = main().hwnd();
  testkit::key(VK_TSOFT1);  // the left soft key is "Hide"
  EXPECT_FALSE(IsWindowVisible(hwnd));
  PostMessage(HWND_BROADCAST, host::activateMessage(), 0, 0);
  testkit::pump();
  EXPECT_TRUE(IsWindowVisible(hwnd));
}

TEST_F(HostWindowTest, HideOnAKeysOnlyPhoneMinimisesOutOfView) {
  setenv("OLVARO_PLATFORM", "SmartPhone", 1);
  start();
  HWND hwnd = main().hwnd();
  testkit::key(VK_TSOFT1);
  unsetenv("OLVARO_PLATFORM");
  EXPECT_FALSE(IsWindowVisible(hwnd));
  PostMessage(HWND_BROADCAST, host::activateMessage(), 0, 0);
  testkit::pump();
  EXPECT_TRUE(IsWindowVisible(hwnd));
}

TEST_F(HostWindowTest, PlugInsPlaceTheirScreensInThePublishedLayout) {
  start();
  auto* layout = static_cast<fwk::BoxLayout*>(KS_GetVariantPtr("core.window.layout"));
  ASSERT_EQ(layout, main().layout());
  HWND screen = CreateWindowEx(0, u"STATIC", u"", WS_CHILD | WS_VISIBLE, 0, 0, 1, 1, layout->hwnd(), nullptr,
                               nullptr, nullptr);
  layout->addStretching(screen);
  testkit::pump();
  RECT client, placed;
  GetClientRect(main().hwnd(), &client);
  GetClientRect(screen, &placed);
  EXPECT_EQ(placed.right, client.right);
  EXPECT_EQ(placed.bottom, client.bottom);
  // The work area stays clear of the soft keys.
  RECT keys;
  ASSERT_TRUE(platform::shellSoftKeyRect(0, &keys));
  EXPECT_LE(testkit::screenRect(screen).bottom, keys.top);
}

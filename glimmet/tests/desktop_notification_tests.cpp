// The unread bubble on a real desktop: Xvfb, a private session bus and
// dunst (testkit::DesktopSession), and this test program started again as
// the client in an SDL window. The client takes "unread N" lines from a
// command file and writes what it sees (bubble shown, activations, main
// window shown) to a state file; the test works the daemon as a person
// would, through dunstctl.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/clock.h"
#include "platform/desktop.h"
#include "platform/end_request.h"
#include "platform/text.h"
#include "platform/screen.h"
#include "testkit/desktop_session.h"
#include "tray_fixture.h"

namespace glimmettest {
namespace {

constexpr const char* kClientFolder = "OLVARO_TEST_DESKTOP_CLIENT";

std::string readAll(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string lastLine(const std::string& text) {
  std::string t = text;
  while (!t.empty() && t.back() == '\n') t.pop_back();
  size_t nl = t.rfind('\n');
  return nl == std::string::npos ? t : t.substr(nl + 1);
}

bool waitFor(const std::function<bool()>& ready, int seconds = 15) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

constexpr UINT kEndRequest = WM_APP + 1;
bool g_endAsked = false;

// The host's answer to the activation broadcast: its window comes up; and
// to the request to end: noted.
LRESULT CALLBACK hostLikeProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  static const UINT activate = RegisterWindowMessage(u"ORVALO_ACTIVATE");
  if (msg == activate) {
    ++g_activations;
    ShowWindow(h, SW_SHOW);
    SetForegroundWindow(h);
    return 0;
  }
  if (msg == kEndRequest) {
    g_endAsked = true;
    return 0;
  }
  return DefWindowProc(h, msg, wParam, lParam);
}

// The client's side, run only in the program the tests below start.
class DesktopClient : public TrayTest {
  void TestBody() override;
};

[[maybe_unused]] const bool g_clientRegistered = std::getenv(kClientFolder) &&
                                ::testing::RegisterTest("DesktopClient", "ShowsTheTrayOnTheDesktopItRunsOn", nullptr,
                                                        nullptr, __FILE__, __LINE__,
                                                        []() -> TrayTest* { return new DesktopClient; });

}  // namespace

void DesktopClient::TestBody() {
  const char* folder = std::getenv(kClientFolder);
  platform::clockSetReal();
  ASSERT_TRUE(platform::screenSelectBackend("sdl")) << "no window on " << std::getenv("DISPLAY");
  SetWindowLongPtr(mainWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(hostLikeProc));
  platform::setEndTarget(mainWindow, kEndRequest);
  signedIn(true);
  start();
  std::string commands = std::string(folder) + "/commands", state = std::string(folder) + "/state";
  size_t done = 0;
  std::string said;
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(90);
       std::chrono::steady_clock::now() < end;) {
    testkit::pump();
    std::string text = readAll(commands);
    size_t nl;
    bool finished = false;
    while ((nl = text.find('\n', done)) != std::string::npos) {
      std::string line = text.substr(done, nl - done);
      done = nl + 1;
      if (line.rfind("unread ", 0) == 0) unread(std::atol(line.c_str() + 7));
      if (line.rfind("note ", 0) == 0) {
        std::string note = line.substr(5);
        size_t bar = note.find('|');
        platform::shellDesktopNote(platform::widen(note.substr(0, bar)), platform::widen(note.substr(bar + 1)));
      }
      if (line == "show" || line == "hide") ShowWindow(mainWindow, line == "show" ? SW_SHOW : SW_HIDE);
      if (line == "end") finished = true;
    }
    if (finished) break;
    std::ostringstream now;
    now << "bubble=" << bubbles().size() << " activations=" << g_activations
        << " main=" << (IsWindowVisible(mainWindow) ? 1 : 0) << (g_endAsked ? " ended" : "");
    if (now.str() != said) {
      said = now.str();
      std::ofstream(state, std::ios::app) << said << "\n";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  platform::setEndTarget(nullptr, 0);
}

class DesktopNotification : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    bool withService = std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()).find(
                           "NoService") == std::string::npos;
    if (!desktop_.start(&why, withService)) GTEST_SKIP() << why;
  }
  void TearDown() override {
    if (client_ > 0) {
      command("end");
      for (int i = 0; i < 100 && waitpid(client_, nullptr, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  void startClient() {
    folder_ = desktop_.folder() + "/client";
    std::filesystem::create_directories(folder_);
    std::ofstream(folder_ + "/commands");
    char self[4096] = {};
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    client_ = desktop_.spawn({self, "--gtest_filter=DesktopClient.*"},
                             {std::string(kClientFolder) + "=" + folder_, "SDL_VIDEODRIVER=x11"},
                             folder_ + "/output");
    ASSERT_GT(client_, 0);
    ASSERT_TRUE(waitFor([&] { return !state().empty(); }, 30)) << readAll(folder_ + "/output");
  }
  void command(const std::string& line) { std::ofstream(folder_ + "/commands", std::ios::app) << line << "\n"; }
  std::string state() { return lastLine(readAll(folder_ + "/state")); }
  std::string dunst(const std::string& args) {
    std::string out;
    desktop_.run("dunstctl " + args, &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
  }
  // How many notes the daemon shows now.
  int displayed() { return std::atoi(dunst("count displayed").c_str()); }
  size_t notifyCount() {
    std::string calls = desktop_.notifyCalls();
    size_t n = 0;
    for (size_t at = 0; (at = calls.find("member=Notify", at)) != std::string::npos; ++at) ++n;
    return n;
  }

  testkit::DesktopSession desktop_;
  std::string folder_;
  pid_t client_ = -1;
};

TEST_F(DesktopNotification, TheUnreadBubbleIsADesktopNoteWhoseActionsWorkAsItsButtons) {
  startClient();
  EXPECT_EQ(state(), "bubble=0 activations=0 main=0");

  // Unread messages: one note, with the bubble's title, text and buttons.
  command("unread 3");
  ASSERT_TRUE(waitFor([&] { return displayed() == 1; })) << desktop_.notifyCalls();
  std::string call = desktop_.notifyCalls();
  EXPECT_NE(call.find("string \"Olvaro Messages\""), std::string::npos) << call;
  EXPECT_NE(call.find("string \"You have Olvaro messages waiting\""), std::string::npos) << call;
  for (const char* action : {"string \"cmd:10\"", "string \"Open Olvaro\"", "string \"cmd:11\"", "string \"Dismiss\""})
    EXPECT_NE(call.find(action), std::string::npos) << action << " in " << call;
  EXPECT_EQ(call.find("<input"), std::string::npos) << "the HTML is made plain";
  // For a person to look at: the note beside the device's window.
  std::system(("mkdir -p '" + testkit::screenshotDir() + "'").c_str());
  desktop_.run("import -window root '" + testkit::screenshotDir() + "/DesktopNotification.png'");
  // More unread keep the same bubble: no second note.
  command("unread 4");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(displayed(), 1);
  EXPECT_EQ(notifyCount(), 1u);

  // Clicking the note opens the program as "Open Olvaro" does, and the
  // bubble and its note go.
  EXPECT_EQ(dunst("action 0"), "");
  EXPECT_TRUE(waitFor([&] { return state() == "bubble=0 activations=1 main=1"; })) << state();
  EXPECT_TRUE(waitFor([&] { return displayed() == 0; }));

  // A new unread message brings the bubble back; the user closing its note
  // is "Dismiss": the bubble goes, nothing is opened.
  command("unread 5");
  ASSERT_TRUE(waitFor([&] { return displayed() == 1 && state() == "bubble=1 activations=1 main=1"; })) << state();
  EXPECT_EQ(notifyCount(), 2u);
  EXPECT_EQ(dunst("close"), "");
  EXPECT_TRUE(waitFor([&] { return state() == "bubble=0 activations=1 main=1"; })) << state();
  EXPECT_EQ(displayed(), 0);

  // Read messages remove the bubble, and with it the note.
  command("unread 6");
  ASSERT_TRUE(waitFor([&] { return displayed() == 1; }));
  command("unread 0");
  EXPECT_TRUE(waitFor([&] { return displayed() == 0 && state() == "bubble=0 activations=1 main=1"; })) << state();

  // A later note (a message's) takes the place of the bubble's note.
  command("unread 7");
  ASSERT_TRUE(waitFor([&] { return displayed() == 1; }));
  size_t before = notifyCount();
  command("note Bob|See you at eight");
  ASSERT_TRUE(waitFor([&] { return notifyCount() == before + 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(displayed(), 1);
  EXPECT_NE(desktop_.notifyCalls().find("string \"See you at eight\""), std::string::npos);
}

// Where the bus has a tray (a watcher of status items), the tray icon is
// also an item there while the main window is hidden; clicking it or its
// menu's Open does what a tap on the icon does, Exit asks the program to end.
TEST_F(DesktopNotification, WhileTheWindowIsHiddenTheTrayIconIsAnItemInTheDesktopsTray) {
  // Started hidden (as at log-on), before the desktop's tray: the item
  // comes with the tray; the window shown, it goes.
  startClient();
  std::string why;
  ASSERT_TRUE(desktop_.startTray(&why)) << why;
  const testkit::TrayWatcher& tray = desktop_.tray();
  ASSERT_TRUE(waitFor([&] { return !tray.item().empty(); })) << state();
  command("show");
  ASSERT_TRUE(waitFor([&] { return state() == "bubble=0 activations=0 main=1"; })) << state();
  EXPECT_TRUE(waitFor([&] { return tray.item().empty(); })) << tray.item();

  command("hide");
  ASSERT_TRUE(waitFor([&] { return !tray.item().empty(); })) << state();
  EXPECT_EQ(tray.item().rfind("org.kde.StatusNotifierItem-", 0), 0u) << tray.item();
  EXPECT_EQ(tray.property("Category"), "Communications");
  EXPECT_EQ(tray.property("Id"), "olvaro");
  EXPECT_EQ(tray.property("Title"), "Olvaro");
  EXPECT_EQ(tray.property("Status"), "Active");
  EXPECT_EQ(tray.property("Menu"), "objectpath '/MenuBar'");
  int w = 0, h = 0;
  std::vector<uint8_t> argb;
  ASSERT_TRUE(tray.pixmap("IconPixmap", &w, &h, &argb));
  platform::DesktopPixmap icon{w, h, argb};
  EXPECT_TRUE(pixmapShows(icon, GetModuleHandle(nullptr), u"AA_ORVALO")) << w << "x" << h;
  ASSERT_TRUE(tray.pixmap("AttentionIconPixmap", &w, &h, &argb));
  EXPECT_TRUE(pixmapShows(platform::DesktopPixmap{w, h, argb}, GetModuleHandle(nullptr), u"MESSAGE_UNREAD"));

  // Unread messages: the item asks for attention until they are read.
  command("unread 2");
  EXPECT_TRUE(waitFor([&] { return tray.property("Status") == "NeedsAttention"; })) << tray.property("Status");
  command("unread 0");
  EXPECT_TRUE(waitFor([&] { return tray.property("Status") == "Active"; })) << tray.property("Status");

  // The menu: Open and Exit, in the program's words (its string table's).
  std::string layout = tray.call("/MenuBar", "com.canonical.dbusmenu", "GetLayout", "(0, -1, @as [])");
  EXPECT_NE(layout.find("'label': <'Öffnen'>"), std::string::npos) << layout;
  EXPECT_NE(layout.find("'label': <'Beenden'>"), std::string::npos) << layout;
  EXPECT_LT(layout.find("'Öffnen'"), layout.find("'Beenden'")) << layout;

  // A click opens the program as a tap on the icon does; with the window
  // up, the item goes.
  command("unread 3");
  ASSERT_TRUE(waitFor([&] { return state() == "bubble=1 activations=0 main=0"; })) << state();
  EXPECT_EQ(tray.call("", "org.kde.StatusNotifierItem", "Activate", "(0, 0)"), "()");
  EXPECT_TRUE(waitFor([&] { return state() == "bubble=0 activations=1 main=1"; })) << state();
  EXPECT_TRUE(waitFor([&] { return tray.item().empty(); })) << tray.item();

  // Hidden again: a new item; the menu's Open does what the click did.
  command("hide");
  ASSERT_TRUE(waitFor([&] { return !tray.item().empty(); }));
  EXPECT_EQ(tray.property("Status"), "NeedsAttention") << "messages are still unread";
  EXPECT_EQ(tray.call("/MenuBar", "com.canonical.dbusmenu", "Event", "(1, 'clicked', <''>, uint32 0)"), "()");
  EXPECT_TRUE(waitFor([&] { return state() == "bubble=0 activations=2 main=1"; })) << state();
  EXPECT_TRUE(waitFor([&] { return tray.item().empty(); }));

  // Exit asks the program to end, as its own Exit would.
  command("hide");
  ASSERT_TRUE(waitFor([&] { return !tray.item().empty(); }));
  EXPECT_EQ(tray.call("/MenuBar", "com.canonical.dbusmenu", "Event", "(2, 'clicked', <''>, uint32 0)"), "()");
  EXPECT_TRUE(waitFor([&] { return state() == "bubble=0 activations=2 main=0 ended"; })) << state();
}

// Without a notification service on the bus the bubble is the phone's own,
// and it still goes when the messages are read.
TEST_F(DesktopNotification, WithNoServiceTheBubbleStaysOnThePhoneOnly) {
  startClient();
  command("unread 3");
  ASSERT_TRUE(waitFor([&] { return state() == "bubble=1 activations=0 main=0"; })) << state();
  command("unread 4");
  command("unread 0");
  EXPECT_TRUE(waitFor([&] { return state() == "bubble=0 activations=0 main=0"; })) << state();
  EXPECT_EQ(notifyCount(), 0u);
  EXPECT_EQ(waitpid(client_, nullptr, WNOHANG), 0) << "the client ended";
}

}  // namespace glimmettest

#include "startup.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "main_window.h"
#include "olvaro/api.h"
#include "olvaro/connection_state.h"
#include "olvaro/hub_records.h"
#include "olvaro/registrations.h"
#include "platform/device.h"
#include "platform/end_request.h"
#include "platform/screen.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "plugin_loader.h"

namespace host {

CommandLine parseCommandLine(const std::u16string& line) {
  CommandLine c;
  c.runAtTime = line.find(u"AppRunAtTime") != std::u16string::npos;
  c.newInstance = line.find(u"/newinstance") != std::u16string::npos;
  c.hidden = line.find(u"/hidden") != std::u16string::npos;
  // Whole words after the program's own name.
  size_t at = line.size() && line[0] == u'"' ? line.find(u'"', 1) : line.find(u' ');
  std::u16string rest = at == std::u16string::npos ? u"" : line.substr(at + 1);
  for (size_t i = 0; i < rest.size();) {
    size_t end = rest.find(u' ', i);
    std::u16string word = rest.substr(i, end == std::u16string::npos ? std::u16string::npos : end - i);
    if (word == u"--version") c.version = true;
    if (word == u"--help" || word == u"-h") c.help = true;
    if (end == std::u16string::npos) break;
    i = end + 1;
  }
  return c;
}

const char* const kUsage =
    "Usage: olvaro [/hidden] [/newinstance]\n"
    "\n"
    "The messenger. A second start shows the running one's window and ends.\n"
    "\n"
    "  /hidden        start with the window hidden (as at log-on)\n"
    "  /newinstance   start even when another instance runs\n"
    "  AppRunAtTime   a timed wake-up: end at once\n"
    "  --version      print the version and end\n"
    "  --help         print this text and end\n"
    "\n"
    "Environment:\n"
    "  OLVARO_HOME       the settings folder (default $XDG_CONFIG_HOME/olvaro)\n"
    "  OLVARO_BACKEND    \"sdl\" for a window, \"headless\" for none (default: a\n"
    "                    window when there is a display)\n"
    "  OLVARO_SDL_SCALE  the window's scale, 1 to 4 (default: from the display's DPI)\n"
    "  OLVARO_PLATFORM   PocketPC (touch screen, the default) or SmartPhone (keys only)\n"
    "  OLVARO_SCREEN     the phone's screen, WIDTHxHEIGHT (default 240x320)\n"
    "  OLVARO_LANGID     the language, a hexadecimal id such as 0407 (default from LANG)\n"
    "\n"
    "With a window: F1 and F2 are the soft keys, Escape is Back, Enter the action\n"
    "key; the mouse is the stylus, the right button a held tap.\n";

unsigned activateMessage() { return RegisterWindowMessage(u"ORVALO_ACTIVATE"); }

Host::Host() = default;

Host::~Host() = default;

bool Host::claimInstance(const CommandLine& command) {
  // Created without ownership and never closed: it marks this instance for
  // as long as the process lives.
  HANDLE mutex = CreateMutex(nullptr, FALSE, u"Orvalo");
  DWORD error = GetLastError();
  if (command.runAtTime) return false;
  if (!command.newInstance && mutex && error == ERROR_ALREADY_EXISTS) {
    PostMessage(HWND_BROADCAST, activateMessage(), 0, 0);
    return false;
  }
  return true;
}

void Host::start(const CommandLine& command, const std::u16string& folder) {
  mainWindow_ = std::make_unique<MainWindow>();
  platform::setEndTarget(mainWindow_->hwnd(), kEndRequest);
  if (!command.hidden) mainWindow_->show();
  KS_SetVariantPtr(olvaro::kMainWindowVariant, mainWindow_->hwnd());
  KS_SetVariantPtr("core.window.layout", static_cast<void*>(mainWindow_->layout()));

  loadLanguageLibraries(folder, GetUserDefaultUILanguage());
  loadPlugins(folder);
  KS_PluginStartAll();
  KS_EventRaise("core.startup", nullptr);
}

int Host::loop() {
  MSG msg;
  while (GetMessage(&msg, nullptr, 0, 0) > 0) {
    HWND active = GetActiveWindow();
    if (active && IsDialogMessage(active, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessage(&msg);
  }
  // An end that came while a message box or menu was up left the window
  // standing; it goes now, before the plug-ins stop, as after Exit. Its own
  // quit message has no loop left to end.
  if (mainWindow_ && mainWindow_->endRequested() && IsWindow(mainWindow_->hwnd())) {
    DestroyWindow(mainWindow_->hwnd());
    MSG quit;
    PeekMessage(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  }
  return static_cast<int>(msg.wParam);
}

void Host::stop() {
  platform::setEndTarget(nullptr, 0);
  KS_PluginStopAll();
  mainWindow_.reset();
  KS_API_Cleanup();
}

namespace {

// For runs without a screen to look at: prints the connection states as they
// pass and, when asked, saves the screen shortly after signing in.
struct StateTrace {
  MainWindow* window = nullptr;
  std::string snapshot;
  bool snapshotOnSignIn = false;
  void changed() {
    long state = KS_GetVariantLong(olvaro::kConnectionStateVariant);
    std::printf("connection.state %ld (%s)\n", state, olvaro::connectionStateName(state));
    std::fflush(stdout);
    if (state == olvaro::kSignedIn && snapshotOnSignIn && window) {
      window->snapshotAfter(1000, snapshot);  // let the screen settle
      snapshotOnSignIn = false;
    }
  }
};

bool envFlag(const char* name) {
  const char* v = std::getenv(name);
  return v && *v && std::string(v) != "0";
}

}  // namespace

int run(const std::u16string& commandLine) {
  CommandLine command = parseCommandLine(commandLine);
  if (command.version || command.help) {
    if (command.version) std::printf("olvaro %s\n", OLVARO_VERSION);
    else std::fputs(kUsage, stdout);
    return 0;
  }
  Host host;
  if (!host.claimInstance(command)) return 0;
  // From here on a termination signal ends the run as Exit does: settings
  // saved, plug-ins stopped, the link signed off.
  platform::installEndSignals();
  // The device screen: a real window when there is a display (or
  // OLVARO_BACKEND says so), the in-memory screen otherwise.
  platform::screenInit();
  if (!platform::screenSelectBackend()) platform::screenSelectBackend("headless");
  StateTrace trace;
  olvaro::VariantSubscription traced;
  // Before the plug-ins start, so the first steps of signing in show too.
  if (envFlag("OLVARO_TRACE_STATES")) traced = olvaro::subscribeVariant<&StateTrace::changed>(olvaro::kConnectionStateVariant, &trace);
  host.start(command, folderOf(hostPath()));
  if (const char* shot = std::getenv("OLVARO_SNAPSHOT"); shot && *shot) {
    const char* after = std::getenv("OLVARO_SNAPSHOT_AFTER_MS");
    // OLVARO_SNAPSHOT_AFTER_MS bounds the wait when the picture is to be
    // taken once signed in.
    host.mainWindow()->snapshotAfter(after ? static_cast<unsigned>(std::strtoul(after, nullptr, 10)) : 3000, shot);
    trace.window = host.mainWindow();
    trace.snapshot = shot;
    trace.snapshotOnSignIn = envFlag("OLVARO_SNAPSHOT_ON_SIGN_IN");
  }
  host.loop();
  traced.reset();
  host.stop();
  return 0;
}

}  // namespace host

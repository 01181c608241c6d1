#include "startup.h"

#include <cstdlib>

#include "main_window.h"
#include "olvaro/api.h"
#include "platform/device.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "plugin_loader.h"

namespace host {

CommandLine parseCommandLine(const std::u16string& line) {
  CommandLine c;
  c.runAtTime = line.find(u"AppRunAtTime") != std::u16string::npos;
  c.newInstance = line.find(u"/newinstance") != std::u16string::npos;
  c.hidden = line.find(u"/hidden") != std::u16string::npos;
  return c;
}

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
  if (!command.hidden) mainWindow_->show();
  KS_SetVariantPtr("core.window.hwnd", mainWindow_->hwnd());
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
  return static_cast<int>(msg.wParam);
}

void Host::stop() {
  KS_PluginStopAll();
  mainWindow_.reset();
  KS_API_Cleanup();
}

int run(const std::u16string& commandLine) {
  CommandLine command = parseCommandLine(commandLine);
  Host host;
  if (!host.claimInstance(command)) return 0;
  host.start(command, folderOf(hostPath()));
  if (const char* shot = std::getenv("OLVARO_SNAPSHOT"); shot && *shot) {
    const char* after = std::getenv("OLVARO_SNAPSHOT_AFTER_MS");
    host.mainWindow()->snapshotAfter(after ? static_cast<unsigned>(std::strtoul(after, nullptr, 10)) : 3000, shot);
  }
  host.loop();
  host.stop();
  return 0;
}

}  // namespace host

// The program's run: single instance, main window, language libraries and
// plug-ins, the message loop, and the orderly end.
#pragma once

#include <memory>
#include <string>

namespace host {

class MainWindow;

// The words of the command line the host reacts to (case-sensitive
// substrings of the whole line).
struct CommandLine {
  bool runAtTime = false;    // "AppRunAtTime"
  bool newInstance = false;  // "/newinstance"
  bool hidden = false;       // "/hidden"
  bool version = false;      // "--version": print the version and end
  bool help = false;         // "--help" or "-h": print the switches and settings and end
};
// What --help prints.
extern const char* const kUsage;
CommandLine parseCommandLine(const std::u16string& line);

// Registers "ORVALO_ACTIVATE" (the same number in every instance).
unsigned activateMessage();

class Host {
 public:
  Host();
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // The single-instance check: false when this process must end now (it
  // was a timed wake-up, or another instance runs and has been asked to
  // show itself).
  bool claimInstance(const CommandLine& command);
  // Creates and publishes the main window, loads the language libraries
  // and plug-ins of `folder` (with its trailing separator), starts them and
  // raises "core.startup".
  void start(const CommandLine& command, const std::u16string& folder);
  // Runs until the quit message; returns its exit code.
  int loop();
  // Stops the plug-ins, destroys the main window object, tears the hub down.
  void stop();

  MainWindow* mainWindow() { return mainWindow_.get(); }

 private:
  std::unique_ptr<MainWindow> mainWindow_;
};

// The whole program for a command line; the process's exit code.
int run(const std::u16string& commandLine);

}  // namespace host

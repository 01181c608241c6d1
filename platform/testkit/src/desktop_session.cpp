#include "testkit/desktop_session.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

extern char** environ;

namespace testkit {
namespace {

bool onPath(const std::string& tool) {
  std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
  std::stringstream ss(path);
  std::string dir;
  while (std::getline(ss, dir, ':'))
    if (access((dir + "/" + tool).c_str(), X_OK) == 0) return true;
  return false;
}

bool exists(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0;
}

bool alive(pid_t pid) { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }

bool waitFor(const std::function<bool()>& ready, int tenths) {
  for (int i = 0; i < tenths; ++i) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return ready();
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void stopProcess(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 50; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

}  // namespace

DesktopSession::~DesktopSession() {
  tray_.stop();
  for (auto it = pids_.rbegin(); it != pids_.rend(); ++it) stopProcess(*it);
  std::error_code ec;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
}

pid_t DesktopSession::spawn(const std::vector<std::string>& args, const std::vector<std::string>& more,
                            const std::string& output) {
  std::vector<std::string> env;
  // Ours replace what the test process has.
  std::vector<std::string> ours = this->env();
  ours.insert(ours.end(), more.begin(), more.end());
  for (char** e = environ; *e; ++e) {
    std::string kv = *e;
    bool replaced = false;
    for (auto& mine : ours)
      if (kv.compare(0, mine.find('=') + 1, mine, 0, mine.find('=') + 1) == 0) replaced = true;
    if (!replaced) env.push_back(kv);
  }
  env.insert(env.end(), ours.begin(), ours.end());
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&fa, STDOUT_FILENO, STDERR_FILENO);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return -1;
  pids_.push_back(pid);
  return pid;
}

bool DesktopSession::start(std::string* why, bool notifier) {
  for (const char* tool : {"Xvfb", "dbus-daemon", "dbus-monitor", "dunst", "dunstctl"})
    if (!onPath(tool)) {
      *why = std::string(tool) + " is not installed";
      return false;
    }
  char tmpl[] = "/tmp/olvaro-desktop-XXXXXX";
  if (!mkdtemp(tmpl)) {
    *why = "no folder for the desktop";
    return false;
  }
  folder_ = tmpl;
  for (int n = 91; n < 160 && display_.empty(); ++n) {
    std::string sock = "/tmp/.X11-unix/X" + std::to_string(n), lock = "/tmp/.X" + std::to_string(n) + "-lock";
    if (exists(sock) || exists(lock)) continue;
    // -noreset: what a client leaves on the root window (xrdb's resources)
    // stays when it goes.
    pid_t pid = spawn({"Xvfb", ":" + std::to_string(n), "-screen", "0",
                       std::to_string(width_) + "x" + std::to_string(height_) + "x24", "-dpi", std::to_string(dpi_),
                       "-noreset", "-nolisten", "tcp"},
                      {}, folder_ + "/xvfb.log");
    if (pid <= 0) break;
    if (waitFor([&] { return exists(sock) || !alive(pid); }, 100) && alive(pid)) display_ = ":" + std::to_string(n);
  }
  if (display_.empty()) {
    *why = "Xvfb did not start on any free display";
    return false;
  }
  // The bus prints its address once it listens.
  std::string addressFile = folder_ + "/bus.address";
  // A bus that starts no services by itself: only what the test starts is
  // there.
  std::ofstream(folder_ + "/bus.conf")
      << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
      << " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
      << "<busconfig><type>session</type><listen>unix:dir=" << folder_ << "</listen>\n"
      << "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
      << "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
  pid_t bus = spawn({"dbus-daemon", "--config-file=" + folder_ + "/bus.conf", "--nofork", "--nopidfile",
                     "--print-address=1"},
                    {}, addressFile);
  if (bus <= 0 || !waitFor([&] { return readFile(addressFile).find('\n') != std::string::npos; }, 100)) {
    *why = "the session bus did not start: " + readFile(addressFile);
    return false;
  }
  bus_ = readFile(addressFile);
  bus_ = bus_.substr(0, bus_.find('\n'));
  spawn({"dbus-monitor", "--address", bus_, "interface='org.freedesktop.Notifications',member='Notify'"}, {},
        folder_ + "/notify.log");
  if (!notifier) return true;
  // Notes stay until closed; no user configuration is read.
  std::ofstream(folder_ + "/dunstrc") << "[global]\n    font = DejaVu Sans 9\n    geometry = \"260x5-10+10\"\n"
                                      << "    width = 260\n    origin = top-right\n    offset = 10x10\n"
                                      << "    show_indicators = yes\n    icon_position = left\n"
                                      << "[urgency_low]\n    timeout = 0\n[urgency_normal]\n    timeout = 0\n"
                                      << "[urgency_critical]\n    timeout = 0\n";
  pid_t dunst = spawn({"dunst", "-config", folder_ + "/dunstrc"}, {"XDG_CONFIG_HOME=" + folder_},
                      folder_ + "/dunst.log");
  if (dunst <= 0 || !waitFor([&] { return !alive(dunst) || run("dunstctl is-paused") == 0; }, 100) ||
      !alive(dunst)) {
    *why = "dunst did not start: " + readFile(folder_ + "/dunst.log");
    return false;
  }
  return true;
}

std::vector<std::string> DesktopSession::env() const {
  return {"DISPLAY=" + display_, "DBUS_SESSION_BUS_ADDRESS=" + bus_};
}

int DesktopSession::run(const std::string& command, std::string* output) const {
  std::string out = folder_ + "/run.out";
  std::string line = "env DISPLAY='" + display_ + "' DBUS_SESSION_BUS_ADDRESS='" + bus_ + "' " + command + " >'" +
                     out + "' 2>/dev/null";
  int rc = std::system(line.c_str());
  if (output) *output = readFile(out);
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

bool DesktopSession::startTray(std::string* why) { return tray_.start(bus_, why); }

std::string DesktopSession::notifyCalls() const { return readFile(folder_ + "/notify.log"); }

}  // namespace testkit

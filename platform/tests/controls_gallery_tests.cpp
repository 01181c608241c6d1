// The gallery in a real window: an X server of its own (Xvfb on a free
// display), the SDL backend, keys typed by a real X input tool, and
// screenshots of the X screen. Skipped, with the reason, when the X tools
// are missing or the server cannot start.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testkit/testkit.h"

extern char** environ;

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

pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& out) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // Ours replace what the test process has (earlier tests set some).
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    std::string kv = *e;
    bool replaced = false;
    for (auto& mine : env)
      if (kv.compare(0, mine.find('=') + 1, mine, 0, mine.find('=') + 1) == 0) replaced = true;
    if (!replaced) envStrings.push_back(kv);
  }
  for (auto& e : env) envStrings.push_back(e);
  std::vector<char*> envp;
  for (auto& e : envStrings) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

bool alive(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }

void stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 50 && alive(pid); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (alive(pid)) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

// An external process is the thing waited on here; the wait is bounded.
bool waitFor(const std::function<bool()>& ready, int tenthsOfASecond) {
  for (int i = 0; i < tenthsOfASecond; ++i) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return ready();
}

class ControlsGallery : public ::testing::Test {
 protected:
  void TearDown() override {
    stop(gallery_);
    stop(xvfb_);
    std::remove(out_.c_str());
  }

  bool startX(std::string* why) {
    for (int n = 91; n < 160; ++n) {
      std::string sock = "/tmp/.X11-unix/X" + std::to_string(n), lock = "/tmp/.X" + std::to_string(n) + "-lock";
      if (exists(sock) || exists(lock)) continue;
      pid_t pid = spawn({"Xvfb", ":" + std::to_string(n), "-screen", "0", "320x400x24", "-nolisten", "tcp"}, {},
                        "/dev/null");
      if (pid <= 0) {
        *why = "Xvfb could not be run";
        return false;
      }
      if (waitFor([&] { return exists(sock) || !alive(pid); }, 100) && alive(pid)) {
        xvfb_ = pid;
        display_ = ":" + std::to_string(n);
        return true;
      }
      stop(pid);
    }
    *why = "Xvfb did not start on any free display";
    return false;
  }

  int x(const std::string& command) {
    return std::system(("DISPLAY=" + display_ + " " + command + " >/dev/null 2>&1").c_str());
  }

  // Pixels of one colour on the X screen, from a screenshot.
  int countOnScreen(int r, int g, int b, const std::string& keep = "") {
    std::string png = testkit::screenshotDir() + "/ControlsGallery.png";
    std::string raw = out_ + ".rgb";
    std::system(("mkdir -p '" + testkit::screenshotDir() + "'").c_str());
    if (x("import -window root '" + png + "'") != 0) return -1;
    if (std::system(("convert '" + png + "' -depth 8 'rgb:" + raw + "' >/dev/null 2>&1").c_str()) != 0) return -1;
    if (!keep.empty()) std::system(("cp '" + png + "' '" + testkit::screenshotDir() + "/" + keep + "'").c_str());
    std::ifstream in(raw, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(raw.c_str());
    int n = 0;
    for (size_t i = 0; i + 2 < bytes.size(); i += 3)
      if (uint8_t(bytes[i]) == r && uint8_t(bytes[i + 1]) == g && uint8_t(bytes[i + 2]) == b) ++n;
    return n;
  }

  std::string printedSoFar() {
    std::ifstream in(out_);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  pid_t xvfb_ = -1;
  pid_t gallery_ = -1;
  std::string display_;
  std::string out_ = "/tmp/olvaro-gallery-" + std::to_string(getpid()) + ".out";
};

TEST_F(ControlsGallery, RunsInAWindowAndTakesRealKeys) {
#ifndef OLVARO_GALLERY
  GTEST_SKIP() << "the gallery program is not built";
#else
  for (const char* tool : {"Xvfb", "xdotool", "import", "convert"})
    if (!onPath(tool)) GTEST_SKIP() << tool << " is not installed";
  std::string why;
  if (!startX(&why)) GTEST_SKIP() << why;
  // The socket can be there before the server takes connections; a program
  // started too early would find no display and fall back to the headless
  // screen.
  ASSERT_TRUE(waitFor([&] { return x("xdotool getdisplaygeometry") == 0; }, 100)) << "Xvfb does not answer";
  // The window shows the device screen. A start that shows no window
  // within 15 s is tried once more before the test gives up, so a slow or
  // lost start of the X client is not taken for a fault of ours.
  bool shown = false;
  std::string startOutput;
  for (int attempt = 0; attempt < 2 && !shown; ++attempt) {
    stop(gallery_);
    gallery_ = spawn({OLVARO_GALLERY},
                     {"DISPLAY=" + display_, "OLVARO_BACKEND=sdl", "SDL_VIDEODRIVER=x11", "OLVARO_SDL_SCALE=1",
                      "OLVARO_SCREEN=240x320", "OLVARO_DPI=131"},
                     out_);
    ASSERT_GT(gallery_, 0);
    shown = waitFor([&] { return x("xdotool search --onlyvisible --name Olvaro") == 0; }, 150);
    if (!shown) startOutput += printedSoFar();
  }
  ASSERT_TRUE(shown) << "the gallery's window did not appear; it printed: " << startOutput;
  // Without a window manager the keyboard follows the pointer: put it on
  // the window as well as giving it the focus.
  x("xdotool search --onlyvisible --name Olvaro mousemove --window %1 120 160 windowfocus --sync %1");
  ASSERT_TRUE(waitFor([&] { return countOnScreen(24, 48, 96) > 240 * 20; }, 300)) << "the bars are not drawn";
  x("xdotool type --delay 30 olvaro");
  // F1 is the left soft key: the information box with its blue icon.
  x("xdotool key F1");
  EXPECT_TRUE(waitFor([&] { return countOnScreen(30, 90, 200, "ControlsGallery-box.png") > 100; }, 300))
      << "F1 did not bring up the message box";
  // The action key answers it.
  x("xdotool key Return");
  EXPECT_TRUE(waitFor([&] { return countOnScreen(30, 90, 200) == 0; }, 300)) << "the box did not go away";
  // F2 opens the menu; Up from the top wraps to "Exit".
  x("xdotool key F2");
  EXPECT_TRUE(waitFor([&] { return countOnScreen(0, 72, 160, "ControlsGallery-menu.png") > 200; }, 300))
      << "F2 did not open the menu with its highlighted item";
  x("xdotool key Up");
  x("xdotool key Return");
  int status = -1;
  bool ended = waitFor([&] { return waitpid(gallery_, &status, WNOHANG) == gallery_; }, 300);
  ASSERT_TRUE(ended) << "Exit did not end the gallery";
  gallery_ = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::ifstream in(out_);
  std::string printed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(printed.find("edit: olvaro"), std::string::npos) << printed;
#endif
}

}  // namespace

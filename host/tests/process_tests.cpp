// The program as a real process: the instance check and the timed wake-up.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "host_fixture.h"
#include "platform/thread.h"
#include "platform/window.h"

extern char** environ;

namespace {

class ProcessTest : public HostHubTest {
 protected:
  // Starts the host with the test's configuration folder on the headless
  // screen; a snapshot path makes a started instance end by itself.
  pid_t spawnHost(const std::vector<std::string>& args, const std::string& snapshot = "", int snapshotMs = 0) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      std::string kv = *e;
      if (kv.rfind("OLVARO_", 0) != 0 && kv.rfind("LSAN_OPTIONS=", 0) != 0) env.push_back(kv);
    }
    env.push_back("OLVARO_HOME=" + home_);
    env.push_back("OLVARO_BACKEND=headless");
    // fontconfig's lifelong cache is not a leak of the program's.
    std::string suppressions = home_ + "/lsan.supp";
    if (!exists(suppressions)) std::ofstream(suppressions) << "leak:libfontconfig.so\n";
    env.push_back("LSAN_OPTIONS=suppressions=" + suppressions);
    if (!snapshot.empty()) {
      env.push_back("OLVARO_SNAPSHOT=" + snapshot);
      env.push_back("OLVARO_SNAPSHOT_AFTER_MS=" + std::to_string(snapshotMs));
    }
    std::vector<std::string> argv = {HOST_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> a, e;
    for (auto& s : argv) a.push_back(s.data());
    a.push_back(nullptr);
    for (auto& s : env) e.push_back(s.data());
    e.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, HOST_PROGRAM, nullptr, nullptr, a.data(), e.data()) != 0) return -1;
    return pid;
  }

  // The exit code, or -1 when the process has not ended within the bound
  // (it is then killed).
  int waitExit(pid_t pid, std::chrono::milliseconds bound = std::chrono::seconds(20)) {
    auto end = std::chrono::steady_clock::now() + bound;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
      pid_t r = waitpid(pid, &status, WNOHANG);
      if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }

  bool exists(const std::string& path) { return std::filesystem::exists(path); }
};

}  // namespace

TEST_F(ProcessTest, TimedWakeUpExitsAtOnceEvenAlone) {
  std::string shot = home_ + "/wake.png";
  pid_t pid = spawnHost({"--at", "xAppRunAtTimex"}, shot, 0);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(waitExit(pid), 0);
  EXPECT_FALSE(exists(shot));  // no window, no loop
}

namespace {
UINT g_activate = 0;
int g_activations = 0;
LRESULT CALLBACK instanceProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (g_activate && msg == g_activate) ++g_activations;
  return DefWindowProc(hwnd, msg, wParam, lParam);
}
}  // namespace

TEST_F(ProcessTest, SecondStartLeavesTheRunningInstanceAndExitsWithoutAWindow) {
  // This process is the running instance, with a top-level window that
  // listens for the activation message.
  HANDLE mine = CreateMutex(nullptr, FALSE, u"Orvalo");
  ASSERT_NE(mine, nullptr);
  ASSERT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
  g_activations = 0;
  g_activate = RegisterWindowMessage(u"ORVALO_ACTIVATE");
  WNDCLASS wc{};
  wc.lpfnWndProc = instanceProc;
  wc.lpszClassName = u"ProcessTestInstance";
  RegisterClass(&wc);
  HWND running = CreateWindowEx(0, u"ProcessTestInstance", u"Olvaro", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                nullptr);
  ASSERT_NE(running, nullptr);

  std::string shot = home_ + "/second.png";
  pid_t second = spawnHost({}, shot, 0);
  ASSERT_GT(second, 0);
  EXPECT_EQ(waitExit(second), 0);
  EXPECT_FALSE(exists(shot));
  // Its activation message reached the running instance's window.
  MSG msg;
  for (int i = 0; i < 500 && g_activations == 0; ++i) {
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
    std::this_thread::sleep_for(std::chrono::milliseconds(4));
  }
  EXPECT_EQ(g_activations, 1);
  DestroyWindow(running);
  g_activate = 0;

  // "/newinstance" skips the check: this one comes up and runs.
  std::string own = home_ + "/own.png";
  pid_t third = spawnHost({"/newinstance"}, own, 300);
  ASSERT_GT(third, 0);
  EXPECT_EQ(waitExit(third), 0);
  EXPECT_TRUE(exists(own));
  CloseHandle(mine);
}

TEST_F(ProcessTest, HiddenStartRunsItsLoopAndEndsCleanly) {
  std::string shot = home_ + "/alone.png";
  pid_t pid = spawnHost({"/hidden"}, shot, 200);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(waitExit(pid), 0);
  EXPECT_TRUE(exists(shot));
}

// The program as a real process: the instance check and the timed wake-up.
#include <chrono>
#include <thread>

#include "process_fixture.h"
#include "platform/thread.h"
#include "platform/window.h"

TEST_F(ProcessTest, TimedWakeUpExitsAtOnceEvenAlone) {
  std::string shot = home() + "/wake.png";
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

  std::string shot = home() + "/second.png";
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
  std::string own = home() + "/own.png";
  pid_t third = spawnHost({"/newinstance"}, own, 300);
  ASSERT_GT(third, 0);
  EXPECT_EQ(waitExit(third), 0);
  EXPECT_TRUE(exists(own));
  CloseHandle(mine);
}

TEST_F(ProcessTest, HiddenStartRunsItsLoopAndEndsCleanly) {
  std::string shot = home() + "/alone.png";
  pid_t pid = spawnHost({"/hidden"}, shot, 200);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(waitExit(pid), 0);
  EXPECT_TRUE(exists(shot));
}

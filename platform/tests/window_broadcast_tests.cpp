// A registered message broadcast by another process reaches this process's
// top-level windows.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "testkit/testkit.h"

namespace {

UINT g_wake = 0;
std::vector<std::pair<WPARAM, LPARAM>> g_received;

LRESULT CALLBACK wakeProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == g_wake && g_wake) g_received.emplace_back(wParam, lParam);
  return DefWindowProc(hwnd, msg, wParam, lParam);
}

using WindowBroadcast = testkit::PlatformTest;

TEST_F(WindowBroadcast, RegisteredBroadcastReachesAnotherProcess) {
  g_received.clear();
  g_wake = RegisterWindowMessage(u"OLVARO_TEST_WAKE");
  ASSERT_NE(g_wake, 0u);
  WNDCLASS wc{};
  wc.lpfnWndProc = wakeProc;
  wc.lpszClassName = u"WindowBroadcastTest";
  RegisterClass(&wc);
  HWND hidden = CreateWindowEx(0, u"WindowBroadcastTest", u"first", 0, 0, 0, 50, 50, nullptr, nullptr, nullptr,
                               nullptr);
  ASSERT_NE(hidden, nullptr);

  pid_t child = fork();
  if (child == 0) {
    // The other process knows the message by name only; case does not matter.
    UINT wake = RegisterWindowMessage(u"olvaro_test_wake");
    PostMessage(HWND_BROADCAST, wake, 7, -9);
    _exit(0);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  // The datagram is handled by this process's listener thread; wait for it
  // a bounded while.
  for (int i = 0; i < 500 && g_received.empty(); ++i) {
    testkit::pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_EQ(g_received.size(), 1u);
  EXPECT_EQ(g_received[0].first, 7u);
  EXPECT_EQ(g_received[0].second, -9);

  // Our own broadcast reaches our windows once, not again through the relay.
  g_received.clear();
  PostMessage(HWND_BROADCAST, g_wake, 1, 2);
  testkit::pump();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  testkit::pump();
  EXPECT_EQ(g_received.size(), 1u);
  g_wake = 0;
  DestroyWindow(hidden);
}

}  // namespace

// KS_Exit asks the published main window to close, synchronously.
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "hubtest/hub_test.h"
#include "testkit/testkit.h"

namespace {

int g_closes = 0;
bool g_destroyOnClose = false;

LRESULT CALLBACK mainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CLOSE) {
    ++g_closes;
    if (g_destroyOnClose) DestroyWindow(hwnd);
    return 0;  // the host decides; here: stay unless told otherwise
  }
  return DefWindowProc(hwnd, msg, wParam, lParam);
}

class ExitTest : public hubtest::HubTest {
 protected:
  void SetUp() override {
    hubtest::HubTest::SetUp();
    g_closes = 0;
    g_destroyOnClose = false;
    WNDCLASS wc{};
    wc.lpfnWndProc = mainProc;
    wc.lpszClassName = u"ExitTestMain";
    RegisterClass(&wc);
  }
};

}  // namespace

TEST_F(ExitTest, ClosesThePublishedWindowAndDoesNothingWithoutOne) {
  KS_Exit();  // nothing published yet
  EXPECT_EQ(g_closes, 0);

  HWND main = CreateWindowEx(0, u"ExitTestMain", u"Olvaro", WS_VISIBLE, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                             nullptr);
  ASSERT_NE(main, nullptr);
  KS_SetVariantPtr("core.window.hwnd", main);
  KS_Exit();
  EXPECT_EQ(g_closes, 1);  // handled before KS_Exit returned
  EXPECT_TRUE(IsWindow(main));

  g_destroyOnClose = true;
  KS_Exit();
  EXPECT_FALSE(IsWindow(main));
  KS_Exit();  // a stale handle is not used
  EXPECT_EQ(g_closes, 2);
}

TEST_F(ExitTest, FromAnotherThreadWaitsForTheWindowsThread) {
  HWND main = CreateWindowEx(0, u"ExitTestMain", u"Olvaro", WS_VISIBLE, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                             nullptr);
  KS_SetVariantPtr("core.window.hwnd", main);
  auto returned = std::make_shared<std::atomic<bool>>(false);
  std::thread worker([returned] {
    KS_Exit();
    *returned = true;
  });
  // The close is handled on this thread, when it looks at its messages; the
  // worker may be slow to send it on a loaded machine, so wait by time, not
  // by a count of looks (joining before the close would never return).
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (g_closes == 0 && std::chrono::steady_clock::now() < deadline) {
    testkit::pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (g_closes == 0) {
    worker.detach();  // still waiting for its close; the test has failed
    FAIL() << "the close never arrived";
  }
  worker.join();
  EXPECT_EQ(g_closes, 1);
  EXPECT_TRUE(*returned);
}

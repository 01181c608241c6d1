#include "platform/clock.h"
#include "window_test_util.h"

namespace {

class WindowTestKit : public wtest::WindowTest {};

TEST_F(WindowTestKit, FindsWindowsByClassTextAndParent) {
  HWND a = windows.make(nullptr, WS_POPUP | WS_VISIBLE, RECT{0, 0, 240, 160}, nullptr, 0, u"First");
  HWND b = windows.make(nullptr, WS_POPUP | WS_VISIBLE, RECT{0, 160, 240, 320}, nullptr, 0, u"Second");
  HWND inA = windows.make(nullptr, WS_CHILD | WS_VISIBLE, RECT{0, 0, 10, 10}, a, 1, u"Item");
  HWND inB = windows.make(nullptr, WS_CHILD | WS_VISIBLE, RECT{0, 0, 10, 10}, b, 1, u"Item");
  EXPECT_EQ(testkit::findWindow("WTestWindow", "Second"), b);
  EXPECT_EQ(testkit::findWindow("WTestWindow", "Item", a), inA);
  EXPECT_EQ(testkit::findWindow("WTestWindow", "Item", b), inB);
  EXPECT_EQ(testkit::findWindows("WTestWindow", "Item").size(), 2u);
  EXPECT_EQ(testkit::findWindow("NoSuchClass"), nullptr);
  EXPECT_EQ(testkit::className(inA), "WTestWindow");
  RECT r = testkit::screenRect(inB);
  EXPECT_EQ(r.top, 160);
}

TEST_F(WindowTestKit, RunClockStepsThroughTimersSetOnTheWay) {
  std::vector<int64_t> at;
  int64_t start = platform::clockMonotonicMs();
  HWND w = windows.make(
      [&](HWND h, UINT m, WPARAM id, LPARAM) -> std::optional<LRESULT> {
        if (m != WM_TIMER) return std::nullopt;
        at.push_back(platform::clockMonotonicMs() - start);
        KillTimer(h, id);
        if (id < 3) SetTimer(h, id + 1, 250, nullptr);  // a chain of one-shot timers
        return 0;
      },
      WS_POPUP, RECT{0, 0, 1, 1});
  SetTimer(w, 1, 100, nullptr);
  testkit::runClock(1000);
  EXPECT_EQ(at, (std::vector<int64_t>{100, 350, 600}));
  EXPECT_EQ(platform::clockMonotonicMs() - start, 1000);
  EXPECT_EQ(platform::nextTimerDue(), -1);
}

}  // namespace

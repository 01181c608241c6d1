#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/thread.h"
#include "window_test_util.h"

namespace {

class WindowMessages : public wtest::WindowTest {};

// A thread that owns one window and runs a message loop until told to quit.
class UiThread {
 public:
  explicit UiThread(wtest::Handler handler) : handler_(std::move(handler)) {
    thread_ = std::thread([this] {
      HWND h = windows_.make(handler_, WS_POPUP, RECT{0, 0, 10, 10});
      {
        std::lock_guard<std::mutex> g(m_);
        hwnd_ = h;
        tid_ = GetCurrentThreadId();
      }
      cv_.notify_all();
      MSG msg;
      while (GetMessage(&msg, nullptr, 0, 0) > 0) DispatchMessage(&msg);
      DestroyWindow(h);
    });
    std::unique_lock<std::mutex> g(m_);
    cv_.wait(g, [&] { return hwnd_ != nullptr; });
  }
  ~UiThread() { stop(); }
  void stop() {
    if (!thread_.joinable()) return;
    PostThreadMessage(tid_, WM_QUIT, 0, 0);
    thread_.join();
  }
  HWND hwnd() const { return hwnd_; }
  DWORD tid() const { return tid_; }

 private:
  wtest::Handler handler_;
  wtest::Windows windows_;
  std::thread thread_;
  std::mutex m_;
  std::condition_variable cv_;
  HWND hwnd_ = nullptr;
  DWORD tid_ = 0;
};

TEST_F(WindowMessages, SendAcrossThreadsRunsOnTheOwnerAndWaits) {
  DWORD uiThread = GetCurrentThreadId();
  std::atomic<DWORD> ranOn{0};
  HWND ui = windows.make(
      [&](HWND, UINT m, WPARAM w, LPARAM) -> std::optional<LRESULT> {
        if (m != WM_APP + 1) return std::nullopt;
        ranOn = GetCurrentThreadId();
        return LRESULT(w * 2);
      },
      WS_POPUP, RECT{0, 0, 10, 10});
  LRESULT got = 0;
  std::thread worker([&] { got = SendMessage(ui, WM_APP + 1, 21, 0); });
  // The worker waits until this thread handles the message.
  while (ranOn == 0) {
    MSG msg;
    PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE);
  }
  worker.join();
  EXPECT_EQ(got, 42);
  EXPECT_EQ(ranOn.load(), uiThread);
}

TEST_F(WindowMessages, TwoThreadsSendingToEachOtherDoNotDeadlock) {
  // The worker's window, when sent WM_APP, sends back to the UI window
  // while the UI thread is still waiting for its own send to return.
  HWND ui = nullptr;
  int uiHandled = 0;
  ui = windows.make(
      [&](HWND, UINT m, WPARAM w, LPARAM) -> std::optional<LRESULT> {
        if (m != WM_APP + 2) return std::nullopt;
        ++uiHandled;
        return LRESULT(w + 1);
      },
      WS_POPUP, RECT{0, 0, 10, 10});
  UiThread other([&](HWND, UINT m, WPARAM w, LPARAM) -> std::optional<LRESULT> {
    if (m != WM_APP) return std::nullopt;
    return SendMessage(ui, WM_APP + 2, w * 10, 0) + 1000;
  });
  EXPECT_EQ(SendMessage(other.hwnd(), WM_APP, 7, 0), 1071);
  EXPECT_EQ(uiHandled, 1);

  // And both at once: a worker sends to the UI window while the UI thread
  // is itself sending to the worker's window.
  std::atomic<bool> go{false};
  LRESULT fromWorker = 0;
  std::thread worker([&] {
    while (!go) std::this_thread::yield();
    fromWorker = SendMessage(ui, WM_APP + 2, 1, 0);
  });
  go = true;
  EXPECT_EQ(SendMessage(other.hwnd(), WM_APP, 3, 0), 1031);
  // The worker's send is handled by this thread's next look at its queue.
  while (uiHandled < 3) {
    MSG msg;
    PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE);
  }
  worker.join();
  EXPECT_EQ(fromWorker, 2);
}

TEST_F(WindowMessages, SendToAWindowWhoseThreadEndedReturnsInsteadOfHanging) {
  HWND orphan = nullptr;
  std::thread t([&] {
    static wtest::Windows local;
    orphan = local.make(nullptr, WS_POPUP, RECT{0, 0, 5, 5});
  });
  t.join();
  ASSERT_NE(orphan, nullptr);
  EXPECT_EQ(SendMessage(orphan, WM_APP, 0, 0), 0);
  EXPECT_FALSE(PostMessage(orphan, WM_APP, 0, 0));
}

TEST_F(WindowMessages, PostedMessagesComeInOrderAndQuitEndsTheLoop) {
  std::vector<WPARAM> seen;
  HWND w = windows.make(
      [&](HWND, UINT m, WPARAM wp, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_APP) seen.push_back(wp);
        return std::nullopt;
      },
      WS_POPUP, RECT{0, 0, 10, 10});
  for (WPARAM i = 1; i <= 3; ++i) PostMessage(w, WM_APP, i, 0);
  PostQuitMessage(5);
  MSG msg;
  int loops = 0;
  while (GetMessage(&msg, nullptr, 0, 0)) {
    DispatchMessage(&msg);
    ++loops;
  }
  EXPECT_EQ(seen, (std::vector<WPARAM>{1, 2, 3}));
  EXPECT_EQ(msg.message, UINT(WM_QUIT));
  EXPECT_EQ(msg.wParam, WPARAM(5));

  // A thread message from another thread wakes a blocked GetMessage.
  DWORD me = GetCurrentThreadId();
  std::thread t([&] { PostThreadMessage(me, WM_APP + 9, 77, 0); });
  ASSERT_GT(GetMessage(&msg, nullptr, 0, 0), 0);
  t.join();
  EXPECT_EQ(msg.message, UINT(WM_APP + 9));
  EXPECT_EQ(msg.hwnd, nullptr);
  EXPECT_EQ(msg.wParam, WPARAM(77));
  EXPECT_FALSE(PostThreadMessage(0xFFFFFF, WM_APP, 0, 0));
}

TEST_F(WindowMessages, TimersFireInClockOrderWithAnyIdentifier) {
  std::vector<std::pair<UINT_PTR, int64_t>> fired;
  int64_t start = platform::clockMonotonicMs();
  HWND w = windows.make(
      [&](HWND, UINT m, WPARAM id, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_TIMER) fired.emplace_back(id, platform::clockMonotonicMs() - start);
        return std::nullopt;
      },
      WS_POPUP, RECT{0, 0, 10, 10});
  // Identifiers are object addresses, as the timer sink uses them.
  int a, b, c;
  UINT_PTR A = reinterpret_cast<UINT_PTR>(&a), B = reinterpret_cast<UINT_PTR>(&b), C = reinterpret_cast<UINT_PTR>(&c);
  EXPECT_EQ(SetTimer(w, A, 300, nullptr), A);
  SetTimer(w, B, 100, nullptr);
  SetTimer(w, C, 200, nullptr);
  testkit::runClock(99);
  EXPECT_TRUE(fired.empty());
  testkit::runClock(301 - 99);
  std::vector<std::pair<UINT_PTR, int64_t>> want{{B, 100}, {C, 200}, {B, 200}, {A, 300}, {B, 300}};
  EXPECT_EQ(fired, want);

  // Killed timers stop; a timer of a destroyed window is gone with it.
  fired.clear();
  EXPECT_TRUE(KillTimer(w, B));
  EXPECT_FALSE(KillTimer(w, B));
  testkit::runClock(300);
  want = {{C, 400}, {A, 600}, {C, 600}};
  EXPECT_EQ(fired, want);
  DestroyWindow(w);
  EXPECT_EQ(platform::nextTimerDue(), -1);
}

TEST_F(WindowMessages, TimerProceduresAndThreadTimers) {
  static std::vector<UINT_PTR> calls;
  calls.clear();
  HWND w = windows.make(nullptr, WS_POPUP, RECT{0, 0, 10, 10});
  SetTimer(w, 7, 50, [](HWND, UINT, UINT_PTR id, DWORD) { calls.push_back(id); });
  UINT_PTR threadTimer = SetTimer(nullptr, 0, 80, [](HWND h, UINT, UINT_PTR id, DWORD) {
    EXPECT_EQ(h, nullptr);
    calls.push_back(id + 1000);
  });
  EXPECT_NE(threadTimer, UINT_PTR(0));
  testkit::runClock(100);
  EXPECT_EQ(calls, (std::vector<UINT_PTR>{7, threadTimer + 1000, 7}));
  // A zero period cannot make the queue busy for ever.
  SetTimer(w, 8, 0, nullptr);
  EXPECT_LT(testkit::pump(), 100);
}

TEST_F(WindowMessages, DestroyOrderAndStaleHandles) {
  std::vector<std::pair<HWND, UINT>> log;
  auto logger = [&](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_DESTROY || m == WM_NCDESTROY) log.emplace_back(h, m);
    return std::nullopt;
  };
  HWND parent = windows.make(logger, WS_POPUP | WS_VISIBLE, RECT{0, 0, 100, 100});
  HWND child = windows.make(logger, WS_CHILD | WS_VISIBLE, RECT{0, 0, 50, 50}, parent);
  HWND grandchild = windows.make(logger, WS_CHILD | WS_VISIBLE, RECT{0, 0, 10, 10}, child);
  HWND owned = windows.make(logger, WS_POPUP, RECT{0, 0, 10, 10}, parent);
  EXPECT_EQ(GetParent(owned), parent);
  EXPECT_EQ(GetWindow(owned, GW_OWNER), parent);

  // From another thread destruction is refused.
  std::thread t([&] { EXPECT_FALSE(DestroyWindow(parent)); });
  t.join();
  EXPECT_TRUE(IsWindow(parent));

  EXPECT_TRUE(DestroyWindow(parent));
  std::vector<std::pair<HWND, UINT>> want{{owned, WM_DESTROY},      {owned, WM_NCDESTROY},
                                          {parent, WM_DESTROY},     {child, WM_DESTROY},
                                          {grandchild, WM_DESTROY}, {grandchild, WM_NCDESTROY},
                                          {child, WM_NCDESTROY},    {parent, WM_NCDESTROY}};
  EXPECT_EQ(log, want);
  for (HWND h : {parent, child, grandchild, owned}) EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(SendMessage(child, WM_APP, 0, 0), 0);
  HWND fresh = windows.make(nullptr, WS_POPUP, RECT{0, 0, 10, 10});
  EXPECT_NE(fresh, parent);
  EXPECT_NE(fresh, child);
}

TEST_F(WindowMessages, CreationMessagesTextAndSlots) {
  std::vector<UINT> order;
  void* param = nullptr;
  HWND w = windows.make(
      [&](HWND, UINT m, WPARAM, LPARAM l) -> std::optional<LRESULT> {
        if (m == WM_NCCREATE || m == WM_CREATE || m == WM_SIZE || m == WM_MOVE || m == WM_SHOWWINDOW)
          order.push_back(m);
        if (m == WM_CREATE) param = reinterpret_cast<CREATESTRUCT*>(l)->lpCreateParams;
        return std::nullopt;
      },
      WS_POPUP | WS_VISIBLE, RECT{5, 6, 105, 56}, nullptr, 0, u"Hello");
  EXPECT_EQ(order, (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_SIZE, WM_MOVE, WM_SHOWWINDOW}));
  EXPECT_NE(param, nullptr);
  EXPECT_EQ(testkit::windowText(w), "Hello");
  SetWindowText(w, u"Grüße");
  EXPECT_EQ(testkit::windowText(w), "Grüße");
  WCHAR small[3];
  EXPECT_EQ(GetWindowText(w, small, 3), 2);
  EXPECT_EQ(std::u16string(small), u"Gr");

  int object;
  SetWindowLongPtr(w, GWL_USERDATA, reinterpret_cast<LONG_PTR>(&object));
  EXPECT_EQ(GetWindowLongPtr(w, GWL_USERDATA), reinterpret_cast<LONG_PTR>(&object));
  EXPECT_TRUE(GetWindowLong(w, GWL_STYLE) & WS_VISIBLE);
  RECT r;
  GetWindowRect(w, &r);
  EXPECT_EQ(r.left, 5);
  EXPECT_EQ(r.bottom, 56);

  // Class lookups: an unknown class fails, a child needs a parent.
  EXPECT_EQ(CreateWindowEx(0, u"NoSuchClass", u"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
            nullptr);
  EXPECT_EQ(CreateWindowEx(0, wtest::testClass(), u"", WS_CHILD, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
            nullptr);
  EXPECT_EQ(testkit::findWindow("WTestWindow", "Grüße"), w);
  EXPECT_EQ(FindWindow(wtest::testClass(), u"Grüße"), w);
}

WNDPROC g_previous = nullptr;
LRESULT CALLBACK subclassProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_APP) return 99;
  return CallWindowProc(g_previous, h, m, w, l);
}

TEST_F(WindowMessages, SubclassingReplacesTheProcedureAndChainsTheRest) {
  HWND w = windows.make(
      [](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_APP || m == WM_APP + 1) return 1;
        return std::nullopt;
      },
      WS_POPUP, RECT{0, 0, 10, 10});
  g_previous = reinterpret_cast<WNDPROC>(SetWindowLongPtr(w, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(subclassProc)));
  ASSERT_NE(g_previous, nullptr);
  EXPECT_EQ(SendMessage(w, WM_APP, 0, 0), 99);
  EXPECT_EQ(SendMessage(w, WM_APP + 1, 0, 0), 1);
  // A procedure does not fit the 32-bit call: refused rather than cut.
  EXPECT_EQ(SetWindowLong(w, GWL_WNDPROC, 1234), 0);
  EXPECT_EQ(SendMessage(w, WM_APP, 0, 0), 99);
}

TEST_F(WindowMessages, RegisteredMessagesAndBroadcast) {
  UINT a = RegisterWindowMessage(u"ORVALO_ACTIVATE");
  EXPECT_GE(a, 0xC000u);
  EXPECT_EQ(RegisterWindowMessage(u"orvalo_activate"), a);
  EXPECT_NE(RegisterWindowMessage(u"Something else"), a);
  int hits = 0;
  auto h = [&](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (m == a) ++hits;
    return std::nullopt;
  };
  HWND top1 = windows.make(h, WS_POPUP, RECT{0, 0, 10, 10});
  windows.make(h, WS_POPUP, RECT{0, 0, 10, 10});
  windows.make(h, WS_CHILD, RECT{0, 0, 5, 5}, top1);  // children are not told
  EXPECT_TRUE(PostMessage(HWND_BROADCAST, a, 0, 0));
  testkit::pump();
  EXPECT_EQ(hits, 2);
}

}  // namespace

#include "platform/clock.h"
#include "window_test_util.h"

namespace {

class WindowInput : public wtest::WindowTest {
 protected:
  // Pumps the way a dialog's loop does.
  void pumpDialog(HWND dialog) {
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE))
      if (!IsDialogMessage(dialog, &msg)) {
        TranslateMessage(&msg);
        DispatchMessage(&msg);
      }
  }
  void dialogKey(HWND dialog, UINT vk) {
    platform::inputKey(vk, true);
    platform::inputKey(vk, false);
    pumpDialog(dialog);
  }
};

struct Event;
void PrintTo(const Event& e, std::ostream* os);
struct Event {
  HWND hwnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  bool operator==(const Event& o) const {
    return hwnd == o.hwnd && msg == o.msg && wParam == o.wParam && lParam == o.lParam;
  }
};

void PrintTo(const Event& e, std::ostream* os) {
  *os << "{" << e.hwnd << ", 0x" << std::hex << e.msg << ", " << std::dec << e.wParam << ", " << e.lParam << "}";
}

TEST_F(WindowInput, FocusMovesWithKillAndSetFocus) {
  std::vector<Event> log;
  auto logger = [&](HWND h, UINT m, WPARAM w, LPARAM l) -> std::optional<LRESULT> {
    if (m == WM_SETFOCUS || m == WM_KILLFOCUS) log.push_back({h, m, w, l});
    return std::nullopt;
  };
  HWND top = windows.make(nullptr, WS_POPUP | WS_VISIBLE, RECT{0, 0, 240, 320});
  HWND a = windows.make(logger, WS_CHILD | WS_VISIBLE, RECT{0, 0, 100, 20}, top);
  HWND b = windows.make(logger, WS_CHILD | WS_VISIBLE, RECT{0, 30, 100, 50}, top);
  EXPECT_EQ(GetActiveWindow(), top);
  SetFocus(a);
  log.clear();
  EXPECT_EQ(SetFocus(b), a);
  EXPECT_EQ(GetFocus(), b);
  std::vector<Event> want{{a, WM_KILLFOCUS, WPARAM(b), 0}, {b, WM_SETFOCUS, WPARAM(a), 0}};
  EXPECT_EQ(log, want);

  // Hiding or destroying the focused window gives the focus to its parent;
  // disabling it leaves nobody with the focus.
  ShowWindow(b, SW_HIDE);
  EXPECT_EQ(GetFocus(), top);
  SetFocus(a);
  EnableWindow(a, FALSE);
  EXPECT_EQ(GetFocus(), nullptr);
  EnableWindow(a, TRUE);
  SetFocus(a);
  DestroyWindow(a);
  EXPECT_EQ(GetFocus(), top);
}

TEST_F(WindowInput, TabOrderFollowsCreationAndSkipsWhatCannotTakeFocus) {
  HWND dlg = windows.make(nullptr, WS_POPUP | WS_VISIBLE, RECT{0, 0, 240, 320});
  auto child = [&](int y, DWORD extra, wtest::Handler h = nullptr) {
    return windows.make(std::move(h), WS_CHILD | WS_VISIBLE | extra, RECT{0, y, 100, y + 20}, dlg);
  };
  HWND first = child(0, WS_TABSTOP);
  child(25, 0);  // no tab stop
  HWND disabled = child(50, WS_TABSTOP | WS_DISABLED);
  std::vector<WPARAM> keysSeen;
  HWND wantsTab = child(75, WS_TABSTOP, [&](HWND, UINT m, WPARAM w, LPARAM) -> std::optional<LRESULT> {
    if (m == WM_GETDLGCODE) return DLGC_WANTTAB;
    if (m == WM_KEYDOWN) keysSeen.push_back(w);
    return std::nullopt;
  });
  HWND last = child(100, WS_TABSTOP);
  (void)disabled;

  SetFocus(first);
  dialogKey(dlg, VK_TAB);
  EXPECT_EQ(GetFocus(), wantsTab);
  // This control keeps Tab for itself; Down still moves on.
  dialogKey(dlg, VK_TAB);
  EXPECT_EQ(GetFocus(), wantsTab);
  EXPECT_EQ(keysSeen, (std::vector<WPARAM>{VK_TAB}));
  dialogKey(dlg, VK_DOWN);
  EXPECT_EQ(GetFocus(), last);
  dialogKey(dlg, VK_DOWN);
  EXPECT_EQ(GetFocus(), first);  // wraps
  dialogKey(dlg, VK_UP);
  EXPECT_EQ(GetFocus(), last);
  platform::inputKey(VK_SHIFT, true);
  dialogKey(dlg, VK_TAB);
  platform::inputKey(VK_SHIFT, false);
  EXPECT_EQ(GetFocus(), wantsTab);
  EXPECT_EQ(GetNextDlgTabItem(dlg, first, TRUE), last);
}

TEST_F(WindowInput, DialogKeysBecomeCommandsAndNextControlCanBeHandled) {
  std::vector<std::pair<UINT, WPARAM>> got;
  HWND dlg = windows.make(
      [&](HWND, UINT m, WPARAM w, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_COMMAND || m == WM_NEXTDLGCTL) {
          got.emplace_back(m, w);
          return 0;
        }
        return std::nullopt;
      },
      WS_POPUP | WS_VISIBLE, RECT{0, 0, 240, 320});
  HWND edit = windows.make(nullptr, WS_CHILD | WS_VISIBLE | WS_TABSTOP, RECT{0, 0, 100, 20}, dlg);
  SetFocus(edit);
  dialogKey(dlg, VK_RETURN);
  dialogKey(dlg, VK_ESCAPE);
  platform::inputKey(VK_UP, true);
  pumpDialog(dlg);
  std::vector<std::pair<UINT, WPARAM>> want{
      {WM_COMMAND, IDOK}, {WM_COMMAND, IDCANCEL}, {WM_NEXTDLGCTL, 1}};
  EXPECT_EQ(got, want);
  // Messages of other windows are not the dialog's.
  HWND other = windows.make(nullptr, WS_POPUP, RECT{0, 0, 1, 1});
  MSG msg{other, WM_KEYDOWN, VK_TAB, 0, 0, {}};
  EXPECT_FALSE(IsDialogMessage(dlg, &msg));
}

TEST_F(WindowInput, KeysCarryRepeatDataAndTranslateToCharacters) {
  std::vector<Event> log;
  HWND w = windows.make(
      [&](HWND h, UINT m, WPARAM wp, LPARAM lp) -> std::optional<LRESULT> {
        if (m == WM_KEYDOWN || m == WM_KEYUP || m == WM_CHAR) log.push_back({h, m, wp, lp});
        return std::nullopt;
      },
      WS_POPUP | WS_VISIBLE, RECT{0, 0, 240, 320});
  SetFocus(w);
  testkit::keyDown('A');
  testkit::keyDown('A');  // held: a repeat
  testkit::keyUp('A');
  testkit::key(VK_TSOFT1);
  testkit::type("hé");
  ASSERT_EQ(log.size(), 9u);
  EXPECT_EQ(log[0].msg, UINT(WM_KEYDOWN));
  EXPECT_EQ(log[0].lParam & (1 << 30), 0);
  EXPECT_EQ(log[1], (Event{w, WM_CHAR, 'a', log[0].lParam}));
  EXPECT_NE(log[2].lParam & (1 << 30), 0);  // was down before
  EXPECT_EQ(log[4].msg, UINT(WM_KEYUP));
  EXPECT_NE(DWORD(log[4].lParam) & 0x80000000u, 0u);
  EXPECT_EQ(log[5].wParam, WPARAM(VK_F1));  // soft keys make no characters
  EXPECT_EQ(log[6].msg, UINT(WM_KEYUP));
  EXPECT_EQ(log[7].wParam, WPARAM(u'h'));
  EXPECT_EQ(log[8].wParam, WPARAM(u'é'));
}

TEST_F(WindowInput, TapsGoToTheWindowUnderTheStylusInClientCoordinates) {
  std::vector<Event> log;
  auto logger = [&](HWND h, UINT m, WPARAM w, LPARAM l) -> std::optional<LRESULT> {
    if (m >= WM_MOUSEFIRST && m <= WM_MOUSELAST && m != WM_MOUSEMOVE) log.push_back({h, m, w, l});
    return std::nullopt;
  };
  HWND top = windows.make(logger, WS_POPUP | WS_VISIBLE, RECT{0, 0, 240, 320});
  HWND child = windows.make(logger, WS_CHILD | WS_VISIBLE | WS_BORDER, RECT{20, 40, 120, 90}, top);
  HWND off = windows.make(logger, WS_CHILD | WS_VISIBLE | WS_DISABLED, RECT{20, 100, 120, 150}, top);
  (void)off;
  testkit::tap(31, 52);  // inside the child's border: client 10,11
  testkit::tap(5, 5);
  testkit::tap(30, 110);  // a disabled child is passed over: its parent gets it
  std::vector<Event> want{{child, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 11)},
                          {child, WM_LBUTTONUP, 0, MAKELPARAM(10, 11)},
                          {top, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5)},
                          {top, WM_LBUTTONUP, 0, MAKELPARAM(5, 5)},
                          {top, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(30, 110)},
                          {top, WM_LBUTTONUP, 0, MAKELPARAM(30, 110)}};
  EXPECT_EQ(log, want);

  // With the capture, everything goes to the capturing window.
  log.clear();
  SetCapture(child);
  testkit::tap(200, 300);
  ReleaseCapture();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].hwnd, child);
  EXPECT_EQ(log[0].lParam, MAKELPARAM(200 - 21, 300 - 41));
}

TEST_F(WindowInput, DoubleTapsAndTapAndHold) {
  std::vector<Event> log;
  HWND w = windows.make(
      [&](HWND h, UINT m, WPARAM wp, LPARAM lp) -> std::optional<LRESULT> {
        if (m == WM_LBUTTONDOWN || m == WM_LBUTTONDBLCLK || m == WM_CONTEXTMENU) log.push_back({h, m, wp, lp});
        return std::nullopt;
      },
      WS_POPUP | WS_VISIBLE, RECT{0, 0, 240, 320});
  testkit::doubleTap(50, 60);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].msg, UINT(WM_LBUTTONDBLCLK));
  // Too slow for a double tap.
  log.clear();
  testkit::tap(50, 60);
  testkit::runClock(GetDoubleClickTime() + 1);
  testkit::tap(50, 60);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].msg, UINT(WM_LBUTTONDOWN));

  // Holding the stylus still turns into a context menu at the screen point.
  log.clear();
  testkit::runClock(1000);
  testkit::stylusDown(70, 80);
  testkit::runClock(platform::kTapAndHoldMs - 1);
  EXPECT_EQ(log.size(), 1u);
  testkit::runClock(1);
  testkit::stylusUp(70, 80);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1], (Event{w, WM_CONTEXTMENU, WPARAM(w), MAKELPARAM(70, 80)}));
  // Dragging away is no hold.
  log.clear();
  testkit::stylusDown(70, 80);
  testkit::stylusMove(120, 80);
  testkit::runClock(2000);
  testkit::stylusUp(120, 80);
  EXPECT_EQ(log.size(), 1u);
}

TEST_F(WindowInput, TappingAnotherWindowActivatesIt) {
  std::vector<Event> log;
  auto logger = [&](HWND h, UINT m, WPARAM w, LPARAM l) -> std::optional<LRESULT> {
    if (m == WM_ACTIVATE) log.push_back({h, m, LOWORD(w), l});
    return std::nullopt;
  };
  HWND main = windows.make(logger, WS_POPUP | WS_VISIBLE, RECT{0, 0, 240, 320});
  HWND popup = windows.make(logger, WS_POPUP | WS_VISIBLE, RECT{20, 20, 120, 120});
  EXPECT_EQ(GetActiveWindow(), popup);
  log.clear();
  testkit::tap(200, 300);
  EXPECT_EQ(GetActiveWindow(), main);
  std::vector<Event> want{{popup, WM_ACTIVATE, WA_INACTIVE, LPARAM(main)}, {main, WM_ACTIVATE, WA_ACTIVE, LPARAM(popup)}};
  EXPECT_EQ(log, want);
  // The popup is now beneath the main window.
  POINT p{50, 50};
  EXPECT_EQ(WindowFromPoint(p), main);
  // Destroying the active window hands activation on.
  SetActiveWindow(popup);
  DestroyWindow(popup);
  EXPECT_EQ(GetActiveWindow(), main);
}

TEST_F(WindowInput, ContextMenuAndWheelClimbToTheParent) {
  std::vector<Event> log;
  HWND top = windows.make(
      [&](HWND h, UINT m, WPARAM w, LPARAM l) -> std::optional<LRESULT> {
        if (m == WM_CONTEXTMENU || m == WM_MOUSEWHEEL) {
          log.push_back({h, m, w, l});
          return 0;
        }
        return std::nullopt;
      },
      WS_POPUP | WS_VISIBLE, RECT{0, 0, 240, 320});
  HWND child = windows.make(nullptr, WS_CHILD | WS_VISIBLE, RECT{0, 0, 100, 100}, top);
  SetFocus(child);
  platform::inputWheel(10, 10, -WHEEL_DELTA);
  testkit::pump();
  testkit::tapAndHold(10, 10);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].msg, UINT(WM_MOUSEWHEEL));
  EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(log[0].wParam), -WHEEL_DELTA);
  EXPECT_EQ(log[1], (Event{top, WM_CONTEXTMENU, WPARAM(child), MAKELPARAM(10, 10)}));
  // Through a window between, the parent still learns which window was held.
  HWND panel = windows.make(nullptr, WS_CHILD | WS_VISIBLE, RECT{120, 0, 240, 100}, top);
  HWND inner = windows.make(nullptr, WS_CHILD | WS_VISIBLE, RECT{10, 10, 60, 60}, panel);
  testkit::tapAndHold(150, 30);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[2], (Event{top, WM_CONTEXTMENU, WPARAM(inner), MAKELPARAM(150, 30)}));
  // A top-level window keeps an unhandled one.
  HWND lone = windows.make(nullptr, WS_POPUP, RECT{0, 0, 10, 10}, top);
  EXPECT_EQ(SendMessage(lone, WM_CONTEXTMENU, WPARAM(lone), 0), 0);
  EXPECT_EQ(log.size(), 3u);
}

}  // namespace

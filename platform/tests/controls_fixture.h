// A host window for control tests: it records every WM_COMMAND its
// children send and paints itself white.
#pragma once

#include <string>
#include <vector>

#include "platform/controls.h"
#include "platform/window.h"
#include "testkit/testkit.h"

namespace ctest {

struct Command {
  int id;
  int code;
  HWND from;
};

inline std::vector<Command>& commands() {
  static std::vector<Command> v;
  return v;
}

inline LRESULT CALLBACK hostProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_COMMAND) {
    commands().push_back(Command{LOWORD(w), HIWORD(w), reinterpret_cast<HWND>(l)});
    return 0;
  }
  return DefWindowProc(h, m, w, l);
}

inline LPCWSTR hostClass() {
  static bool once = [] {
    WNDCLASS wc{};
    wc.lpfnWndProc = hostProc;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = u"CTestHost";
    return RegisterClass(&wc) != 0;
  }();
  (void)once;
  return u"CTestHost";
}

class ControlTest : public testkit::PlatformTest {
 protected:
  void SetUp() override {
    testkit::PlatformTest::SetUp();
    commands().clear();
    host = CreateWindowEx(0, hostClass(), u"Host", WS_POPUP | WS_VISIBLE, 0, 0, 240, 320, nullptr, nullptr,
                          nullptr, nullptr);
    testkit::pump();
  }
  HWND make(LPCWSTR cls, const std::string& text, DWORD style, RECT r, int id = 100) {
    std::u16string t = testkit::wide(text);
    HWND h = CreateWindowEx(0, cls, t.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, r.left, r.top,
                            r.right - r.left, r.bottom - r.top, host, reinterpret_cast<HMENU>(intptr_t(id)),
                            nullptr, nullptr);
    testkit::pump();
    return h;
  }
  int count(int id, int code) const {
    int n = 0;
    for (auto& c : commands())
      if (c.id == id && c.code == code) ++n;
    return n;
  }
  HWND host = nullptr;
};

inline std::string text(HWND h) { return testkit::windowText(h); }

}  // namespace ctest

// Windows whose procedure is a lambda, for the window-system tests.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/bitmap.h"
#include "platform/gdi.h"
#include "platform/window.h"
#include "testkit/testkit.h"

namespace wtest {

using Handler = std::function<std::optional<LRESULT>(HWND, UINT, WPARAM, LPARAM)>;

inline LRESULT CALLBACK lambdaProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_NCCREATE)
    SetWindowLongPtr(h, 0, reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCT*>(l)->lpCreateParams));
  auto* handler = reinterpret_cast<Handler*>(GetWindowLongPtr(h, 0));
  if (handler && *handler)
    if (auto r = (*handler)(h, m, w, l)) return *r;
  return DefWindowProc(h, m, w, l);
}

inline LPCWSTR testClass() {
  static ATOM atom = [] {
    WNDCLASS wc{};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = lambdaProc;
    wc.cbWndExtra = sizeof(LONG_PTR);  // the handler; user data stays free
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = u"WTestWindow";
    return RegisterClass(&wc);
  }();
  (void)atom;
  return u"WTestWindow";
}

// Owns the handlers of the windows a test makes (they must outlive them).
class Windows {
 public:
  HWND make(Handler h, DWORD style, RECT r, HWND parent = nullptr, int id = 0, LPCWSTR text = u"") {
    handlers_.push_back(std::make_unique<Handler>(std::move(h)));
    return CreateWindowEx(0, testClass(), text, style, r.left, r.top, r.right - r.left, r.bottom - r.top, parent,
                          reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, handlers_.back().get());
  }
  // A window that fills its client area with one colour when painted.
  HWND solid(COLORREF* color, DWORD style, RECT r, HWND parent = nullptr, std::vector<RECT>* paints = nullptr) {
    return make(
        [color, paints](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
          if (m != WM_PAINT) return std::nullopt;
          PAINTSTRUCT ps;
          HDC dc = BeginPaint(h, &ps);
          if (paints) paints->push_back(ps.rcPaint);
          RECT c;
          GetClientRect(h, &c);
          HBRUSH b = CreateSolidBrush(*color);
          FillRect(dc, &c, b);
          DeleteObject(b);
          EndPaint(h, &ps);
          return 0;
        },
        style, r, parent);
  }
  // Handlers capture the test body's locals: once it has ended they must
  // not run, while the windows are still being torn down.
  void silence() {
    for (auto& h : handlers_) *h = nullptr;
  }

 private:
  std::vector<std::unique_ptr<Handler>> handlers_;
};

class WindowTest : public testkit::PlatformTest {
 protected:
  void TearDown() override {
    windows.silence();
    testkit::PlatformTest::TearDown();
  }
  Windows windows;
};

}  // namespace wtest

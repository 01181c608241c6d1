// Shared pieces of the framework tests: a top-level window to put controls
// in that records what its children tell it, rows that count what the list
// does to them, and a solid icon.
#pragma once

#include <string>
#include <vector>

#include "framework/control.h"
#include "framework/row.h"
#include "platform/bitmap.h"
#include "platform/gdi.h"
#include "testkit/testkit.h"

namespace fwktest {

struct Notice {
  UINT code;
  UINT key;
};

// A top-level window of this module's class that records notifications.
class Host : public fwk::Control {
 public:
  Host() : Control(nullptr, u"Host", WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 240, 320, nullptr, nullptr) {}
  LRESULT windowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  std::vector<Notice> notices;
};

// A child window of this module's class that can take the focus.
class Stop : public fwk::Control {
 public:
  Stop(HWND parent, int x, int y, int w, int h, DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP)
      : Control(nullptr, u"", style, x, y, w, h, parent, nullptr) {}
};

class CountingRow : public fwk::Row {
 public:
  explicit CountingRow(int h) : m_height(h) {}
  void paint(HDC, const RECT&) override { ++paints; }
  int height(int) override { return m_height; }
  void activate() override { ++activations; }
  void contextMenu(int x, int y) override {
    ++menus;
    menuAt = POINT{x, y};
  }
  int paints = 0;
  int activations = 0;
  int menus = 0;
  POINT menuAt{-1, -1};

 private:
  int m_height;
};

// A square icon of one opaque colour.
HICON solidIcon(int size, COLORREF color);

inline bool near(COLORREF a, COLORREF b, int tolerance) {
  auto d = [](int x, int y) { return x > y ? x - y : y - x; };
  return d(GetRValue(a), GetRValue(b)) <= tolerance && d(GetGValue(a), GetGValue(b)) <= tolerance &&
         d(GetBValue(a), GetBValue(b)) <= tolerance;
}

}  // namespace fwktest

// BoxLayout: a window that stacks its children top to bottom across its
// full width, and moves the focus among them in the order they appear on
// the screen.
//
//   layout.add(header, 20);            // fixed height
//   layout.add(editA, 24, true);       // overlaps: the next child takes the same place
//   layout.add(editB, 24);
//   layout.addStretching(list);        // takes what is left
#pragma once

#include <vector>

#include "framework/control.h"

namespace fwk {

class BoxLayout : public Control {
 public:
  BoxLayout(HWND parent, DWORD style, int x, int y, int width, int height, UINT id = 0);
  ~BoxLayout() override;

  // `child` is made a child of the layout if it is not one yet. With
  // `overlap` the next child is placed at the same position.
  void add(HWND child, int height, bool overlap = false);
  // The one child that takes the height the others leave; a second call
  // makes the new child the stretching one instead.
  void addStretching(HWND child);
  void remove(HWND child);
  // False when the child is not in the layout.
  bool setHeight(HWND child, int height);
  // Places every child again (also done on each resize).
  void layout();
  // Children with the tab-stop style, visible and enabled, by top edge then
  // left edge.
  std::vector<HWND> focusOrder() const;

 protected:
  LRESULT onNextDlgCtl(bool previous) override;
  LRESULT onSize(UINT kind, int width, int height) override;

 private:
  struct Item {
    HWND hwnd;
    int height;
    bool overlap;
    bool stretch;
  };
  std::vector<Item> m_items;
};

}  // namespace fwk

// ListControl: an owner-drawn, double-buffered, vertically scrolling list of
// rows over a gradient. Keys move the selection (and the focus past either
// end), Enter opens the selected row's context menu, a tap selects and a
// double tap activates.
#pragma once

#include <deque>

#include "framework/control.h"
#include "framework/row.h"

namespace fwk {

class ListControl : public Control {
 public:
  // WS_VSCROLL is added; WS_TABSTOP is worth giving so box layouts and
  // dialogs move the focus to the list.
  ListControl(HWND parent, DWORD style, int x, int y, int width, int height, UINT id = 0);
  ~ListControl() override;

  void addRow(Ref<Row> row);
  void insertRowAtFront(Ref<Row> row);
  // False when the row is not in the list.
  bool removeRow(Row* row);
  // Removes `count` rows from index `first` on.
  void removeRows(int first, int count);
  void removeAllRows();
  // Puts `row` where row `i` is (the old row goes) and measures only it.
  void replaceRow(int i, Ref<Row> row);
  // Measures row `i` again after its height changed; the rows below move,
  // the selection stays on its row.
  void remeasureRow(int i);

  int rowCount() const { return int(m_rows.size()); }
  Row* row(int i) const { return i >= 0 && i < rowCount() ? m_rows[size_t(i)].get() : nullptr; }
  int indexOf(const Row* row) const;
  // -1 when the list is empty.
  int selectedIndex() const { return m_selected; }
  // Selects, scrolls the row into view and repaints.
  void setSelectedIndex(int i);
  bool hasFocus() const { return m_hasFocus; }
  // How many rows the last paint drew across the whole client area: the
  // page for Page Up and Page Down.
  int rowsPainted() const { return m_painted; }
  int scrollPosition() const;

  // List operations, in slot order after Control's.
  // Invalidates one row's rectangle.
  virtual void paintRow(int i);
  virtual void recomputeRects();
  virtual void updateScrollRange();
  virtual void makeRowVisible(int i);
  // Client coordinates, moved up by the scroll position; empty when out of range.
  virtual RECT rowRect(int i);
  // Client coordinates; -1 when no row is there.
  virtual int hitTest(int x, int y);
  virtual void refresh();
  virtual void clampSelection();

  static constexpr COLORREF kGradientTop = 0x00FFFFFF;     // white
  static constexpr COLORREF kGradientBottom = 0x00E1EAF2;  // RGB(242, 234, 225)
  static constexpr int kLineStep = 15;
  static constexpr int kPageDownStep = 150;

 protected:
  LRESULT onContextMenu(int x, int y) override;
  LRESULT onEraseBackground(HDC dc) override;
  LRESULT onGetDlgCode(UINT key, MSG* msg) override;
  LRESULT onKey(UINT key, bool down, LPARAM repeatData) override;
  LRESULT onKillFocus(HWND next) override;
  LRESULT onStylusDown(bool doubleTap, int x, int y) override;
  LRESULT onPaint() override;
  LRESULT onSetFocus(HWND previous) override;
  LRESULT onSize(UINT kind, int width, int height) override;
  LRESULT onVScroll(UINT code, int pos, HWND bar) override;
  LRESULT onMouseWheel(int delta, int x, int y) override;

 private:
  int clientWidth() const;
  int clientHeight() const;
  int totalHeight() const { return m_rects.empty() ? 0 : int(m_rects.back().bottom) + m_shift; }
  // Row `i`'s rectangle in list coordinates.
  RECT listRect(size_t i) const {
    RECT r = m_rects[i];
    OffsetRect(&r, 0, m_shift);
    return r;
  }
  // Moves rows `i` and below by `dy` and keeps the ones above in place,
  // touching whichever side has fewer rows.
  void moveRowsFrom(size_t i, int dy);
  // The scroll range and a repaint after rows changed.
  void rowsChanged();
  void scrollTo(int pos);
  void openContextMenu(int i, int screenX, int screenY);
  // The first row whose rectangle reaches below list coordinate `y`.
  int firstRowBelow(int y) const;

  std::deque<Ref<Row>> m_rows;
  // Stored m_shift above list coordinates (top 0 is the first row's top),
  // so rows added at the front move the others without touching them.
  std::deque<RECT> m_rects;
  int m_shift = 0;
  int m_selected = -1;
  bool m_hasFocus = false;
  int m_painted = 0;
  int m_laidOutWidth = -1;
  bool m_inScrollUpdate = false;
};

}  // namespace fwk

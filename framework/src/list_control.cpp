#include "framework/list_control.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "framework/gesture.h"
#include "framework/paint.h"
#include "platform/bitmap.h"
#include "platform/gdi.h"

namespace fwk {

ListControl::ListControl(HWND parent, DWORD style, int x, int y, int width, int height, UINT id)
    : Control(nullptr, u"", style | WS_VSCROLL, x, y, width, height, parent, nullptr, 0, id) {
  setTakesFocusOnTap(true);
  // Sizing messages during creation reached Control only.
  refresh();
}

ListControl::~ListControl() {
  // Rows go while the list is still whole: a row's destructor may send
  // messages that reach the list.
  std::deque<Ref<Row>> gone;
  gone.swap(m_rows);
  m_rects.clear();
  m_shift = 0;
  m_selected = -1;
  gone.clear();
}

int ListControl::clientWidth() const {
  RECT r{};
  GetClientRect(hwnd(), &r);
  return r.right - r.left;
}

int ListControl::clientHeight() const {
  RECT r{};
  GetClientRect(hwnd(), &r);
  return r.bottom - r.top;
}

int ListControl::scrollPosition() const { return hwnd() ? GetScrollPos(hwnd(), SB_VERT) : 0; }

int ListControl::indexOf(const Row* row) const {
  for (size_t i = 0; i < m_rows.size(); ++i)
    if (m_rows[i].get() == row) return int(i);
  return -1;
}

void ListControl::moveRowsFrom(size_t i, int dy) {
  if (dy == 0) return;
  if (i >= m_rects.size() - i) {
    for (size_t j = i; j < m_rects.size(); ++j) OffsetRect(&m_rects[j], 0, dy);
  } else {
    for (size_t j = 0; j < i; ++j) OffsetRect(&m_rects[j], 0, -dy);
    m_shift += dy;
  }
}

void ListControl::rowsChanged() {
  clampSelection();
  updateScrollRange();
  InvalidateRect(hwnd(), nullptr, FALSE);
}

void ListControl::addRow(Ref<Row> row) {
  if (!row) return;
  int top = totalHeight() - m_shift;
  int h = std::max(0, row->height(clientWidth()));
  m_rows.push_back(std::move(row));
  m_rects.push_back(RECT{0, top, 0, top + h});
  rowsChanged();
}

void ListControl::insertRowAtFront(Ref<Row> row) {
  if (!row) return;
  int h = std::max(0, row->height(clientWidth()));
  moveRowsFrom(0, h);
  m_rows.push_front(std::move(row));
  m_rects.push_front(RECT{0, -m_shift, 0, h - m_shift});
  // The same row stays selected.
  if (m_selected >= 0) ++m_selected;
  rowsChanged();
}

bool ListControl::removeRow(Row* row) {
  int i = indexOf(row);
  if (i < 0) return false;
  removeRows(i, 1);
  return true;
}

void ListControl::removeRows(int first, int count) {
  first = std::clamp(first, 0, rowCount());
  count = std::clamp(count, 0, rowCount() - first);
  if (count == 0) return;
  auto from = size_t(first), to = size_t(first + count);
  int h = m_rects[to - 1].bottom - m_rects[from].top;
  // Keep the rows alive until the list is consistent again: a destructor
  // may look at the list.
  std::vector<Ref<Row>> keep(m_rows.begin() + first, m_rows.begin() + first + count);
  m_rows.erase(m_rows.begin() + first, m_rows.begin() + first + count);
  m_rects.erase(m_rects.begin() + first, m_rects.begin() + first + count);
  moveRowsFrom(from, -h);
  if (m_selected >= first + count)
    m_selected -= count;
  else if (m_selected > first)
    m_selected = first;
  rowsChanged();
}

void ListControl::replaceRow(int i, Ref<Row> row) {
  if (i < 0 || i >= rowCount() || !row) return;
  // The old row lives until the list is whole again: its destructor may
  // look at the list.
  Ref<Row> old = std::exchange(m_rows[size_t(i)], std::move(row));
  remeasureRow(i);
}

void ListControl::remeasureRow(int i) {
  if (i < 0 || i >= rowCount()) return;
  RECT& r = m_rects[size_t(i)];
  int h = std::max(0, m_rows[size_t(i)]->height(clientWidth()));
  int dy = h - (r.bottom - r.top);
  r.bottom += dy;
  moveRowsFrom(size_t(i) + 1, dy);
  rowsChanged();
}

void ListControl::removeAllRows() {
  std::deque<Ref<Row>> gone;
  gone.swap(m_rows);
  m_rects.clear();
  m_shift = 0;
  m_selected = -1;
  updateScrollRange();
  InvalidateRect(hwnd(), nullptr, FALSE);
}

void ListControl::setSelectedIndex(int i) {
  if (m_rows.empty()) return;
  m_selected = std::clamp(i, 0, rowCount() - 1);
  makeRowVisible(m_selected);
  InvalidateRect(hwnd(), nullptr, FALSE);
}

void ListControl::paintRow(int i) {
  RECT r = rowRect(i);
  if (!IsRectEmpty(&r)) InvalidateRect(hwnd(), &r, FALSE);
}

void ListControl::recomputeRects() {
  int width = clientWidth();
  int top = 0;
  m_rects.resize(m_rows.size());
  for (size_t i = 0; i < m_rows.size(); ++i) {
    int h = std::max(0, m_rows[i]->height(width));
    m_rects[i] = RECT{0, top, 0, top + h};
    top += h;
  }
  m_shift = 0;
  m_laidOutWidth = width;
}

void ListControl::updateScrollRange() {
  if (!hwnd() || m_inScrollUpdate) return;
  m_inScrollUpdate = true;
  // Showing or hiding the bar changes the width and may change row heights:
  // go round until the range holds still.
  for (int round = 0; round < 3; ++round) {
    int total = totalHeight();
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    si.fMask = SIF_RANGE | SIF_PAGE;
    si.nMin = 0;
    si.nMax = std::max(0, total - 1);
    si.nPage = UINT(std::max(0, clientHeight()));
    SetScrollInfo(hwnd(), SB_VERT, &si, TRUE);
    if (clientWidth() != m_laidOutWidth) recomputeRects();
    if (totalHeight() == total) break;
  }
  m_inScrollUpdate = false;
}

void ListControl::scrollTo(int pos) {
  if (!hwnd()) return;
  int old = scrollPosition();
  SetScrollPos(hwnd(), SB_VERT, std::max(0, pos), TRUE);
  if (scrollPosition() != old) InvalidateRect(hwnd(), nullptr, FALSE);
}

void ListControl::makeRowVisible(int i) {
  if (i < 0 || i >= rowCount()) return;
  RECT r = listRect(size_t(i));
  int pos = scrollPosition();
  int h = clientHeight();
  if (r.bottom > pos + h) pos = r.bottom - h;
  if (r.top < pos) pos = r.top;  // a row taller than the list shows its top
  scrollTo(pos);
}

RECT ListControl::rowRect(int i) {
  if (i < 0 || i >= rowCount()) return RECT{0, 0, 0, 0};
  RECT r = listRect(size_t(i));
  r.left = 0;
  r.right = clientWidth();
  OffsetRect(&r, 0, -scrollPosition());
  return r;
}

int ListControl::firstRowBelow(int y) const {
  int stored = y - m_shift;
  auto it = std::partition_point(m_rects.begin(), m_rects.end(), [stored](const RECT& r) { return r.bottom <= stored; });
  return int(it - m_rects.begin());
}

int ListControl::hitTest(int x, int y) {
  if (x < 0 || x >= clientWidth() || y < 0 || y >= clientHeight()) return -1;
  int ly = y + scrollPosition();
  int i = firstRowBelow(ly);
  if (i >= rowCount() || listRect(size_t(i)).top > ly) return -1;
  return i;
}

void ListControl::refresh() {
  recomputeRects();
  clampSelection();
  updateScrollRange();
  InvalidateRect(hwnd(), nullptr, FALSE);
}

void ListControl::clampSelection() {
  if (m_rows.empty()) {
    m_selected = -1;
    return;
  }
  m_selected = std::clamp(m_selected, 0, rowCount() - 1);
}

void ListControl::openContextMenu(int i, int screenX, int screenY) {
  if (i < 0 || i >= rowCount()) return;
  Ref<Row> keep = m_rows[size_t(i)];  // the menu may remove the row
  keep->contextMenu(screenX, screenY);
}

LRESULT ListControl::onContextMenu(int x, int y) {
  int i;
  if (x == -1 && y == -1) {
    i = m_selected;
    RECT r = rowRect(i);
    POINT pt{r.left + 5, r.top + 5};
    ClientToScreen(hwnd(), &pt);
    x = pt.x;
    y = pt.y;
  } else {
    POINT pt{x, y};
    ScreenToClient(hwnd(), &pt);
    i = hitTest(pt.x, pt.y);
  }
  if (i < 0) return Control::onContextMenu(x, y);
  m_selected = i;
  InvalidateRect(hwnd(), nullptr, FALSE);
  UpdateWindow(hwnd());
  openContextMenu(i, x, y);
  return 0;
}

LRESULT ListControl::onEraseBackground(HDC) {
  return 1;  // the paint covers every pixel
}

LRESULT ListControl::onGetDlgCode(UINT key, MSG*) {
  // Arrows move the selection; Enter and the application key open the menu.
  UINT code = DLGC_WANTARROWS;
  if (key == VK_RETURN || key == VK_APPS) code |= DLGC_WANTMESSAGE;
  return code;
}

LRESULT ListControl::onKey(UINT key, bool down, LPARAM repeatData) {
  if (!down) return Control::onKey(key, down, repeatData);
  int n = rowCount();
  int step = std::max(1, m_painted - 1);  // a page less the row that stays in view
  int sel = m_selected;
  switch (key) {
    case VK_RETURN:
    case VK_APPS: {
      if (sel < 0) return 0;
      RECT r = rowRect(sel);
      POINT pt{r.left + 5, r.top + 5};
      ClientToScreen(hwnd(), &pt);
      openContextMenu(sel, pt.x, pt.y);
      return 0;
    }
    case VK_UP:
      if (sel > 0) {
        --sel;
        break;
      }
      if (HWND parent = GetParent(hwnd())) SendMessage(parent, WM_NEXTDLGCTL, 1, 0);
      return 0;
    case VK_DOWN:
      if (sel >= 0 && sel < n - 1) {
        ++sel;
        break;
      }
      if (HWND parent = GetParent(hwnd())) SendMessage(parent, WM_NEXTDLGCTL, 0, 0);
      return 0;
    case VK_PRIOR:
      sel -= step;
      break;
    case VK_NEXT:
      sel += step;
      break;
    case VK_HOME:
      sel = 0;
      break;
    case VK_END:
      sel = n - 1;
      break;
    default:
      return Control::onKey(key, down, repeatData);
  }
  if (n > 0) setSelectedIndex(sel);
  return 0;
}

LRESULT ListControl::onKillFocus(HWND next) {
  m_hasFocus = false;
  paintRow(m_selected);
  return Control::onKillFocus(next);
}

LRESULT ListControl::onSetFocus(HWND previous) {
  m_hasFocus = true;
  paintRow(m_selected);
  return Control::onSetFocus(previous);
}

LRESULT ListControl::onStylusDown(bool doubleTap, int x, int y) {
  int i = hitTest(x, y);
  if (i >= 0) m_selected = i;
  InvalidateRect(hwnd(), nullptr, FALSE);
  if (i < 0) return 0;
  UpdateWindow(hwnd());
  Ref<Row> keep = m_rows[size_t(i)];
  if (recognizeTapAndHold(hwnd(), x, y)) {
    POINT pt{x, y};
    ClientToScreen(hwnd(), &pt);
    keep->contextMenu(pt.x, pt.y);
    return 0;
  }
  keep->activateIf(doubleTap);
  return 0;
}

LRESULT ListControl::onPaint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd(), &ps);
  int w = clientWidth(), h = clientHeight();
  if (MemoryDC mem(dc, w, h); mem) {
    RECT area = ps.rcPaint;
    IntersectClipRect(mem.dc(), area.left, area.top, area.right, area.bottom);
    fillVerticalGradient(mem.dc(), RECT{0, 0, w, h}, kGradientTop, kGradientBottom);

    SetBkMode(mem.dc(), TRANSPARENT);
    ScopedSelect font(mem.dc(), reinterpret_cast<HFONT>(SendMessage(hwnd(), WM_GETFONT, 0, 0)));
    int pos = scrollPosition();
    int n = rowCount();
    for (int i = firstRowBelow(area.top + pos); i < n && listRect(size_t(i)).top < area.bottom + pos; ++i) {
      RECT r = rowRect(i);
      Row* row = m_rows[size_t(i)].get();
      row->setSelected(i == m_selected);
      row->paintSelectionBackground(mem.dc(), r, i == m_selected && m_hasFocus);
      row->paint(mem.dc(), r);
    }
    // The page for Page Up/Down is what the whole list shows, even when
    // only part of it was repainted.
    int painted = 0;
    for (int i = firstRowBelow(pos); i < n && listRect(size_t(i)).top < pos + h; ++i) ++painted;
    m_painted = painted;

    mem.copyTo(area);
  }
  EndPaint(hwnd(), &ps);
  return 0;
}

LRESULT ListControl::onSize(UINT kind, int width, int height) {
  if (width != m_laidOutWidth) recomputeRects();
  updateScrollRange();
  makeRowVisible(m_selected);
  InvalidateRect(hwnd(), nullptr, FALSE);
  return Control::onSize(kind, width, height);
}

LRESULT ListControl::onVScroll(UINT code, int pos, HWND bar) {
  int now = scrollPosition();
  switch (code) {
    case SB_LINEUP:
    case SB_PAGEUP:  // a page up is a line, as the users of this list know it
      scrollTo(now - kLineStep);
      return 0;
    case SB_LINEDOWN:
      scrollTo(now + kLineStep);
      return 0;
    case SB_PAGEDOWN:
      scrollTo(now + kPageDownStep);
      return 0;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
      // The message carries 16 bits; a longer list reads the full position.
      SCROLLINFO si{};
      si.cbSize = sizeof si;
      si.fMask = SIF_RANGE | SIF_TRACKPOS;
      if (GetScrollInfo(hwnd(), SB_VERT, &si) && si.nMax > 0xFFFF) pos = si.nTrackPos;
      scrollTo(pos);
      return 0;
    }
  }
  return Control::onVScroll(code, pos, bar);
}

LRESULT ListControl::onMouseWheel(int delta, int, int) {
  scrollTo(scrollPosition() - delta);
  return 0;
}

}  // namespace fwk

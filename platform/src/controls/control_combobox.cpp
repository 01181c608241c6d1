// "COMBOBOX" as a drop-down list: a box showing the chosen item and a list
// that opens below it (above when there is no room). Left and Right step
// through the items without opening the list, as a phone's spinner does;
// the action key or a tap opens it; in the open list Up and Down move,
// the action key or a tap chooses, Back or a tap outside closes it.
#include <algorithm>
#include <vector>

#include "control_internal.h"
#include "dc_selection.h"

namespace platform::controls {
namespace {

struct Item {
  std::u16string text;
  LPARAM data = 0;
};

struct ComboState {
  std::vector<Item> items;
  int sel = -1;
  bool focused = false;
  HWND list = nullptr;   // the open list, when open
  int hot = -1;          // the highlighted row of the open list
  int top = 0;           // first row shown in the open list
};

struct ListState {
  HWND combo = nullptr;
};

constexpr int kMaxRows = 6;

int rowHeight(HWND combo) { return lineHeight(combo) + 4; }

bool compareNoCase(const std::u16string& a, const std::u16string& b, size_t n) {
  if (a.size() < n || b.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (lowerOf(a[i]) != lowerOf(b[i])) return false;
  return true;
}

void repaintList(ComboState* st) {
  if (st->list) InvalidateRect(st->list, nullptr, TRUE);
}

void closeList(HWND h, ComboState* st, bool accept) {
  if (!st->list) return;
  HWND list = st->list;
  st->list = nullptr;
  if (GetCapture() == list) ReleaseCapture();
  DestroyWindow(list);
  if (accept && st->hot >= 0 && st->hot != st->sel) {
    st->sel = st->hot;
    InvalidateRect(h, nullptr, TRUE);
    notifyParent(h, CBN_SELENDOK);
    notifyParent(h, CBN_SELCHANGE);
  } else {
    notifyParent(h, CBN_SELENDCANCEL);
  }
  notifyParent(h, CBN_CLOSEUP);
}

void keepHotVisible(ComboState* st) {
  int rows = std::min<int>(kMaxRows, int(st->items.size()));
  if (st->hot < st->top) st->top = st->hot;
  if (st->hot >= st->top + rows) st->top = st->hot - rows + 1;
  st->top = std::max(0, st->top);
}

void openList(HWND h, ComboState* st) {
  if (st->list || st->items.empty()) return;
  notifyParent(h, CBN_DROPDOWN);
  RECT r;
  GetWindowRect(h, &r);
  int rows = std::min<int>(kMaxRows, int(st->items.size()));
  int height = rows * rowHeight(h) + 2;
  int y = r.bottom;
  int screenH = GetSystemMetrics(SM_CYSCREEN);
  if (y + height > screenH && r.top - height >= 0) y = r.top - height;
  st->hot = st->sel >= 0 ? st->sel : 0;
  st->top = 0;
  keepHotVisible(st);
  // The list is a child of the top window, above its other children, so
  // opening it does not take the activation from the dialog.
  HWND root = GetAncestor(h, GA_ROOT);
  POINT at{r.left, y};
  ScreenToClient(root, &at);
  auto* ls = new ListState{h};
  HWND list = CreateWindowEx(0, u"ComboLBox", u"", WS_CHILD | WS_BORDER, at.x, at.y, r.right - r.left, height, root,
                             nullptr, nullptr, ls);
  if (!list) {
    delete ls;
    return;
  }
  st->list = list;
  SetWindowPos(list, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ShowWindow(list, SW_SHOWNOACTIVATE);
  // Taps anywhere go to the list while it is open, so one outside closes it.
  SetCapture(list);
}

void choose(HWND h, ComboState* st, int index) {
  if (index < 0 || index >= int(st->items.size()) || index == st->sel) return;
  st->sel = index;
  InvalidateRect(h, nullptr, TRUE);
  notifyParent(h, CBN_SELCHANGE);
}

void paintBox(HWND h, ComboState* st) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, &ps);
  RECT rc;
  GetClientRect(h, &rc);
  bool enabled = IsWindowEnabled(h);
  HBRUSH bg = askColours(h, dc, WM_CTLCOLOREDIT);
  HBRUSH frame = CreateSolidBrush(st->focused ? kFocusColour : kFrameColour);
  FillRect(dc, &rc, frame);
  RECT inner = rc;
  InflateRect(&inner, st->focused ? -2 : -1, st->focused ? -2 : -1);
  FillRect(dc, &inner, bg);
  DeleteObject(frame);
  // The arrow at the right says the box opens.
  int aw = std::max<int>(9, (inner.bottom - inner.top) * 2 / 3);
  RECT arrow{inner.right - aw, inner.top, inner.right, inner.bottom};
  HBRUSH face = CreateSolidBrush(kFaceColour);
  FillRect(dc, &arrow, face);
  DeleteObject(face);
  int cx = (arrow.left + arrow.right) / 2, cy = (arrow.top + arrow.bottom) / 2;
  int s = std::max(2, aw / 4);
  POINT tri[3] = {{cx - s, cy - s / 2}, {cx + s, cy - s / 2}, {cx, cy + s / 2 + 1}};
  HBRUSH ab = CreateSolidBrush(enabled ? RGB(0, 0, 0) : kFrameColour);
  {
    gdi::DcSelection arrow(dc, ab, GetStockObject(NULL_PEN));
    Polygon(dc, tri, 3);
  }
  DeleteObject(ab);
  if (st->sel >= 0 && st->sel < int(st->items.size())) {
    gdi::DcSelection font(dc, fontOf(h));
    SetBkMode(dc, TRANSPARENT);
    if (!enabled) SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
    RECT tr{inner.left + 2, inner.top, arrow.left - 2, inner.bottom};
    const std::u16string& t = st->items[size_t(st->sel)].text;
    DrawText(dc, t.c_str(), int(t.size()), &tr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
  }
  EndPaint(h, &ps);
}

void paintList(HWND list, HWND combo, ComboState* st) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(list, &ps);
  RECT rc;
  GetClientRect(list, &rc);
  FillRect(dc, &rc, GetSysColorBrush(COLOR_WINDOW));
  {
    gdi::DcSelection font(dc, fontOf(combo));
    SetBkMode(dc, TRANSPARENT);
    int rh = rowHeight(combo);
    for (int i = st->top, row = 0; i < int(st->items.size()) && row < kMaxRows; ++i, ++row) {
      RECT r{0, row * rh, rc.right, (row + 1) * rh};
      if (i == st->hot) {
        FillRect(dc, &r, GetSysColorBrush(COLOR_HIGHLIGHT));
        SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
      } else {
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      }
      RECT tr = r;
      tr.left += 4;
      const std::u16string& t = st->items[size_t(i)].text;
      DrawText(dc, t.c_str(), int(t.size()), &tr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    }
  }
  EndPaint(list, &ps);
}

LRESULT insertItem(HWND h, ComboState* st, int at, LPCWSTR text) {
  if (!text) return CB_ERR;
  Item it{text, 0};
  if (at < 0 || at > int(st->items.size())) {
    at = int(st->items.size());
    if (GetWindowLong(h, GWL_STYLE) & CBS_SORT) {
      at = 0;
      while (at < int(st->items.size()) && st->items[size_t(at)].text <= it.text) ++at;
    }
  }
  st->items.insert(st->items.begin() + at, std::move(it));
  if (st->sel >= at) ++st->sel;
  repaintList(st);
  return at;
}

int findItem(ComboState* st, WPARAM startAfter, LPCWSTR text, bool exact) {
  if (!text) return CB_ERR;
  std::u16string want(text);
  int n = int(st->items.size());
  int start = INT(startAfter) < 0 ? 0 : int(startAfter) + 1;
  for (int k = 0; k < n; ++k) {
    int i = (start + k) % n;
    const std::u16string& t = st->items[size_t(i)].text;
    if (exact ? (t.size() == want.size() && compareNoCase(t, want, want.size())) : compareNoCase(t, want, want.size()))
      return i;
  }
  return CB_ERR;
}

}  // namespace

LRESULT CALLBACK comboProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* st = stateOf<ComboState>(h);
  if (!st && msg != WM_NCCREATE) return DefWindowProc(h, msg, wParam, lParam);
  LRESULT result;
  if (controlLifecycle<ComboState>(h, msg, wParam, lParam, &result, [](auto) { return new ComboState; }))
    return result;
  switch (msg) {
    case WM_DESTROY:
      if (st->list) {
        HWND list = st->list;
        st->list = nullptr;
        DestroyWindow(list);
      }
      return 0;
    case WM_PAINT:
      paintBox(h, st);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_ENABLE:
      if (!wParam) closeList(h, st, false);
      InvalidateRect(h, nullptr, TRUE);
      return 0;
    case WM_SETFOCUS:
      st->focused = true;
      InvalidateRect(h, nullptr, TRUE);
      notifyParent(h, CBN_SETFOCUS);
      return 0;
    case WM_KILLFOCUS:
      st->focused = false;
      closeList(h, st, false);
      InvalidateRect(h, nullptr, TRUE);
      notifyParent(h, CBN_KILLFOCUS);
      return 0;
    case WM_GETDLGCODE: {
      LRESULT code = DLGC_WANTCHARS;
      auto* m = reinterpret_cast<const MSG*>(lParam);
      bool open = st->list != nullptr;
      if (m && m->message == WM_KEYDOWN) {
        if (m->wParam == VK_LEFT || m->wParam == VK_RIGHT) code |= DLGC_WANTARROWS;
        if (open) code |= DLGC_WANTALLKEYS;
        if (m->wParam == VK_RETURN) code |= DLGC_WANTALLKEYS;
      }
      if (m && m->message == WM_CHAR && (open || m->wParam == '\r')) code |= DLGC_WANTALLKEYS;
      return code;
    }
    case WM_KEYDOWN: {
      bool open = st->list != nullptr;
      switch (wParam) {
        case VK_LEFT:
        case VK_RIGHT: {
          if (open) return 0;
          int n = int(st->items.size());
          if (n == 0) return 0;
          int to = st->sel < 0 ? 0 : st->sel + (wParam == VK_RIGHT ? 1 : -1);
          choose(h, st, std::clamp(to, 0, n - 1));
          return 0;
        }
        case VK_UP:
        case VK_DOWN:
          if (!open) break;
          st->hot = std::clamp(st->hot + (wParam == VK_DOWN ? 1 : -1), 0, int(st->items.size()) - 1);
          keepHotVisible(st);
          repaintList(st);
          return 0;
        case VK_RETURN:
          if (open) closeList(h, st, true);
          else openList(h, st);
          return 0;
        case VK_ESCAPE:
          if (open) {
            closeList(h, st, false);
            return 0;
          }
          break;
      }
      break;
    }
    case WM_CHAR: {
      // A typed letter picks the next item that begins with it.
      WCHAR c = WCHAR(wParam);
      if (c < 0x20) return 0;
      int i = findItem(st, WPARAM(st->sel), std::u16string(1, c).c_str(), false);
      if (i >= 0) {
        if (st->list) {
          st->hot = i;
          keepHotVisible(st);
          repaintList(st);
        } else {
          choose(h, st, i);
        }
      }
      return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      if (GetFocus() != h) SetFocus(h);
      if (st->list) closeList(h, st, false);
      else openList(h, st);
      return 0;
    case CB_ADDSTRING:
      return insertItem(h, st, -1, reinterpret_cast<LPCWSTR>(lParam));
    case CB_INSERTSTRING: {
      int at = INT(wParam);
      if (at > int(st->items.size())) return CB_ERR;
      return insertItem(h, st, at < 0 ? int(st->items.size()) : at, reinterpret_cast<LPCWSTR>(lParam)) >= 0
                 ? (at < 0 ? LRESULT(st->items.size() - 1) : at)
                 : CB_ERR;
    }
    case CB_DELETESTRING: {
      int i = INT(wParam);
      if (i < 0 || i >= int(st->items.size())) return CB_ERR;
      st->items.erase(st->items.begin() + i);
      if (st->sel == i) st->sel = -1;
      else if (st->sel > i) --st->sel;
      if (st->items.empty()) closeList(h, st, false);
      st->hot = std::min(st->hot, int(st->items.size()) - 1);
      InvalidateRect(h, nullptr, TRUE);
      repaintList(st);
      return LRESULT(st->items.size());
    }
    case CB_RESETCONTENT:
      closeList(h, st, false);
      st->items.clear();
      st->sel = -1;
      InvalidateRect(h, nullptr, TRUE);
      return 0;
    case CB_GETCOUNT:
      return LRESULT(st->items.size());
    case CB_GETCURSEL:
      return st->sel;
    case CB_SETCURSEL: {
      int i = INT(wParam);
      if (i < 0 || i >= int(st->items.size())) {
        st->sel = -1;
        InvalidateRect(h, nullptr, TRUE);
        return CB_ERR;
      }
      st->sel = i;
      InvalidateRect(h, nullptr, TRUE);
      return i;
    }
    case CB_GETLBTEXT: {
      int i = INT(wParam);
      auto* buf = reinterpret_cast<LPWSTR>(lParam);
      if (i < 0 || i >= int(st->items.size()) || !buf) return CB_ERR;
      const std::u16string& t = st->items[size_t(i)].text;
      std::copy(t.begin(), t.end(), buf);
      buf[t.size()] = 0;
      return LRESULT(t.size());
    }
    case CB_GETLBTEXTLEN: {
      int i = INT(wParam);
      if (i < 0 || i >= int(st->items.size())) return CB_ERR;
      return LRESULT(st->items[size_t(i)].text.size());
    }
    case CB_GETITEMDATA: {
      int i = INT(wParam);
      if (i < 0 || i >= int(st->items.size())) return CB_ERR;
      return st->items[size_t(i)].data;
    }
    case CB_SETITEMDATA: {
      int i = INT(wParam);
      if (i < 0 || i >= int(st->items.size())) return CB_ERR;
      st->items[size_t(i)].data = lParam;
      return TRUE;
    }
    case CB_FINDSTRING:
      return findItem(st, wParam, reinterpret_cast<LPCWSTR>(lParam), false);
    case CB_FINDSTRINGEXACT:
      return findItem(st, wParam, reinterpret_cast<LPCWSTR>(lParam), true);
    case CB_SELECTSTRING: {
      int i = findItem(st, wParam, reinterpret_cast<LPCWSTR>(lParam), false);
      if (i >= 0) {
        st->sel = i;
        InvalidateRect(h, nullptr, TRUE);
      }
      return i;
    }
    case CB_SHOWDROPDOWN:
      if (wParam) openList(h, st);
      else closeList(h, st, false);
      return TRUE;
    case CB_GETDROPPEDSTATE:
      return st->list != nullptr;
    case WM_SETTEXT:
      return CB_ERR;  // a drop-down list shows only its items
    case WM_GETTEXT: {
      auto* buf = reinterpret_cast<LPWSTR>(lParam);
      if (!buf || wParam == 0) return 0;
      std::u16string t = st->sel >= 0 ? st->items[size_t(st->sel)].text : std::u16string();
      size_t n = std::min(t.size(), size_t(wParam) - 1);
      std::copy(t.begin(), t.begin() + long(n), buf);
      buf[n] = 0;
      return LRESULT(n);
    }
    case WM_GETTEXTLENGTH:
      return st->sel >= 0 ? LRESULT(st->items[size_t(st->sel)].text.size()) : 0;
  }
  return DefWindowProc(h, msg, wParam, lParam);
}

LRESULT CALLBACK comboListProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  // The list's state is made by the combo box and handed over on creation.
  LRESULT result;
  if (controlLifecycle<ListState>(h, msg, wParam, lParam, &result, [](const CREATESTRUCT* cs) {
        return static_cast<ListState*>(cs ? cs->lpCreateParams : nullptr);
      }))
    return result;
  auto* ls = stateOf<ListState>(h);
  ComboState* st = ls && IsWindow(ls->combo) ? stateOf<ComboState>(ls->combo) : nullptr;
  if (!st) return DefWindowProc(h, msg, wParam, lParam);
  switch (msg) {
    case WM_PAINT:
      paintList(h, ls->combo, st);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_LBUTTONDOWN: {
      RECT rc;
      GetClientRect(h, &rc);
      POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      HWND combo = ls->combo;
      if (!PtInRect(&rc, p)) {
        closeList(combo, st, false);
        return 0;
      }
      int row = p.y / std::max(1, rowHeight(combo));
      int i = st->top + row;
      if (i >= 0 && i < int(st->items.size())) st->hot = i;
      closeList(combo, st, i >= 0 && i < int(st->items.size()));
      return 0;
    }
  }
  return DefWindowProc(h, msg, wParam, lParam);
}

}  // namespace platform::controls

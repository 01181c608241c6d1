// "STATIC": a text label (left, centred or right, wrapped or not, with or
// without '&' prefixes) or an icon.
#include "control_internal.h"
#include "dc_selection.h"

namespace platform::controls {
namespace {

struct StaticState {
  HICON icon = nullptr;
  bool pressed = false;
};

// Without SS_NOPREFIX "&x" shows as "x" and "&&" as "&".
std::u16string stripPrefixes(const std::u16string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == u'&' && i + 1 < s.size()) ++i;
    out += s[i];
  }
  return out;
}

void paint(HWND h, StaticState* st) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, &ps);
  RECT rc;
  GetClientRect(h, &rc);
  HBRUSH bg = askColours(h, dc, WM_CTLCOLORSTATIC);
  FillRect(dc, &rc, bg);
  LONG style = GetWindowLong(h, GWL_STYLE);
  LONG type = style & SS_TYPEMASK;
  if (type == SS_ICON) {
    if (st->icon) {
      int size = std::min<int>(rc.right, rc.bottom);
      DrawIconEx(dc, (rc.right - size) / 2, (rc.bottom - size) / 2, st->icon, size, size, 0, nullptr, DI_NORMAL);
    }
  } else {
    std::u16string text = textOf(h);
    if (!(style & SS_NOPREFIX)) text = stripPrefixes(text);
    UINT fmt = DT_NOPREFIX;
    if (type == SS_CENTER) fmt |= DT_CENTER;
    if (type == SS_RIGHT) fmt |= DT_RIGHT;
    if (type == SS_LEFTNOWORDWRAP) fmt |= DT_SINGLELINE;
    else fmt |= DT_WORDBREAK;
    if (style & SS_CENTERIMAGE) fmt = (fmt & ~DT_WORDBREAK) | DT_SINGLELINE | DT_VCENTER;
    gdi::DcSelection font(dc, fontOf(h));
    SetBkMode(dc, TRANSPARENT);
    if (!IsWindowEnabled(h)) SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
    DrawText(dc, text.c_str(), int(text.size()), &rc, fmt);
  }
  EndPaint(h, &ps);
}

}  // namespace

LRESULT CALLBACK staticProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result;
  if (controlLifecycle<StaticState>(h, msg, wParam, lParam, &result, [](auto) { return new StaticState; }))
    return result;
  auto* st = stateOf<StaticState>(h);
  switch (msg) {
    case WM_PAINT:
      if (!st) break;
      paint(h, st);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_SETTEXT: {
      LRESULT r = DefWindowProc(h, msg, wParam, lParam);
      InvalidateRect(h, nullptr, TRUE);
      return r;
    }
    case WM_ENABLE:
      InvalidateRect(h, nullptr, TRUE);
      return 0;
    case STM_SETICON: {
      if (!st) return 0;
      HICON old = st->icon;
      st->icon = reinterpret_cast<HICON>(wParam);
      InvalidateRect(h, nullptr, TRUE);
      return reinterpret_cast<LRESULT>(old);
    }
    case STM_GETICON:
      return st ? reinterpret_cast<LRESULT>(st->icon) : 0;
    case WM_GETDLGCODE:
      return DLGC_STATIC;
    case WM_LBUTTONDOWN:
      if (GetWindowLong(h, GWL_STYLE) & SS_NOTIFY) notifyParent(h, STN_CLICKED);
      return 0;
  }
  return DefWindowProc(h, msg, wParam, lParam);
}

}  // namespace platform::controls

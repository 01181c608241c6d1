// "BUTTON": push buttons and check boxes (radio buttons behave as check
// boxes that clear their neighbours). The action key or space presses the
// focused button; the stylus presses it when released over it.
#include <algorithm>

#include "control_internal.h"
#include "dc_selection.h"

namespace platform::controls {
namespace {

struct ButtonState {
  UINT check = BST_UNCHECKED;
  bool pushed = false;   // held down by stylus or key
  bool focused = false;
};

LONG kind(HWND h) { return GetWindowLong(h, GWL_STYLE) & BS_TYPEMASK; }
bool isCheck(LONG k) {
  return k == BS_CHECKBOX || k == BS_AUTOCHECKBOX || k == BS_RADIOBUTTON || k == BS_AUTORADIOBUTTON;
}
bool isRadio(LONG k) { return k == BS_RADIOBUTTON || k == BS_AUTORADIOBUTTON; }

void click(HWND h, ButtonState* st) {
  LONG k = kind(h);
  if (k == BS_AUTOCHECKBOX) {
    st->check = st->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
    InvalidateRect(h, nullptr, TRUE);
  } else if (k == BS_AUTORADIOBUTTON && st->check != BST_CHECKED) {
    // Clear the other automatic radio buttons of the same parent.
    if (HWND parent = GetParent(h))
      for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (c != h && (GetWindowLong(c, GWL_STYLE) & BS_TYPEMASK) == BS_AUTORADIOBUTTON) {
          SendMessage(c, BM_SETCHECK, BST_UNCHECKED, 0);
        }
    st->check = BST_CHECKED;
    InvalidateRect(h, nullptr, TRUE);
  }
  notifyParent(h, BN_CLICKED);
}

void paint(HWND h, ButtonState* st) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, &ps);
  RECT rc;
  GetClientRect(h, &rc);
  LONG k = kind(h);
  bool enabled = IsWindowEnabled(h);
  HBRUSH bg = askColours(h, dc, isCheck(k) ? WM_CTLCOLORSTATIC : WM_CTLCOLORBTN);
  std::u16string text = textOf(h);
  {
    gdi::DcSelection font(dc, fontOf(h));
    SetBkMode(dc, TRANSPARENT);
    COLORREF textColour = enabled ? GetSysColor(COLOR_BTNTEXT) : GetSysColor(COLOR_GRAYTEXT);
    if (isCheck(k)) {
      FillRect(dc, &rc, bg);
      int box = std::min<int>(rc.bottom - 2, std::max(9, lineHeight(h) - 2));
      int top = (rc.bottom - box) / 2;
      RECT b{2, top, 2 + box, top + box};
      HBRUSH frame = CreateSolidBrush(enabled ? RGB(64, 64, 64) : kFrameColour);
      FillRect(dc, &b, frame);
      RECT inner = b;
      InflateRect(&inner, -1, -1);
      FillRect(dc, &inner, GetSysColorBrush(COLOR_WINDOW));
      if (st->check == BST_CHECKED) {
        // A tick in two strokes, thick enough to read on a phone.
        HPEN pen = CreatePen(PS_SOLID, std::max(2, box / 6), enabled ? RGB(0, 0, 0) : kFrameColour);
        {
          gdi::DcSelection tick(dc, pen);
          POINT pts[3] = {{b.left + box / 5, b.top + box / 2},
                          {b.left + box * 2 / 5, b.bottom - box / 4},
                          {b.right - box / 5, b.top + box / 5}};
          Polyline(dc, pts, 3);
        }
        DeleteObject(pen);
      }
      DeleteObject(frame);
      RECT tr{b.right + 4, 0, rc.right, rc.bottom};
      SetTextColor(dc, textColour);
      DrawText(dc, text.c_str(), int(text.size()), &tr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
      if (st->focused) {
        RECT fr{b.right + 2, 1, rc.right - 1, rc.bottom - 1};
        HBRUSH fb = CreateSolidBrush(kFocusColour);
        RECT edges[4] = {{fr.left, fr.top, fr.right, fr.top + 1},
                         {fr.left, fr.bottom - 1, fr.right, fr.bottom},
                         {fr.left, fr.top, fr.left + 1, fr.bottom},
                         {fr.right - 1, fr.top, fr.right, fr.bottom}};
        for (RECT& e : edges) FillRect(dc, &e, fb);
        DeleteObject(fb);
      }
    } else {
      FillRect(dc, &rc, bg);
      RECT face = rc;
      HBRUSH frame = CreateSolidBrush(st->focused ? kFocusColour : kFrameColour);
      FillRect(dc, &face, frame);
      InflateRect(&face, st->focused ? -2 : -1, st->focused ? -2 : -1);
      HBRUSH fill = CreateSolidBrush(st->pushed ? RGB(170, 190, 220) : kFaceColour);
      FillRect(dc, &face, fill);
      DeleteObject(fill);
      DeleteObject(frame);
      SetTextColor(dc, textColour);
      RECT tr = face;
      if (st->pushed) OffsetRect(&tr, 1, 1);
      DrawText(dc, text.c_str(), int(text.size()), &tr, DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    }
  }
  EndPaint(h, &ps);
}

bool inside(HWND h, LPARAM lParam) {
  RECT rc;
  GetClientRect(h, &rc);
  POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  return PtInRect(&rc, p);
}

}  // namespace

LRESULT CALLBACK buttonProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* st = stateOf<ButtonState>(h);
  if (!st && msg != WM_NCCREATE) return DefWindowProc(h, msg, wParam, lParam);
  LRESULT result;
  if (controlLifecycle<ButtonState>(h, msg, wParam, lParam, &result, [](auto) { return new ButtonState; }))
    return result;
  switch (msg) {
    case WM_PAINT:
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
      st->pushed = false;
      InvalidateRect(h, nullptr, TRUE);
      return 0;
    case WM_SETFOCUS:
      st->focused = true;
      InvalidateRect(h, nullptr, TRUE);
      if (GetWindowLong(h, GWL_STYLE) & BS_NOTIFY) notifyParent(h, BN_SETFOCUS);
      return 0;
    case WM_KILLFOCUS:
      st->focused = false;
      st->pushed = false;
      InvalidateRect(h, nullptr, TRUE);
      if (GetWindowLong(h, GWL_STYLE) & BS_NOTIFY) notifyParent(h, BN_KILLFOCUS);
      return 0;
    case WM_GETDLGCODE: {
      LRESULT code = DLGC_BUTTON;
      LONG k = kind(h);
      code |= k == BS_DEFPUSHBUTTON ? DLGC_DEFPUSHBUTTON : (isRadio(k) ? DLGC_RADIOBUTTON : DLGC_UNDEFPUSHBUTTON);
      // The action key presses the focused button instead of the dialog's
      // default.
      auto* m = reinterpret_cast<const MSG*>(lParam);
      if (m && ((m->message == WM_KEYDOWN && m->wParam == VK_RETURN) || (m->message == WM_CHAR && m->wParam == '\r')))
        code |= DLGC_WANTALLKEYS;
      return code;
    }
    case WM_KEYDOWN:
      if (wParam == VK_SPACE || wParam == VK_RETURN) {
        if (!(lParam & (1 << 30))) {
          st->pushed = true;
          InvalidateRect(h, nullptr, TRUE);
        }
        return 0;
      }
      break;
    case WM_KEYUP:
      if ((wParam == VK_SPACE || wParam == VK_RETURN) && st->pushed) {
        st->pushed = false;
        InvalidateRect(h, nullptr, TRUE);
        click(h, st);
        return 0;
      }
      break;
    case WM_CHAR:
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      SetFocus(h);
      SetCapture(h);
      st->pushed = true;
      InvalidateRect(h, nullptr, TRUE);
      return 0;
    case WM_MOUSEMOVE:
      if (GetCapture() == h) {
        bool in = inside(h, lParam);
        if (in != st->pushed) {
          st->pushed = in;
          InvalidateRect(h, nullptr, TRUE);
        }
      }
      return 0;
    case WM_LBUTTONUP:
      if (GetCapture() == h) {
        ReleaseCapture();
        bool hit = inside(h, lParam);
        st->pushed = false;
        InvalidateRect(h, nullptr, TRUE);
        if (hit) click(h, st);
      }
      return 0;
    case WM_CAPTURECHANGED:
      st->pushed = false;
      InvalidateRect(h, nullptr, TRUE);
      return 0;
    case BM_GETCHECK:
      return isCheck(kind(h)) ? st->check : BST_UNCHECKED;
    case BM_SETCHECK:
      if (isCheck(kind(h))) {
        UINT v = UINT(wParam) & (BST_CHECKED | BST_INDETERMINATE);
        if (v != st->check) {
          st->check = v;
          InvalidateRect(h, nullptr, TRUE);
        }
      }
      return 0;
    case BM_GETSTATE:
      return st->check | (st->pushed ? BST_PUSHED : 0) | (st->focused ? BST_FOCUS : 0);
    case BM_SETSTATE:
      st->pushed = wParam != 0;
      InvalidateRect(h, nullptr, TRUE);
      return 0;
    case BM_SETSTYLE: {
      LONG s = GetWindowLong(h, GWL_STYLE);
      SetWindowLong(h, GWL_STYLE, (s & ~BS_TYPEMASK) | (LONG(wParam) & BS_TYPEMASK));
      if (LOWORD(lParam)) InvalidateRect(h, nullptr, TRUE);
      return 0;
    }
    case BM_CLICK:
      if (IsWindowEnabled(h)) click(h, st);
      return 0;
  }
  return DefWindowProc(h, msg, wParam, lParam);
}

}  // namespace platform::controls

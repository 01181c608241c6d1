// MessageBox: a modal box over its owner with a caption band, an icon, the
// text, and its answers on the soft keys.
#include <algorithm>
#include <mutex>

#include "control_internal.h"
#include "dc_selection.h"
#include "menu_internal.h"
#include "phoneshell_internal.h"
#include "platform/msgbox.h"
#include "platform/phoneshell.h"
#include "platform/screen.h"
#include "shell_font.h"

namespace platform::msgbox {
namespace {

struct Box {
  std::u16string text;
  std::u16string caption;
  UINT type = 0;
  int result = 0;
  bool done = false;
  int captionHeight = 0;
};

Box* boxOf(HWND h) { return controls::stateOf<Box>(h); }
HWND g_active = nullptr;

std::mutex g_hookLock;
MessageBoxHook& hook() {
  static MessageBoxHook* h = new MessageBoxHook;
  return *h;
}

UINT buttons(const Box* b) { return b->type & MB_TYPEMASK; }
int leftAnswer(const Box* b) { return buttons(b) == MB_YESNO || buttons(b) == MB_YESNOCANCEL ? IDYES : IDOK; }
int rightAnswer(const Box* b) {
  switch (buttons(b)) {
    case MB_YESNO:
    case MB_YESNOCANCEL:
      return IDNO;
    case MB_OKCANCEL:
      return IDCANCEL;
  }
  return 0;
}
int backAnswer(const Box* b) {
  switch (buttons(b)) {
    case MB_OK:
      return IDOK;
    case MB_YESNO:
      return IDNO;
  }
  return IDCANCEL;
}

void answer(Box* b, int result) {
  if (b->done || !result) return;
  b->result = result;
  b->done = true;
}

void drawIcon(HDC dc, UINT kind, int x, int y, int s) {
  if (!kind) return;
  COLORREF fill = kind == MB_ICONERROR ? RGB(200, 30, 30) : kind == MB_ICONEXCLAMATION ? RGB(240, 190, 0) : RGB(30, 90, 200);
  HBRUSH b = CreateSolidBrush(fill);
  {
    gdi::DcSelection mark(dc, b, GetStockObject(NULL_PEN));
    if (kind == MB_ICONEXCLAMATION) {
      POINT tri[3] = {{x + s / 2, y}, {x + s, y + s}, {x, y + s}};
      Polygon(dc, tri, 3);
    } else {
      Ellipse(dc, x, y, x + s, y + s);
    }
  }
  DeleteObject(b);
  HFONT f = gdi::createShellFont(s * 2 / 3, FW_BOLD);
  {
    gdi::DcSelection font(dc, f);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kind == MB_ICONEXCLAMATION ? RGB(0, 0, 0) : RGB(255, 255, 255));
    const char16_t* mark = kind == MB_ICONERROR ? u"\u00D7" : kind == MB_ICONEXCLAMATION ? u"!" : kind == MB_ICONQUESTION ? u"?" : u"i";
    RECT r{x, y + (kind == MB_ICONEXCLAMATION ? s / 6 : 0), x + s, y + s};
    DrawText(dc, mark, 1, &r, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
  }
  DeleteObject(f);
}

int iconSize() { return std::max(16, screenDpi() / 4); }

void paint(HWND h, Box* b) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, &ps);
  RECT rc;
  GetClientRect(h, &rc);
  FillRect(dc, &rc, GetSysColorBrush(COLOR_WINDOW));
  RECT band{0, 0, rc.right, b->captionHeight};
  HBRUSH bb = CreateSolidBrush(RGB(214, 226, 244));
  FillRect(dc, &band, bb);
  DeleteObject(bb);
  {
    gdi::DcSelection font(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    RECT cr{6, 0, rc.right - 6, b->captionHeight};
    DrawText(dc, b->caption.c_str(), int(b->caption.size()), &cr, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    UINT kind = b->type & MB_ICONMASK;
    int s = iconSize();
    int left = 8;
    if (kind) {
      drawIcon(dc, kind, 8, b->captionHeight + 8, s);
      left = 8 + s + 8;
    }
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));  // the icon's mark left its own colour
    RECT tr{left, b->captionHeight + 8, rc.right - 8, rc.bottom - 4};
    DrawText(dc, b->text.c_str(), int(b->text.size()), &tr, DT_WORDBREAK | DT_NOPREFIX);
  }
  EndPaint(h, &ps);
}

LRESULT CALLBACK boxProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    controls::setState(h, reinterpret_cast<CREATESTRUCT*>(lParam)->lpCreateParams);
    return DefWindowProc(h, msg, wParam, lParam);
  }
  Box* b = boxOf(h);
  if (!b) return DefWindowProc(h, msg, wParam, lParam);
  switch (msg) {
    case WM_NCDESTROY:
      controls::setState(h, nullptr);
      return 0;
    case WM_PAINT:
      paint(h, b);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_COMMAND:
      answer(b, LOWORD(wParam));
      return 0;
    case WM_CLOSE:
      answer(b, backAnswer(b));
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTALLKEYS;
  }
  return DefWindowProc(h, msg, wParam, lParam);
}

LPCWSTR boxClass() {
  static bool once = [] {
    WNDCLASS wc{};
    wc.lpfnWndProc = boxProc;
    wc.cbWndExtra = controls::kExtraBytes;
    wc.lpszClassName = u"olvaro_msgbox";
    return RegisterClass(&wc) != 0;
  }();
  (void)once;
  return u"olvaro_msgbox";
}

// Keys reach the box whatever has the focus: the action key gives the
// default answer, Back the cancelling one, and the soft keys their own
// when the shell did not take them first.
int defaultAnswer(const Box* b) {
  return (b->type & MB_DEFBUTTON2) && rightAnswer(b) ? rightAnswer(b) : leftAnswer(b);
}

bool offers(const Box* b, int result) {
  switch (buttons(b)) {
    case MB_OK: return result == IDOK;
    case MB_OKCANCEL: return result == IDOK || result == IDCANCEL;
    case MB_YESNO: return result == IDYES || result == IDNO;
    case MB_YESNOCANCEL: return result == IDYES || result == IDNO || result == IDCANCEL;
  }
  return false;
}

// Lets the test hook see the box and answer it.
void askHook(HWND h, HWND owner, Box* b) {
  MessageBoxHook hk;
  {
    std::lock_guard<std::mutex> g(g_hookLock);
    hk = hook();
  }
  if (!hk) return;
  int result = hk(MessageBoxShown{h, owner, b->text, b->caption, b->type});
  if (result == kMessageBoxDefaultAnswer) result = defaultAnswer(b);
  if (offers(b, result)) answer(b, result);
}

bool filter(Box* b, MSG& m) {
  if (m.message == WM_KEYDOWN) {
    switch (m.wParam) {
      case VK_RETURN:
        answer(b, defaultAnswer(b));
        break;
      case VK_ESCAPE:
        answer(b, backAnswer(b));
        break;
      case VK_TSOFT1:
        answer(b, leftAnswer(b));
        break;
      case VK_TSOFT2:
        answer(b, rightAnswer(b));
        break;
    }
    return true;
  }
  return m.message == WM_KEYUP || m.message == WM_CHAR;
}

}  // namespace
}  // namespace platform::msgbox

namespace platform {

HWND activeMessageBox() { return msgbox::g_active && IsWindow(msgbox::g_active) ? msgbox::g_active : nullptr; }

std::u16string messageBoxText(HWND box) {
  msgbox::Box* b = IsWindow(box) ? msgbox::boxOf(box) : nullptr;
  return b ? b->text : std::u16string();
}

UINT messageBoxIcon(HWND box) {
  msgbox::Box* b = IsWindow(box) ? msgbox::boxOf(box) : nullptr;
  return b ? (b->type & MB_ICONMASK) : 0;
}

MessageBoxHook setMessageBoxHook(MessageBoxHook hook) {
  std::lock_guard<std::mutex> g(msgbox::g_hookLock);
  MessageBoxHook old = std::move(msgbox::hook());
  msgbox::hook() = std::move(hook);
  return old;
}

}  // namespace platform

int MessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  using namespace platform;
  using namespace platform::msgbox;
  if (owner && !IsWindow(owner)) owner = nullptr;
  UINT kind = type & MB_TYPEMASK;
  if (kind != MB_OK && kind != MB_OKCANCEL && kind != MB_YESNO && kind != MB_YESNOCANCEL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  HWND app = owner ? shell::appWindowOf(owner) : nullptr;
  HWND prevActive = GetActiveWindow();
  HWND prevFocus = GetFocus();
  Box box;
  box.text = text ? text : u"";
  box.caption = caption ? caption : u"Error";
  box.type = type;
  RECT work = shellWorkArea();
  int width = work.right - work.left - 12;
  // Height: caption band, text wrapped beside the icon, margins.
  HDC dc = GetDC(nullptr);
  int textLeft = (type & MB_ICONMASK) ? 8 + iconSize() + 8 : 8;
  RECT tr{0, 0, width - 2 - textLeft - 8, 0};
  {
    gdi::DcSelection font(dc, GetStockObject(DEFAULT_GUI_FONT));
    TEXTMETRIC tm{};
    GetTextMetrics(dc, &tm);
    box.captionHeight = int(tm.tmHeight) + 8;
    DrawText(dc, box.text.c_str(), int(box.text.size()), &tr, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  }
  ReleaseDC(nullptr, dc);
  int height = box.captionHeight + 8 + std::max<int>(tr.bottom, (type & MB_ICONMASK) ? iconSize() : 0) + 12 + 2;
  height = std::min<int>(height, work.bottom - work.top - 8);
  int y = work.top + (work.bottom - work.top - height) / 2;
  HWND h = CreateWindowEx(WS_EX_TOPMOST | WS_EX_DLGMODALFRAME, boxClass(), box.caption.c_str(), WS_POPUP | WS_BORDER,
                          work.left + 6, y, width, height, app, nullptr, nullptr, &box);
  if (!h) return 0;
  HMENU keys = CreatePopupMenu();
  if (kind == MB_OK) {
    AppendMenu(keys, MF_STRING, IDOK, u"OK");
  } else if (kind == MB_OKCANCEL) {
    AppendMenu(keys, MF_STRING, IDOK, u"OK");
    AppendMenu(keys, MF_STRING, IDCANCEL, u"Cancel");
  } else {
    AppendMenu(keys, MF_STRING, IDYES, u"Yes");
    AppendMenu(keys, MF_STRING, IDNO, u"No");
  }
  SHMENUBARINFO mb{sizeof(SHMENUBARINFO), h, SHCMBF_HMENU, UINT(reinterpret_cast<uintptr_t>(keys)), nullptr, 0, 0, nullptr, 0};
  SHCreateMenuBar(&mb);
  DestroyMenu(keys);
  bool ownerWasEnabled = app && IsWindowEnabled(app);
  if (ownerWasEnabled) EnableWindow(app, FALSE);
  HWND outer = g_active;
  g_active = h;
  ShowWindow(h, SW_SHOW);
  SetFocus(h);
  UpdateWindow(h);
  askHook(h, owner, &box);
  menus::runModal(h, [&](MSG& m) { return filter(&box, m); }, [&] { return box.done || !IsWindow(h); });
  g_active = outer;
  if (IsWindow(h)) DestroyWindow(h);
  if (ownerWasEnabled && IsWindow(app)) EnableWindow(app, TRUE);
  if (prevActive && IsWindow(prevActive)) SetActiveWindow(prevActive);
  if (prevFocus && IsWindow(prevFocus)) SetFocus(prevFocus);
  return box.done ? box.result : 0;
}

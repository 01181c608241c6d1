// Registration of the standard control classes and what they share.
#include <vector>

#include "control_internal.h"
#include "dc_selection.h"

namespace platform::controls {

HFONT fontOf(HWND h) {
  HFONT f = reinterpret_cast<HFONT>(SendMessage(h, WM_GETFONT, 0, 0));
  return f ? f : GetStockObject(DEFAULT_GUI_FONT);
}

HBRUSH askColours(HWND h, HDC dc, UINT msg) {
  HWND parent = GetParent(h);
  LRESULT r = parent ? SendMessage(parent, msg, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(h))
                     : DefWindowProc(h, msg, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(h));
  HBRUSH b = reinterpret_cast<HBRUSH>(r);
  return b ? b : GetSysColorBrush(COLOR_WINDOW);
}

void notifyParent(HWND h, WORD code) {
  HWND parent = GetParent(h);
  if (!parent) return;
  SendMessage(parent, WM_COMMAND, MAKEWPARAM(WORD(GetDlgCtrlID(h)), code), reinterpret_cast<LPARAM>(h));
}

int lineHeight(HWND h) {
  HDC dc = GetDC(h);
  TEXTMETRIC tm{};
  {
    gdi::DcSelection font(dc, fontOf(h));
    GetTextMetrics(dc, &tm);
  }
  ReleaseDC(h, dc);
  return tm.tmHeight > 0 ? int(tm.tmHeight) : 12;
}

std::u16string textOf(HWND h) {
  int n = GetWindowTextLength(h);
  std::u16string s(size_t(n) + 1, u'\0');
  int got = GetWindowText(h, s.data(), n + 1);
  s.resize(size_t(got > 0 ? got : 0));
  return s;
}

WCHAR upperOf(WCHAR c) {
  if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return WCHAR(c - 0x20);
  return c;
}

WCHAR lowerOf(WCHAR c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return WCHAR(c + 0x20);
  return c;
}

bool isLetter(WCHAR c) { return upperOf(c) != c || lowerOf(c) != c; }

namespace {

LRESULT CALLBACK sipPrefProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  // The input panel follows the focus by itself here; the control only has
  // to exist and stay out of the way.
  if (msg == WM_PAINT) {
    ValidateRect(h, nullptr);
    return 0;
  }
  return DefWindowProc(h, msg, wParam, lParam);
}

}  // namespace
}  // namespace platform::controls

namespace platform {

bool registerStandardControls() {
  using namespace controls;
  struct Def {
    const char16_t* name;
    WNDPROC proc;
    UINT style;
  };
  static const Def defs[] = {
      {WC_STATIC, staticProc, CS_DBLCLKS},
      {WC_BUTTON, buttonProc, CS_DBLCLKS},
      {WC_EDIT, editProc, CS_DBLCLKS},
      {WC_CAPEDIT, capEditProc, CS_DBLCLKS},
      {WC_COMBOBOX, comboProc, CS_DBLCLKS},
      {u"ComboLBox", comboListProc, 0},
      {WC_SIPPREF, sipPrefProc, 0},
  };
  bool all = true;
  for (const Def& d : defs) {
    WNDCLASS have{};
    if (GetClassInfo(nullptr, d.name, &have) && have.lpfnWndProc == d.proc) continue;
    WNDCLASS wc{};
    wc.style = d.style | CS_GLOBALCLASS;
    wc.lpfnWndProc = d.proc;
    wc.cbWndExtra = kExtraBytes;
    wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    wc.lpszClassName = d.name;
    if (!RegisterClass(&wc)) all = false;
  }
  return all;
}

namespace {
// The classes exist as soon as the library is loaded.
const bool g_registered = registerStandardControls();
}  // namespace

}  // namespace platform

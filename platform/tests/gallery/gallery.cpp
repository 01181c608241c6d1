// The controls gallery: one screen with every standard control, a soft-key
// bar whose right key opens a menu, message boxes with each icon, a tray
// icon and a notification bubble.
//
//   platform_gallery                 run it (a window when there is a display)
//   platform_gallery --shot WHAT PNG save the screen and leave; WHAT is
//                                    main, menu, box or bubble
//
// When it ends it prints the text of its first edit box, so a test that
// typed into it can check what arrived.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/bitmap.h"
#include "platform/controls.h"
#include "platform/gdi.h"
#include "platform/menu.h"
#include "platform/msgbox.h"
#include "platform/phoneshell.h"
#include "platform/screen.h"
#include "platform/text.h"
#include "platform/window.h"

namespace {

constexpr UINT kTray = WM_APP + 1;
enum : UINT {
  kBox = 100, kQuestion, kError, kWarning, kBubble, kChecked, kGreyed, kExit,
  kName = 10, kPassword, kNotes, kRemember, kAuto, kService, kPush,
};
const CLSID kClsid = {0xF41153EC, 0x18E4, 0x4D68, {0xB1, 0xF3, 0xE1, 0x22, 0xF4, 0x76, 0xD0, 0xEC}};

HWND g_main = nullptr;
HMENU g_keys = nullptr;
HICON g_icon = nullptr;

HICON makeIcon(COLORREF c) {
  uint32_t px[16 * 16];
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      bool ring = (x - 8) * (x - 8) + (y - 8) * (y - 8) <= 49;
      px[y * 16 + x] = ring ? ((GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c)) : 0xFFFFFF;
    }
  uint16_t mask[16];
  for (int y = 0; y < 16; ++y) {
    uint16_t row = 0;
    for (int x = 0; x < 16; ++x)
      if ((x - 8) * (x - 8) + (y - 8) * (y - 8) > 49) row |= uint16_t(0x8000 >> x);
    mask[y] = uint16_t((row >> 8) | (row << 8));  // rows are big-endian bits
  }
  HBITMAP colour = CreateBitmap(16, 16, 1, 32, px);
  HBITMAP m = CreateBitmap(16, 16, 1, 1, mask);
  ICONINFO info{TRUE, 0, 0, m, colour};
  HICON icon = CreateIconIndirect(&info);
  DeleteObject(colour);
  DeleteObject(m);
  return icon;
}

void showBubble() {
  SHNotificationRemove(&kClsid, 1);
  SHNOTIFICATIONDATA nd{sizeof nd, 1, SHNP_INFORMATION, 0, g_icon, 0, kClsid, g_main,
                        u"You have Olvaro messages waiting<br /><br /><table width='100%'><tr><td width='50%'>"
                        u"<input type='button' name='cmd:10' value='Open Olvaro' style='width: 100%'></td>"
                        u"<td width='50%'><input type='button' name='cmd:11' value='Dismiss' style='width: 100%'>"
                        u"</td></tr></table>",
                        u"Olvaro Messages", 0};
  SHNotificationAdd(&nd);
}

HWND child(LPCWSTR cls, LPCWSTR text, DWORD style, int x, int y, int w, int h, UINT id) {
  return CreateWindowEx(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, g_main,
                        reinterpret_cast<HMENU>(uintptr_t(id)), nullptr, nullptr);
}

void buildControls() {
  RECT rc;
  GetClientRect(g_main, &rc);
  int w = rc.right - 8;
  child(WC_STATIC, u"Name:", SS_LEFT, 4, 2, w, 16, 0);
  HWND name = child(WC_EDIT, u"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 4, 18, w, 22, kName);
  child(WC_STATIC, u"Password:", SS_LEFT, 4, 42, w, 16, 0);
  child(WC_EDIT, u"secret", WS_BORDER | WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL, 4, 58, w, 22, kPassword);
  child(WC_CAPEDIT, u"Notes start with a capital. Like this!", WS_BORDER | WS_TABSTOP | ES_MULTILINE, 4, 84, w, 38,
        kNotes);
  HWND remember = child(WC_BUTTON, u"Remember me.", WS_TABSTOP | BS_AUTOCHECKBOX, 4, 126, w, 20, kRemember);
  SendMessage(remember, BM_SETCHECK, BST_CHECKED, 0);
  child(WC_BUTTON, u"Sign in automatically.", WS_TABSTOP | BS_AUTOCHECKBOX, 4, 146, w, 20, kAuto);
  HWND combo = child(WC_COMBOBOX, u"", WS_TABSTOP | CBS_DROPDOWNLIST, 4, 170, w, 22, kService);
  for (const char16_t* s : {u"Olvaro - anna@example.com", u"XMPP - bob", u"ICQ - 123456"})
    SendMessage(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
  SendMessage(combo, CB_SETCURSEL, 0, 0);
  child(WC_BUTTON, u"Push me", WS_TABSTOP | BS_PUSHBUTTON, 4, 198, 90, 26, kPush);
  child(WC_STATIC, u"Centred label", SS_CENTER | SS_NOPREFIX, 100, 204, w - 96, 18, 0);
  child(WC_SIPPREF, u"", 0, 0, 0, 0, 0, 0);
  SetFocus(name);
}

void buildBar() {
  g_keys = CreatePopupMenu();
  HMENU menu = CreatePopupMenu();
  HMENU more = CreatePopupMenu();
  AppendMenu(more, MF_STRING | MF_CHECKED, kChecked, u"Checked");
  AppendMenu(more, MF_STRING | MF_GRAYED, kGreyed, u"Greyed");
  AppendMenu(menu, MF_STRING, kQuestion, u"Question box");
  AppendMenu(menu, MF_STRING, kError, u"Error box");
  AppendMenu(menu, MF_STRING, kWarning, u"Warning box");
  AppendMenu(menu, MF_STRING, kBubble, u"Show bubble");
  AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenu(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(more), u"More");
  AppendMenu(menu, MF_STRING, kExit, u"Exit");
  AppendMenu(g_keys, MF_STRING, kBox, u"Box");
  AppendMenu(g_keys, MF_POPUP, reinterpret_cast<UINT_PTR>(menu), u"Menu");
  SHMENUBARINFO mb{sizeof mb, g_main, SHCMBF_HMENU, UINT(reinterpret_cast<uintptr_t>(g_keys)), nullptr, 0, 0, nullptr, 0};
  SHCreateMenuBar(&mb);
  DestroyMenu(g_keys);
  SendMessage(mb.hwndMB, SHCMBM_OVERRIDEKEY, VK_TBACK,
              MAKELPARAM(SHMBOF_NODEFAULT | SHMBOF_NOTIFY, SHMBOF_NODEFAULT | SHMBOF_NOTIFY));
}

void printResult() {
  HWND name = GetDlgItem(g_main, kName);
  int n = GetWindowTextLength(name);
  std::u16string t(size_t(n) + 1, u'\0');
  GetWindowText(name, t.data(), n + 1);
  t.resize(size_t(n));
  std::printf("edit: %s\n", platform::narrow(t).c_str());
  std::fflush(stdout);
}

LRESULT CALLBACK mainProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case kBox:
          MessageBox(h, u"Hello from the gallery. Every control of the phone is on this screen.", u"Gallery",
                     MB_OK | MB_ICONINFORMATION);
          return 0;
        case kQuestion:
          MessageBox(h, u"If you exit, you won't receive any instant messages until you sign in again. Are you sure?",
                     u"Exit Olvaro?", MB_YESNO | MB_ICONQUESTION);
          return 0;
        case kError:
          MessageBox(h, u"The server did not allow you to sign in at this time.", u"Login Failed", MB_OK | MB_ICONERROR);
          return 0;
        case kWarning:
          MessageBox(h, u"A required field is missing", u"Missing Field", MB_OK | MB_ICONEXCLAMATION);
          return 0;
        case kBubble:
          showBubble();
          return 0;
        case 10:
        case 11:
          SHNotificationRemove(&kClsid, 1);
          return 0;
        case kExit:
          DestroyWindow(h);
          return 0;
      }
      return 0;
    case WM_HOTKEY:
      SHSendBackToFocusWindow(msg, wParam, lParam);
      return 0;
    case WM_CONTEXTMENU: {
      HMENU m = CreatePopupMenu();
      AppendMenu(m, MF_STRING, kBox, u"Message box");
      AppendMenu(m, MF_STRING, kBubble, u"Show bubble");
      TrackPopupMenuEx(m, 0, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), h, nullptr);
      DestroyMenu(m);
      return 0;
    }
    case kTray:
      if (lParam == WM_LBUTTONUP) showBubble();
      return 0;
    case WM_DESTROY: {
      printResult();
      NOTIFYICONDATA nid{sizeof nid, h, 1, 0, 0, nullptr, {}};
      Shell_NotifyIcon(NIM_DELETE, &nid);
      SHNotificationRemove(&kClsid, 1);
      PostQuitMessage(0);
      return 0;
    }
  }
  return DefWindowProc(h, msg, wParam, lParam);
}

bool build() {
  WNDCLASS wc{};
  wc.lpfnWndProc = mainProc;
  wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
  wc.lpszClassName = u"GalleryMain";
  if (!RegisterClass(&wc)) return false;
  g_main = CreateWindowEx(0, u"GalleryMain", u"Olvaro gallery", WS_POPUP | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
  if (!g_main) return false;
  SHINITDLGINFO init{SHIDIM_FLAGS, g_main, SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN};
  SHInitDialog(&init);
  SHSetNavBarText(g_main, u"Gallery");
  buildBar();
  buildControls();
  g_icon = makeIcon(RGB(240, 140, 0));
  NOTIFYICONDATA nid{sizeof nid, g_main, 1, NIF_MESSAGE | NIF_ICON | NIF_TIP, kTray, g_icon, {}};
  Shell_NotifyIcon(NIM_ADD, &nid);
  return true;
}

void pumpAll() {
  MSG m;
  while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_QUIT) break;
    if (!IsDialogMessage(g_main, &m)) {
      TranslateMessage(&m);
      DispatchMessage(&m);
    }
  }
}

void press(UINT vk) {
  platform::inputKey(vk, true);
  platform::inputKey(vk, false);
}

void tearDown() {
  if (g_main && IsWindow(g_main)) DestroyWindow(g_main);
  if (g_icon) DestroyIcon(g_icon);
  g_icon = nullptr;
}

int shot(const std::string& what, const std::string& png) {
  platform::screenSelectBackend("headless");
  platform::screenInit();
  if (!build()) return 1;
  pumpAll();
  bool saved = false;
  auto saveThen = [&](UINT key) {
    return [&, key](HWND) {
      if (!saved) saved = platform::screenSavePng(png);
      press(key);
    };
  };
  if (what == "menu") {
    platform::setModalIdleHook(saveThen(VK_ESCAPE));
    HMENU all = reinterpret_cast<HMENU>(SendMessage(SHFindMenuBar(g_main), SHCMBM_GETMENU, 0, 0));
    RECT bar;
    GetWindowRect(SHFindMenuBar(g_main), &bar);
    TrackPopupMenuEx(GetSubMenu(all, 1), TPM_RIGHTALIGN | TPM_BOTTOMALIGN, bar.right, bar.top, g_main, nullptr);
  } else if (what == "box") {
    platform::setModalIdleHook(saveThen(VK_RETURN));
    SendMessage(g_main, WM_COMMAND, kQuestion, 0);
  } else {
    if (what == "bubble") showBubble();
    pumpAll();
    saved = platform::screenSavePng(png);
  }
  platform::setModalIdleHook(nullptr);
  tearDown();
  return saved ? 0 : 1;
}

}  // namespace

// fontconfig and the desktop bus keep caches for the life of the process;
// they are not leaks.
extern "C" __attribute__((used, visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--shot") == 0) return shot(argv[2], argv[3]);
  platform::screenInit();
  if (!platform::screenSelectBackend()) platform::screenSelectBackend("headless");
  if (!build()) return 1;
  MSG m;
  while (GetMessage(&m, nullptr, 0, 0)) {
    if (!IsDialogMessage(g_main, &m)) {
      TranslateMessage(&m);
      DispatchMessage(&m);
    }
  }
  tearDown();
  return int(m.wParam);
}

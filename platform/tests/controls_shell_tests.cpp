// The phone shell: soft keys sending their commands, the Back-key
// override, dialog initialisation and the title, notification icons and a
// bubble whose buttons send their commands.
#include <deque>
#include <functional>

#include "controls_fixture.h"
#include "platform/bitmap.h"
#include "platform/menu.h"
#include "platform/clock.h"
#include "platform/device.h"
#include "platform/module.h"
#include "platform/phoneshell.h"
#include "testkit/modal.h"

namespace platform {
void setKeyFilter(bool (*filter)(UINT, bool)) __attribute__((weak));
}  // namespace platform

using namespace ctest;

namespace {

struct Hotkey {
  WORD mods;
  WORD vk;
};
std::vector<Hotkey>& hotkeys() {
  static std::vector<Hotkey> v;
  return v;
}
std::vector<std::pair<UINT, LPARAM>>& trayCalls() {
  static std::vector<std::pair<UINT, LPARAM>> v;
  return v;
}
bool g_passBack = false;
constexpr UINT kTrayMessage = 0x8000;

LRESULT CALLBACK shellOwnerProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_HOTKEY) {
    hotkeys().push_back(Hotkey{LOWORD(l), HIWORD(l)});
    if (g_passBack) SHSendBackToFocusWindow(m, w, l);
    return 0;
  }
  if (m == kTrayMessage) {
    trayCalls().push_back({UINT(w), l});
    return 0;
  }
  return hostProc(h, m, w, l);
}

class Shell : public ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    hotkeys().clear();
    trayCalls().clear();
    g_passBack = false;
    SetWindowLongPtr(host, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(shellOwnerProc));
  }
  static bool keysReachTheShell() { return &platform::setKeyFilter != nullptr; }
  // Left "Send" (102), right "Menu" opening Copy (1) / separator / More > Play (2).
  HWND makeBar(HWND owner) {
    HMENU keys = CreatePopupMenu();
    HMENU menu = CreatePopupMenu();
    HMENU more = CreatePopupMenu();
    AppendMenu(more, MF_STRING, 2, u"Play");
    AppendMenu(menu, MF_STRING, 1, u"Copy");
    AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenu(menu, MF_POPUP, UINT_PTR(more), u"More");
    AppendMenu(keys, MF_STRING, 102, u"Send");
    AppendMenu(keys, MF_POPUP, UINT_PTR(menu), u"Menu");
    SHMENUBARINFO mb{sizeof mb, owner, SHCMBF_HMENU, UINT(reinterpret_cast<uintptr_t>(keys)), nullptr, 0, 0, nullptr, 0};
    EXPECT_TRUE(SHCreateMenuBar(&mb));
    DestroyMenu(keys);
    testkit::pump();
    return mb.hwndMB;
  }
  static POINT keyCentre(int k) {
    RECT r{};
    platform::shellSoftKeyRect(k, &r);
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  }
};

HICON solidIcon(COLORREF c) {
  uint32_t px[16 * 16];
  for (auto& p : px) p = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
  uint16_t mask[16] = {};
  HBITMAP colour = CreateBitmap(16, 16, 1, 32, px);
  HBITMAP m = CreateBitmap(16, 16, 1, 1, mask);
  ICONINFO info{TRUE, 0, 0, m, colour};
  HICON icon = CreateIconIndirect(&info);
  DeleteObject(colour);
  DeleteObject(m);
  return icon;
}

TEST_F(Shell, SoftKeysSendTheirCommandsByKeysAndStylus) {
  HWND bar = makeBar(host);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(SHFindMenuBar(host), bar);
  EXPECT_EQ(platform::shellSoftKeyText(0), u"Send");
  EXPECT_EQ(platform::shellSoftKeyText(1), u"Menu");
  RECT r = testkit::screenRect(bar);
  EXPECT_EQ(r.bottom, 320);
  EXPECT_EQ(r.top, platform::shellWorkArea().bottom);
  POINT left = keyCentre(0);
  testkit::tap(left.x, left.y);
  EXPECT_EQ(count(102, 0), 1);
  // The right key opens its menu; the choice reaches the window.
  POINT right = keyCentre(1);
  {
    auto choose = testkit::ModalAnswers::always(testkit::pressing({VK_RETURN}));
    testkit::tap(right.x, right.y);
  }
  EXPECT_EQ(count(1, 0), 1);
  // The key's menu is there to change, as hosts do when it opens.
  EXPECT_EQ(SendMessage(bar, SHCMBM_GETSUBMENU, 0, 999), 0) << "no key has that command";
  HMENU all = reinterpret_cast<HMENU>(SendMessage(bar, SHCMBM_GETMENU, 0, 0));
  ASSERT_NE(all, nullptr);
  EXPECT_EQ(GetMenuItemCount(GetSubMenu(all, 1)), 3);
  // A disabled key does nothing.
  EXPECT_TRUE(SendMessage(bar, TB_ENABLEBUTTON, 102, FALSE));
  testkit::tap(left.x, left.y);
  EXPECT_EQ(count(102, 0), 1);
  TBBUTTONINFO info{sizeof info, TBIF_STATE | TBIF_TEXT, 0, 0, TBSTATE_ENABLED, 0, 0, 0, const_cast<LPWSTR>(u"Go"), 0};
  EXPECT_TRUE(SendMessage(bar, TB_SETBUTTONINFO, 102, LPARAM(&info)));
  EXPECT_EQ(platform::shellSoftKeyText(0), u"Go");
  if (!keysReachTheShell()) GTEST_SKIP() << "the window system has no key hook for the soft keys";
  testkit::key(VK_TSOFT1);
  EXPECT_EQ(count(102, 0), 2);
  auto play = testkit::ModalAnswers::always(testkit::pressing({VK_DOWN, VK_RIGHT, VK_RETURN}));
  testkit::key(VK_TSOFT2);
  EXPECT_EQ(count(2, 0), 1);
}

TEST_F(Shell, SoftKeysFromAModuleResource) {
  SHMENUBARINFO mb{sizeof mb, host, 0, 102, GetModuleHandle(nullptr), 0, 0, nullptr, 0};
  ASSERT_TRUE(SHCreateMenuBar(&mb));
  testkit::pump();
  EXPECT_EQ(platform::shellSoftKeyText(0), u"Hide");
  EXPECT_EQ(platform::shellSoftKeyText(1), u"Menu");
  HMENU menu = reinterpret_cast<HMENU>(SendMessage(mb.hwndMB, SHCMBM_GETSUBMENU, 0, 103));
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(GetMenuItemID(menu, 0), 40023u);
  EXPECT_EQ(GetMenuState(menu, 40004, MF_BYCOMMAND) & MF_GRAYED, UINT(MF_GRAYED));
  POINT left = keyCentre(0);
  testkit::tap(left.x, left.y);
  EXPECT_EQ(count(1, 0), 1);
  // A missing resource fails and makes no bar.
  SHMENUBARINFO bad{sizeof bad, host, 0, 999, GetModuleHandle(nullptr), 0, 0, nullptr, 0};
  EXPECT_FALSE(SHCreateMenuBar(&bad));
  EXPECT_EQ(SHFindMenuBar(host), mb.hwndMB);
}

TEST_F(Shell, TheActiveWindowsBarTakesTheKeys) {
  if (!keysReachTheShell()) GTEST_SKIP() << "the window system has no key hook for the soft keys";
  makeBar(host);
  HWND second = CreateWindowEx(0, hostClass(), u"Second", WS_POPUP | WS_VISIBLE, 0, 0, 240, 320, nullptr, nullptr,
                               nullptr, nullptr);
  HMENU keys = CreatePopupMenu();
  AppendMenu(keys, MF_STRING, 77, u"Other");
  SHMENUBARINFO mb{sizeof mb, second, SHCMBF_HMENU, UINT(reinterpret_cast<uintptr_t>(keys)), nullptr, 0, 0, nullptr, 0};
  ASSERT_TRUE(SHCreateMenuBar(&mb));
  DestroyMenu(keys);
  SetActiveWindow(second);
  testkit::pump();
  testkit::key(VK_TSOFT1);
  EXPECT_EQ(count(77, 0), 1);
  EXPECT_EQ(platform::shellSoftKeyText(0), u"Other");
  DestroyWindow(second);
  EXPECT_FALSE(IsWindow(mb.hwndMB)) << "the bar goes with its window";
  SetActiveWindow(host);
  testkit::key(VK_TSOFT1);
  EXPECT_EQ(count(102, 0), 1);
  EXPECT_EQ(count(77, 0), 1);
}

TEST_F(Shell, BackKeyOverrideReachesTheWindowAndItsFocus) {
  if (!keysReachTheShell()) GTEST_SKIP() << "the window system has no key hook for the soft keys";
  HWND bar = makeBar(host);
  HWND edit = make(WC_EDIT, "abc", WS_BORDER, RECT{10, 40, 200, 64});
  SetFocus(edit);
  SendMessage(edit, EM_SETSEL, 3, 3);
  // Not overridden: Back is an ordinary key for the focused control.
  testkit::key(VK_TBACK);
  EXPECT_TRUE(hotkeys().empty());
  EXPECT_EQ(text(edit), "abc");
  SendMessage(bar, SHCMBM_OVERRIDEKEY, VK_TBACK, MAKELPARAM(SHMBOF_NODEFAULT | SHMBOF_NOTIFY, SHMBOF_NODEFAULT | SHMBOF_NOTIFY));
  testkit::key(VK_TBACK);
  ASSERT_EQ(hotkeys().size(), 2u);
  EXPECT_EQ(hotkeys()[0].vk, VK_TBACK);
  EXPECT_EQ(hotkeys()[0].mods & MOD_KEYUP, 0);
  EXPECT_EQ(hotkeys()[1].mods & MOD_KEYUP, MOD_KEYUP);
  EXPECT_EQ(text(edit), "abc") << "the window decides";
  // Passed on to the focus, Back deletes in an edit box with text.
  g_passBack = true;
  testkit::key(VK_TBACK);
  EXPECT_EQ(text(edit), "ab");
  testkit::key(VK_TBACK);
  testkit::key(VK_TBACK);
  EXPECT_EQ(text(edit), "");
  // Overridden without notice: Back is swallowed.
  SendMessage(bar, SHCMBM_OVERRIDEKEY, VK_TBACK, MAKELPARAM(SHMBOF_NOTIFY, 0));
  size_t before = hotkeys().size();
  testkit::key(VK_TBACK);
  EXPECT_EQ(hotkeys().size(), before);
}

TEST_F(Shell, InitDialogSizesToTheWorkAreaAndDoneSendsOk) {
  RECT work = platform::shellWorkArea();
  EXPECT_GT(work.top, 0);
  EXPECT_LT(work.bottom, 320);
  RECT asked{};
  ASSERT_TRUE(SystemParametersInfo(SPI_GETWORKAREA, 0, &asked, 0));
  EXPECT_TRUE(EqualRect(&asked, &work));
  SHINITDLGINFO info{SHIDIM_FLAGS, host, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN};
  ASSERT_TRUE(SHInitDialog(&info));
  testkit::pump();
  RECT r = testkit::screenRect(host);
  EXPECT_TRUE(EqualRect(&r, &work));
  EXPECT_EQ(platform::shellSipState(), SIP_DOWN);
  // The title follows the window, or what it set.
  EXPECT_EQ(platform::shellTitleText(), u"Host");
  ASSERT_TRUE(SHSetNavBarText(host, u"Sign In"));
  testkit::pump();
  EXPECT_EQ(platform::shellTitleText(), u"Sign In");
  HWND title = platform::shellTitleBar();
  RECT tr = testkit::screenRect(title);
  EXPECT_EQ(tr.top, 0);
  EXPECT_EQ(tr.bottom, work.top);
  RECT textArea{tr.left, tr.top, tr.left + 80, tr.bottom};
  EXPECT_GT(testkit::countPixels(textArea, RGB(255, 255, 255)), 10) << "the title is written";
  // "ok" at the right of the title bar.
  testkit::tap(tr.right - 5, (tr.top + tr.bottom) / 2);
  EXPECT_EQ(count(IDOK, 0), 1);
  EXPECT_EQ(GetActiveWindow(), host) << "tapping the title bar leaves the window active";
  SHINITDLGINFO bad{SHIDIM_FLAGS, reinterpret_cast<HWND>(0x12345), 0};
  EXPECT_FALSE(SHInitDialog(&bad));
  // Looked up by name as plug-ins do.
  HMODULE ayg = LoadLibrary(u"aygshell.dll");
  ASSERT_NE(ayg, nullptr);
  auto setText = reinterpret_cast<BOOL (*)(HWND, LPCWSTR)>(GetProcAddress(ayg, "SHSetNavBarText"));
  ASSERT_NE(setText, nullptr);
  setText(host, u"By name");
  EXPECT_EQ(platform::shellTitleText(), u"By name");
}

TEST_F(Shell, NotificationIconsShowAndCallBack) {
  HICON red = solidIcon(RGB(255, 0, 0));
  HICON green = solidIcon(RGB(0, 255, 0));
  NOTIFYICONDATA nid{sizeof nid, host, 0x8000, NIF_MESSAGE | NIF_ICON | NIF_TIP, kTrayMessage, red, {}};
  ASSERT_TRUE(Shell_NotifyIcon(NIM_ADD, &nid));
  EXPECT_FALSE(Shell_NotifyIcon(NIM_ADD, &nid)) << "one icon per window and id";
  testkit::pump();
  ASSERT_EQ(platform::shellTrayIcons().size(), 1u);
  RECT title = testkit::screenRect(platform::shellTitleBar());
  EXPECT_GT(testkit::countPixels(title, RGB(255, 0, 0)), 100);
  nid.hIcon = green;
  nid.uFlags = NIF_ICON;
  ASSERT_TRUE(Shell_NotifyIcon(NIM_MODIFY, &nid));
  testkit::pump();
  EXPECT_EQ(testkit::countPixels(title, RGB(255, 0, 0)), 0);
  EXPECT_GT(testkit::countPixels(title, RGB(0, 255, 0)), 100);
  RECT ir{};
  ASSERT_TRUE(platform::shellTrayIconRect(host, 0x8000, &ir));
  testkit::tap((ir.left + ir.right) / 2, (ir.top + ir.bottom) / 2);
  ASSERT_EQ(trayCalls().size(), 2u);
  EXPECT_EQ(trayCalls()[0].first, 0x8000u);
  EXPECT_EQ(trayCalls()[0].second, WM_LBUTTONDOWN);
  EXPECT_EQ(trayCalls()[1].second, WM_LBUTTONUP);
  ASSERT_TRUE(Shell_NotifyIcon(NIM_DELETE, &nid));
  EXPECT_FALSE(Shell_NotifyIcon(NIM_MODIFY, &nid));
  testkit::pump();
  EXPECT_TRUE(platform::shellTrayIcons().empty());
  EXPECT_EQ(testkit::countPixels(title, RGB(0, 255, 0)), 0);
  // A window that goes takes its icon and its notifications along.
  HWND gone = CreateWindowEx(0, hostClass(), u"Gone", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  NOTIFYICONDATA other{sizeof other, gone, 1, NIF_ICON, 0, red, {}};
  ASSERT_TRUE(Shell_NotifyIcon(NIM_ADD, &other));
  const CLSID clsid = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  SHNOTIFICATIONDATA nd{sizeof nd, 9, SHNP_INFORMATION, 0, red, SHNF_STRAIGHTTOTRAY, clsid, gone, u"x", u"t", 0};
  ASSERT_EQ(SHNotificationAdd(&nd), ERROR_SUCCESS);
  testkit::pump();
  EXPECT_GT(testkit::countPixels(title, RGB(255, 0, 0)), 200);
  DestroyWindow(gone);
  platform::shellTrayIcons();
  InvalidateRect(platform::shellTitleBar(), nullptr, TRUE);
  testkit::pump();
  EXPECT_EQ(testkit::countPixels(title, RGB(255, 0, 0)), 0);
  EXPECT_FALSE(platform::shellNotificationPresent(clsid, 9));
  DestroyIcon(red);
  DestroyIcon(green);
}

const CLSID kClsid = {0xF41153EC, 0x18E4, 0x4D68, {0xB1, 0xF3, 0xE1, 0x22, 0xF4, 0x76, 0xD0, 0xEC}};
const char16_t kHtml[] =
    u"You have Olvaro messages waiting<br /><br /><table width='100%'><tr><td width='50%'><input type='button' "
    u"name='cmd:10' value='Open Olvaro' style='width: 100%'></td><td width='50%'><input type='button' name='cmd:11' "
    u"value='Dismiss' style='width: 100%'></td></tr></table>";

TEST_F(Shell, BubbleButtonsSendTheirCommandsToTheSink) {
  HICON icon = solidIcon(RGB(0, 0, 255));
  SHNOTIFICATIONDATA nd{sizeof nd, 1, SHNP_INFORMATION, 0, icon, SHNF_STRAIGHTTOTRAY | SHNF_SILENT, kClsid, host,
                        kHtml, u"Olvaro Messages", 0};
  ASSERT_EQ(SHNotificationAdd(&nd), ERROR_SUCCESS);
  EXPECT_EQ(SHNotificationAdd(&nd), ERROR_ALREADY_EXISTS);
  testkit::pump();
  EXPECT_TRUE(platform::shellNotificationPresent(kClsid, 1));
  // Straight to the tray: its icon is there, the bubble opens from it.
  EXPECT_EQ(platform::shellNotificationBubble(kClsid, 1), nullptr);
  RECT title = testkit::screenRect(platform::shellTitleBar());
  int blue = 0;
  int bx = 0, by = 0;
  for (int y = title.top; y < title.bottom; ++y)
    for (int x = title.left; x < title.right; ++x)
      if (testkit::pixel(x, y) == RGB(0, 0, 255)) {
        ++blue;
        bx = x;
        by = y;
      }
  ASSERT_GT(blue, 100);
  testkit::tap(bx, by);
  HWND bubble = platform::shellNotificationBubble(kClsid, 1);
  ASSERT_NE(bubble, nullptr);
  EXPECT_EQ(testkit::windowText(bubble), "Olvaro Messages");
  HWND open = testkit::findWindow("BUTTON", "Open Olvaro", bubble);
  HWND dismiss = testkit::findWindow("BUTTON", "Dismiss", bubble);
  ASSERT_NE(open, nullptr);
  ASSERT_NE(dismiss, nullptr);
  RECT o = testkit::screenRect(open), d = testkit::screenRect(dismiss);
  EXPECT_EQ(o.top, d.top) << "the two buttons share a row";
  EXPECT_LT(o.right, d.left + 1);
  RECT textArea = testkit::screenRect(bubble);
  textArea.bottom = o.top;
  textArea.top += 20;
  EXPECT_GT(testkit::countPixels(textArea, RGB(0, 0, 0)), 20) << "the text is written above the buttons";
  testkit::tap(dismiss);
  EXPECT_EQ(count(11, 0), 1);
  testkit::tap(open);
  EXPECT_EQ(count(10, 0), 1);
  ASSERT_EQ(SHNotificationRemove(&kClsid, 1), ERROR_SUCCESS);
  EXPECT_FALSE(IsWindow(bubble));
  EXPECT_FALSE(platform::shellNotificationPresent(kClsid, 1));
  EXPECT_EQ(SHNotificationRemove(&kClsid, 1), ERROR_FILE_NOT_FOUND);
  // Without straight-to-tray the bubble shows at once; odd HTML is shown
  // safely.
  SHNOTIFICATIONDATA odd{sizeof odd, 2, SHNP_INFORMATION, 0, nullptr, 0, kClsid, host,
                         u"a &amp; b &#9731; &bogus; <b>bold<input type=button name=cmd:99999999999 value=Big>"
                         u"<input type=\"button\" name=\"cmd:7\" value=\"Seven\"> <unclosed",
                         u"Odd", 0};
  ASSERT_EQ(SHNotificationAdd(&odd), ERROR_SUCCESS);
  testkit::pump();
  HWND ob = platform::shellNotificationBubble(kClsid, 2);
  ASSERT_NE(ob, nullptr);
  HWND seven = testkit::findWindow("BUTTON", "Seven", ob);
  ASSERT_NE(seven, nullptr);
  testkit::tap(seven);
  EXPECT_EQ(count(7, 0), 1);
  testkit::tap(testkit::findWindow("BUTTON", "Big", ob));
  EXPECT_EQ(commands().size(), 3u) << "a command number out of range sends nothing";
  SHNotificationRemove(&kClsid, 2);
  DestroyIcon(icon);
}

// Handles the queue as the host's loop does: the active window's dialog
// keys first.
void dialogPump() {
  MSG m;
  for (int guard = 0; guard < 10000 && PeekMessage(&m, nullptr, 0, 0, PM_REMOVE); ++guard) {
    HWND active = GetActiveWindow();
    if (active && IsDialogMessage(active, &m)) continue;
    TranslateMessage(&m);
    DispatchMessage(&m);
  }
}

void pressKey(UINT vk, bool dialogKeys) {
  if (!dialogKeys) return testkit::key(vk);
  platform::inputKey(vk, true);
  dialogPump();
  platform::inputKey(vk, false);
  dialogPump();
}

TEST_F(Shell, OpenedBubbleTakesTheKeysAndGivesThemBack) {
  HWND edit = make(WC_EDIT, "", 0, RECT{10, 40, 200, 60});
  SetFocus(edit);
  SHNOTIFICATIONDATA nd{sizeof nd, 3, SHNP_INFORMATION, 0, nullptr, SHNF_STRAIGHTTOTRAY, kClsid, host,
                        u"Pick<br><input type='button' name='cmd:2' value='Two'>"
                        u"<input type='button' name='cmd:5' value='Five'>",
                        u"Keys", 77};
  HICON icon = solidIcon(RGB(0, 0, 255));
  nd.hicon = icon;
  ASSERT_EQ(SHNotificationAdd(&nd), ERROR_SUCCESS);
  auto held = platform::shellNotifications();
  ASSERT_EQ(held.size(), 1u);
  EXPECT_EQ(held[0].priority, SHNP_INFORMATION);
  EXPECT_EQ(held[0].flags, DWORD(SHNF_STRAIGHTTOTRAY));
  EXPECT_EQ(held[0].lParam, 77);
  EXPECT_EQ(held[0].icon, icon);
  EXPECT_EQ(held[0].title, u"Keys");
  EXPECT_EQ(held[0].sink, host);
  // Without and with the dialog keys of the host's loop.
  for (bool dialogKeys : {false, true}) {
    SCOPED_TRACE(dialogKeys ? "dialog keys" : "plain pump");
    commands().clear();
    RECT r{};
    ASSERT_TRUE(platform::shellTrayNotificationRect(kClsid, 3, &r));
    testkit::tap((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    HWND bubble = platform::shellNotificationBubble(kClsid, 3);
    ASSERT_NE(bubble, nullptr);
    HWND two = testkit::findWindow("BUTTON", "Two", bubble);
    HWND five = testkit::findWindow("BUTTON", "Five", bubble);
    EXPECT_EQ(GetActiveWindow(), bubble);
    EXPECT_EQ(GetFocus(), two);
    pressKey(VK_DOWN, dialogKeys);
    EXPECT_EQ(GetFocus(), five);
    pressKey(VK_RIGHT, dialogKeys);
    EXPECT_EQ(GetFocus(), two) << "the last button steps round to the first";
    pressKey(VK_LEFT, dialogKeys);
    EXPECT_EQ(GetFocus(), five);
    pressKey(VK_RETURN, dialogKeys);
    testkit::pump();
    EXPECT_EQ(count(5, 0), 1);
    EXPECT_EQ(platform::shellNotificationBubble(kClsid, 3), bubble) << "the sink decides whether it goes";
    // Back closes it to the tray, sends nothing (not even a button that
    // shares the cancel command's number) and gives the keys back.
    pressKey(VK_ESCAPE, dialogKeys);
    testkit::pump();
    EXPECT_FALSE(IsWindow(bubble));
    EXPECT_TRUE(platform::shellNotificationPresent(kClsid, 3));
    EXPECT_EQ(count(2, 0), 0);
    EXPECT_EQ(count(5, 0), 1);
    EXPECT_EQ(GetActiveWindow(), host);
    EXPECT_EQ(GetFocus(), edit);
  }
  // Removed while it has the keys, it gives them back too.
  RECT r{};
  ASSERT_TRUE(platform::shellTrayNotificationRect(kClsid, 3, &r));
  testkit::tap((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  ASSERT_EQ(GetActiveWindow(), platform::shellNotificationBubble(kClsid, 3));
  ASSERT_EQ(SHNotificationRemove(&kClsid, 3), ERROR_SUCCESS);
  EXPECT_EQ(GetActiveWindow(), host);
  EXPECT_EQ(GetFocus(), edit);
  EXPECT_TRUE(platform::shellNotifications().empty());
  DestroyIcon(icon);
}

TEST_F(Shell, VibrationAndLedAreAcceptedAndVisibleToTests) {
  HMODULE ayg = LoadLibrary(u"aygshell.dll");
  auto vibrate = reinterpret_cast<HRESULT (*)(DWORD, const void*, BOOL, DWORD)>(GetProcAddress(ayg, "Vibrate"));
  auto stop = reinterpret_cast<HRESULT (*)()>(GetProcAddress(ayg, "VibrateStop"));
  ASSERT_NE(vibrate, nullptr);
  ASSERT_NE(stop, nullptr);
  EXPECT_EQ(vibrate(0, nullptr, TRUE, 0xFFFFFFFF), S_OK);
  EXPECT_TRUE(platform::shellVibrating());
  EXPECT_EQ(stop(), S_OK);
  EXPECT_FALSE(platform::shellVibrating());
  NLED_SETTINGS_INFO led{1, 1, 0, 0, 0, 0, 0};
  EXPECT_TRUE(NLedSetDevice(NLED_SETTINGS_INFO_ID, &led));
  EXPECT_EQ(platform::shellLedState(1), 1);
  led.OffOnBlink = 0;
  EXPECT_TRUE(NLedSetDevice(NLED_SETTINGS_INFO_ID, &led));
  EXPECT_EQ(platform::shellLedState(1), 0);
  led.OffOnBlink = 7;
  EXPECT_FALSE(NLedSetDevice(NLED_SETTINGS_INFO_ID, &led));
  EXPECT_FALSE(NLedSetDevice(NLED_SETTINGS_INFO_ID, nullptr));
}

TEST_F(Shell, GestureHoldAndTap) {
  HWND target = make(WC_STATIC, "hold me", SS_NOTIFY, RECT{10, 60, 200, 100});
  RECT r = testkit::screenRect(target);
  POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  SHRGINFO rg{sizeof rg, target, p, SHRG_RETURNCMD};
  // Lifted: a tap.
  platform::inputStylusDown(p.x, p.y);
  {
    auto lift = testkit::ModalAnswers::always([&](HWND) { platform::inputStylusUp(p.x, p.y); });
    EXPECT_EQ(SHRecognizeGesture(&rg), 0u);
  }
  testkit::pump();
  // Held past the hold time: the context menu.
  platform::inputStylusDown(p.x, p.y);
  {
    auto hold = testkit::ModalAnswers::always([](HWND) { platform::clockAdvance(platform::kTapAndHoldMs + 10); });
    EXPECT_EQ(SHRecognizeGesture(&rg), DWORD(GN_CONTEXTMENU));
  }
  platform::inputStylusUp(p.x, p.y);
  testkit::pump();
  SHRGINFO notify{sizeof notify, target, p, 0};
  EXPECT_EQ(SHRecognizeGesture(&notify), 0u) << "without RETURNCMD a hold comes as WM_CONTEXTMENU";
}

}  // namespace

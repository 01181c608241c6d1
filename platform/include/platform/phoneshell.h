// The phone shell on the emulated device screen: a title bar on top (the
// navigation-bar title, the tray icons, the Done button), the work area,
// and the soft-key bar at the bottom.
//
// Soft-key bars come from a module's menu-bar resource (.menubar sources):
//   SHMENUBARINFO mb{sizeof mb, hwnd, 0, 102, module};
//   SHCreateMenuBar(&mb);   // mb.hwndMB is the bar
// The first item is the left key, the second the right key; a key with
// items opens them as a menu. F1 and F2 press the active window's keys, a
// tap on a key does too; the chosen command reaches the window as
// WM_COMMAND. Back (Escape) leaves the window unless the bar was asked to
// hand it over (SHCMBM_OVERRIDEKEY with SHMBOF_NODEFAULT | SHMBOF_NOTIFY):
// then the window gets WM_HOTKEY (HIWORD(lParam) = VK_TBACK, MOD_KEYUP in
// LOWORD for the release) and can pass it on with SHSendBackToFocusWindow.
//
// The functions a plug-in looks up by name in "aygshell.dll" are found
// there (SHSetNavBarText, Vibrate, VibrateStop, ...).
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"
#include "platform/window.h"

// ---- Soft-key bars --------------------------------------------------------

struct SHMENUBARINFO {
  DWORD cbSize;
  HWND hwndParent;
  DWORD dwFlags;
  UINT nToolBarId;  // the menu-bar resource, or an HMENU with SHCMBF_HMENU
  HINSTANCE hInstRes;
  int nBmpId;
  int cBmpImages;
  HWND hwndMB;  // out: the bar
  COLORREF clrBk;
};
typedef SHMENUBARINFO* PSHMENUBARINFO;

#define SHCMBF_EMPTYBAR 0x0001
#define SHCMBF_HIDDEN 0x0002
#define SHCMBF_HIDESIPBUTTON 0x0004
#define SHCMBF_COLORBK 0x0008
#define SHCMBF_HMENU 0x0010

#define SHCMBM_SETSUBMENU (WM_USER + 400)  // wParam: key command, lParam: HMENU
#define SHCMBM_GETSUBMENU (WM_USER + 401)  // lParam: key command -> its HMENU
#define SHCMBM_GETMENU (WM_USER + 402)     // -> a menu of the keys (popups for menu keys)
#define SHCMBM_OVERRIDEKEY (WM_USER + 403)
#define SHMBOF_NODEFAULT 0x00000001
#define SHMBOF_NOTIFY 0x00000002
#define MOD_KEYUP 0x1000

// Keys as toolbar buttons: enable them or change their text.
#define TB_ENABLEBUTTON (WM_USER + 1)  // wParam: command, LOWORD(lParam): enable
#define TB_ISBUTTONENABLED (WM_USER + 9)
#define TB_GETBUTTONINFO (WM_USER + 63)
#define TB_SETBUTTONINFO (WM_USER + 64)
#define TBIF_TEXT 0x00000002
#define TBIF_STATE 0x00000004
#define TBSTATE_ENABLED 0x04
struct TBBUTTONINFO {
  UINT cbSize;
  DWORD dwMask;
  int idCommand;
  int iImage;
  BYTE fsState;
  BYTE fsStyle;
  WORD cx;
  DWORD_PTR lParam;
  LPWSTR pszText;
  int cchText;
};

BOOL SHCreateMenuBar(SHMENUBARINFO* info);
HWND SHFindMenuBar(HWND hwnd);
// Hands the Back key to the focused control: an edit box with text deletes
// a character; anything else gets the Back key itself.
void SHSendBackToFocusWindow(UINT msg, WPARAM wParam, LPARAM lParam);

// ---- Dialogs, title, input panel, gestures -------------------------------

struct SHINITDLGINFO {
  DWORD dwMask;
  HWND hDlg;
  DWORD dwFlags;
};
#define SHIDIM_FLAGS 0x0001
#define SHIDIF_DONEBUTTON 0x0001
#define SHIDIF_SIZEDLG 0x0002
#define SHIDIF_SIZEDLGFULLSCREEN 0x0004
#define SHIDIF_SIPDOWN 0x0008
#define SHIDIF_FULLSCREENNOMENUBAR 0x0010
#define SHIDIF_EMPTYMENU 0x0020
// Sizes the window to the work area (SIZEDLG, SIZEDLGFULLSCREEN), or the
// screen below the title bar (FULLSCREENNOMENUBAR); DONEBUTTON shows "ok"
// in the title bar, which sends IDOK to the window.
BOOL SHInitDialog(SHINITDLGINFO* info);
BOOL SHDoneButton(HWND hwnd, DWORD state);
#define SHDB_SHOW 0x0001
#define SHDB_HIDE 0x0002

// The title shown in the title bar while `hwnd` is the active window
// (without one, the window's own text is shown).
BOOL SHSetNavBarText(HWND hwnd, LPCWSTR text);

typedef enum { SIP_UP = 0, SIP_DOWN, SIP_FORCEDOWN, SIP_UNCHANGED, SIP_INPUTDIALOG } SIPSTATE;
BOOL SHSipPreference(HWND hwnd, SIPSTATE state);

struct SHACTIVATEINFO {
  DWORD cbSize;
  HWND hwndLastFocus;
  UINT fSipUp : 1;
  UINT fSipOnDeactivation : 1;
  UINT fActive : 1;
  UINT fReserved : 29;
};
BOOL SHHandleWMActivate(HWND hwnd, WPARAM wParam, LPARAM lParam, SHACTIVATEINFO* info, DWORD flags);
BOOL SHHandleWMSettingChange(HWND hwnd, WPARAM wParam, LPARAM lParam, SHACTIVATEINFO* info);

struct SHRGINFO {
  DWORD cbSize;
  HWND hwndClient;
  POINT ptDown;
  DWORD dwFlags;
};
#define SHRG_RETURNCMD 0x00000001
#define SHRG_NOTIFYPARENT 0x00000002
#define SHRG_LONGDELAY 0x00000008
#define GN_CONTEXTMENU 1000
// With SHRG_RETURNCMD: waits while the stylus rests at ptDown and returns
// GN_CONTEXTMENU when it was held, 0 when it was lifted or moved. Without
// it, returns 0 at once: a hold arrives as WM_CONTEXTMENU.
DWORD SHRecognizeGesture(SHRGINFO* info);


// ---- Notification icon ---------------------------------------------------

struct NOTIFYICONDATA {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  WCHAR szTip[64];
};
typedef NOTIFYICONDATA* PNOTIFYICONDATA;
#define NIM_ADD 0x00000000
#define NIM_MODIFY 0x00000001
#define NIM_DELETE 0x00000002
#define NIF_MESSAGE 0x00000001
#define NIF_ICON 0x00000002
#define NIF_TIP 0x00000004
// Icons show in the title bar; a tap sends uCallbackMessage to hWnd with
// wParam = uID and lParam = WM_LBUTTONDOWN, then WM_LBUTTONUP.
BOOL Shell_NotifyIcon(DWORD message, PNOTIFYICONDATA data);

// ---- Notification bubbles ------------------------------------------------

typedef enum { SHNP_INFORMATION = 0x1B1, SHNP_ICONIC = 0 } SHNP;
#define SHNF_STRAIGHTTOTRAY 0x00000001
#define SHNF_CRITICAL 0x00000002
#define SHNF_FORCEMESSAGE 0x00000008
#define SHNF_DISPLAYON 0x00000010
#define SHNF_SILENT 0x00000020
#define SHNUM_PRIORITY 0x0001
#define SHNUM_DURATION 0x0002
#define SHNUM_ICON 0x0004
#define SHNUM_HTML 0x0008
#define SHNUM_TITLE 0x0010

struct SHNOTIFICATIONDATA {
  DWORD cbStruct;
  DWORD dwID;
  SHNP npPriority;
  DWORD csDuration;  // seconds shown; 0 = until dismissed
  HICON hicon;
  DWORD grfFlags;
  CLSID clsid;
  HWND hwndSink;
  LPCWSTR pszHTML;
  LPCWSTR pszTitle;
  LPARAM lParam;
};
// The bubble renders the HTML the system sends: text, <br>, and
// <input type='button' name='cmd:N' value='...'> as buttons that send
// WM_COMMAND N to hwndSink. SHNF_STRAIGHTTOTRAY puts it in the title bar
// as its icon; a tap there opens it, and the opened bubble takes the keys:
// Left/Up and Right/Down step between its buttons, the action key presses
// one, Back closes it to the tray. ERROR_SUCCESS on success.
LRESULT SHNotificationAdd(SHNOTIFICATIONDATA* data);
LRESULT SHNotificationUpdate(DWORD mask, SHNOTIFICATIONDATA* data);
LRESULT SHNotificationRemove(const CLSID* clsid, DWORD id);

// ---- Vibration and the notification LED ----------------------------------

HRESULT Vibrate(DWORD count, const void* notes, BOOL repeat, DWORD timeoutMs);
HRESULT VibrateStop();
struct NLED_SETTINGS_INFO {
  UINT LedNum;
  INT OffOnBlink;  // 0 off, 1 on, 2 blink
  LONG TotalCycleTime;
  LONG OnTime;
  LONG OffTime;
  INT MetaCycleOn;
  INT MetaCycleOff;
};
#define NLED_SETTINGS_INFO_ID 2
BOOL NLedSetDevice(UINT deviceId, void* input);

namespace platform {

// The device screen's parts, in screen coordinates.
int shellTitleHeight();
int shellSoftKeyHeight();
RECT shellWorkArea();
// The shell's own windows (created when first needed).
HWND shellTitleBar();

// What the test kit reads.
struct TrayIcon {
  HWND hwnd;
  UINT id;
  HICON icon;
  UINT callbackMessage;
  std::u16string tip;
};
std::vector<TrayIcon> shellTrayIcons();
// Where a tray icon is drawn; false when there is no such icon.
bool shellTrayIconRect(HWND hwnd, UINT id, RECT* out);
// The title shown now.
std::u16string shellTitleText();
// Where a straight-to-tray notification's icon is drawn; false when it has
// none there.
bool shellTrayNotificationRect(const CLSID& clsid, DWORD id, RECT* out);
// The bubble window of a notification (nullptr when it is not shown).
HWND shellNotificationBubble(const CLSID& clsid, DWORD id);
bool shellNotificationPresent(const CLSID& clsid, DWORD id);
// The notifications the shell holds, in the order added, as they were given.
struct ShellNotification {
  CLSID clsid;
  DWORD id;
  SHNP priority;
  DWORD duration;
  HICON icon;
  DWORD flags;
  HWND sink;
  std::u16string html;
  std::u16string title;
  LPARAM lParam;
};
std::vector<ShellNotification> shellNotifications();
// The soft-key bar of the active window and the screen rectangle of a key
// (0 left, 1 right).
HWND shellActiveMenuBar();
bool shellSoftKeyRect(int key, RECT* out);
std::u16string shellSoftKeyText(int key);
bool shellVibrating();
int shellLedState(UINT led);  // 0 off, 1 on, 2 blink
// Each vibration and LED change, in order (platform monotonic ms).
struct ShellSignal {
  int64_t atMs;
  bool vibration;  // else an LED
  UINT led;
  int state;  // vibration 0/1; LED 0 off, 1 on, 2 blink
};
std::vector<ShellSignal> shellSignals();
// Clears the record, stops the motor and puts the LEDs out.
void shellSignalsReset();
SIPSTATE shellSipState();

}  // namespace platform

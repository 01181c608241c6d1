// Menus: pop-up menus built item by item, with separators, check marks,
// greyed items and sub-menus, and TrackPopupMenuEx, which shows one at a
// point and runs until the user chooses (keys or stylus) or dismisses it.
//
// Modal loops (a tracked menu, a message box) handle the thread's messages
// until they end. When everything queued has been handled they call the
// modal idle hook, if one is set: that is where a test gives its answer, as
// input (keys, taps). With the headless screen, a loop that is idle after
// the hook (or without one) is dismissed, so a test that forgets to answer
// fails instead of hanging.
#pragma once

#include <functional>

#include "platform/types.h"
#include "platform/window.h"

// Item flags.
#define MF_STRING 0x00000000L
#define MF_ENABLED 0x00000000L
#define MF_UNCHECKED 0x00000000L
#define MF_BYCOMMAND 0x00000000L
#define MF_GRAYED 0x00000001L
#define MF_DISABLED 0x00000002L
#define MF_CHECKED 0x00000008L
#define MF_POPUP 0x00000010L
#define MF_BYPOSITION 0x00000400L
#define MF_SEPARATOR 0x00000800L

// TrackPopupMenuEx flags.
#define TPM_LEFTALIGN 0x0000L
#define TPM_CENTERALIGN 0x0004L
#define TPM_RIGHTALIGN 0x0008L
#define TPM_TOPALIGN 0x0000L
#define TPM_VCENTERALIGN 0x0010L
#define TPM_BOTTOMALIGN 0x0020L
#define TPM_VERTICAL 0x0040L
#define TPM_NONOTIFY 0x0080L
#define TPM_RETURNCMD 0x0100L

struct TPMPARAMS {
  UINT cbSize;
  RECT rcExclude;
};
typedef TPMPARAMS* LPTPMPARAMS;

HMENU CreateMenu();
HMENU CreatePopupMenu();
// Destroys the menu and every sub-menu it holds.
BOOL DestroyMenu(HMENU menu);
BOOL IsMenu(HMENU menu);
// With MF_POPUP, `idOrSubMenu` is the sub-menu, which the menu then owns.
BOOL AppendMenu(HMENU menu, UINT flags, UINT_PTR idOrSubMenu, LPCWSTR text);
// `position` is an index (MF_BYPOSITION; -1 or past the end appends) or a
// command id (looked for in sub-menus too; the item goes before it).
BOOL InsertMenu(HMENU menu, UINT position, UINT flags, UINT_PTR idOrSubMenu, LPCWSTR text);
BOOL ModifyMenu(HMENU menu, UINT position, UINT flags, UINT_PTR idOrSubMenu, LPCWSTR text);
// Takes an item out; a sub-menu it held is kept (RemoveMenu) or destroyed
// (DeleteMenu).
BOOL RemoveMenu(HMENU menu, UINT position, UINT flags);
BOOL DeleteMenu(HMENU menu, UINT position, UINT flags);
HMENU GetSubMenu(HMENU menu, int position);
int GetMenuItemCount(HMENU menu);  // -1 for a bad handle
UINT GetMenuItemID(HMENU menu, int position);  // -1 for a sub-menu or none
// The previous MF_CHECKED / MF_GRAYED state, or -1 when there is no such item.
DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags);
BOOL EnableMenuItem(HMENU menu, UINT item, UINT flags);
UINT GetMenuState(HMENU menu, UINT item, UINT flags);
int GetMenuString(HMENU menu, UINT item, LPWSTR buffer, int size, UINT flags);
// Redraws the soft-key bar of a window.
BOOL DrawMenuBar(HWND hwnd);

// Shows the menu with its corner at (x, y) in screen coordinates, moved to
// fit on the screen. WM_INITMENUPOPUP goes to `owner` before each menu
// opens. With TPM_RETURNCMD the chosen command is returned (0 when
// dismissed); otherwise it is posted to `owner` as WM_COMMAND and the
// result is TRUE when one was chosen.
BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND owner, LPTPMPARAMS params);

namespace platform {

using ModalIdleHook = std::function<void(HWND modalWindow)>;
// Set with an empty function to remove.
void setModalIdleHook(ModalIdleHook hook);
// The pop-up menu window now shown at the top (nullptr when none), and the
// screen rectangle of its item at `position`.
HWND activeMenuWindow();
bool menuItemRect(HWND menuWindow, int position, RECT* out);

}  // namespace platform

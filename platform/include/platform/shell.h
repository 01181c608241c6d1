// Shell services: special folders, start-up shortcuts, opening a document
// or program, and clipboard text.
//
// With $OLVARO_HOME set, every per-user folder lies under it (tests never
// touch the user's real folders). The start-up folder is the XDG autostart
// folder; a shortcut in it is an autostart entry ("name.desktop") that runs
// the shortcut's target.
#pragma once

#include <functional>
#include <string>

#include "platform/files.h"
#include "platform/window.h"

#define CSIDL_PROGRAMS 0x0002
#define CSIDL_PERSONAL 0x0005
#define CSIDL_STARTUP 0x0007
#define CSIDL_APPDATA 0x001a
#define CSIDL_WINDOWS 0x0024
#define CSIDL_PROGRAM_FILES 0x0026
#define CSIDL_MYPICTURES 0x0027

// `path` must hold MAX_PATH characters; a folder whose path would not fit
// is refused (FALSE) rather than written past the buffer.
BOOL SHGetSpecialFolderPath(HWND owner, LPWSTR path, int csidl, BOOL create);

// Creates a shortcut file whose target is a program path, in double quotes
// when it holds blanks, optionally followed by a blank and arguments.
BOOL SHCreateShortcut(LPWSTR shortcut, LPWSTR target);
// Reads the target back into `target` (at most `size` characters with NUL).
BOOL SHGetShortcutTarget(LPWSTR shortcut, LPWSTR target, int size);

#define SEE_MASK_NOCLOSEPROCESS 0x00000040
#define SEE_MASK_FLAG_NO_UI 0x00000400
#define SE_ERR_FNF 2
#define SE_ERR_NOASSOC 31

struct SHELLEXECUTEINFO {
  DWORD cbSize;
  ULONG fMask;
  HWND hwnd;
  LPCWSTR lpVerb;
  LPCWSTR lpFile;
  LPCWSTR lpParameters;
  LPCWSTR lpDirectory;
  int nShow;
  HINSTANCE hInstApp;
  LPVOID lpIDList;
  LPCWSTR lpClass;
  HKEY hkeyClass;
  DWORD dwHotKey;
  HANDLE hIcon;
  HANDLE hProcess;
};
typedef SHELLEXECUTEINFO* LPSHELLEXECUTEINFO;

// The file, executable or not, or the address given to "iexplore.exe", is
// handed to the desktop's opener ($OLVARO_OPEN_COMMAND, else xdg-open) as
// one argument; nothing named here is ever run itself. With
// SEE_MASK_NOCLOSEPROCESS, hProcess can be waited on and must be closed.
BOOL ShellExecuteEx(LPSHELLEXECUTEINFO info);
BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);

// Movable memory as the clipboard takes it.
typedef HANDLE HLOCAL;
#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL LocalFree(HLOCAL mem);
SIZE_T LocalSize(HLOCAL mem);

#define CF_TEXT 1
#define CF_UNICODETEXT 13
BOOL OpenClipboard(HWND owner);
BOOL CloseClipboard();
BOOL EmptyClipboard();
// Takes a LocalAlloc block of NUL-terminated UTF-16 text; the clipboard
// owns it from then on.
HANDLE SetClipboardData(UINT format, HANDLE mem);
// The clipboard's own block; valid until the clipboard changes.
HANDLE GetClipboardData(UINT format);
BOOL IsClipboardFormatAvailable(UINT format);

// What the shell shows for a file: its icon, name and kind. The icon is a
// generic document or folder (SHGFI_SMALLICON: SM_CXSMICON pixels, else
// SM_CXICON); the caller destroys it with DestroyIcon. iIcon is 0 for a
// document and 1 for a folder. Without SHGFI_USEFILEATTRIBUTES the file must
// exist; the result is 0 on failure, else non-zero.
struct SHFILEINFO {
  HICON hIcon;
  int iIcon;
  DWORD dwAttributes;
  WCHAR szDisplayName[MAX_PATH];
  WCHAR szTypeName[80];
};
#define SHGFI_LARGEICON 0x000000000
#define SHGFI_SMALLICON 0x000000001
#define SHGFI_USEFILEATTRIBUTES 0x000000010
#define SHGFI_ICON 0x000000100
#define SHGFI_DISPLAYNAME 0x000000200
#define SHGFI_TYPENAME 0x000000400
#define SHGFI_ATTRIBUTES 0x000000800
DWORD_PTR SHGetFileInfo(LPCWSTR path, DWORD fileAttributes, SHFILEINFO* info, UINT infoSize, UINT flags);

namespace platform {

// The start-up folder, natively (no trailing slash).
std::string startupFolderPath();

// Where the clipboard's text really lives (the display backend's clipboard);
// by default it stays in the process.
void setClipboardBackend(std::function<bool(std::u16string*)> get, std::function<bool(const std::u16string&)> set);

}  // namespace platform

#include "framework/nav_bar.h"

#include "platform/module.h"
#include "platform/window.h"

namespace fwk {

bool setNavBarTitle(HWND hwnd) {
  HMODULE shell = LoadLibrary(u"aygshell");
  if (!shell) return false;
  using SetNavBarText = BOOL (*)(HWND, LPCWSTR);
  auto set = reinterpret_cast<SetNavBarText>(GetProcAddress(shell, "SHSetNavBarText"));
  bool done = false;
  if (set) {
    WCHAR title[kNavBarTitleMax + 1] = {};
    GetWindowText(hwnd, title, kNavBarTitleMax + 1);
    HWND parent = GetParent(hwnd);
    done = set(parent ? parent : hwnd, title) != FALSE;
  }
  FreeLibrary(shell);
  return done;
}

}  // namespace fwk

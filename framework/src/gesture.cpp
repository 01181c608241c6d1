#include "framework/gesture.h"

#include "platform/module.h"

namespace fwk {

namespace {

// The shell's own record layout.
struct GestureInfo {
  DWORD cbSize;
  HWND hwndClient;
  POINT ptDown;
  DWORD dwFlags;
};
constexpr DWORD kReturnCommand = 0x00000001;  // SHRG_RETURNCMD
constexpr DWORD kContextMenu = 1000;          // GN_CONTEXTMENU

}  // namespace

bool recognizeTapAndHold(HWND hwnd, int x, int y) {
  HMODULE shell = LoadLibrary(u"aygshell");
  if (!shell) return false;
  using Recognize = DWORD (*)(GestureInfo*);
  auto recognize = reinterpret_cast<Recognize>(GetProcAddress(shell, "SHRecognizeGesture"));
  bool hold = false;
  if (recognize) {
    GestureInfo info{sizeof(GestureInfo), hwnd, POINT{x, y}, kReturnCommand};
    hold = recognize(&info) == kContextMenu;
  }
  FreeLibrary(shell);
  return hold;
}

}  // namespace fwk

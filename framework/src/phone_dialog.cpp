#include "framework/phone_dialog.h"

#include "platform/phoneshell.h"

namespace fwk {

HWND initPhoneDialog(HWND dialog, UINT menuBarId, HINSTANCE resources) {
  SHINITDLGINFO init{};
  init.dwMask = SHIDIM_FLAGS;
  init.hDlg = dialog;
  init.dwFlags = SHIDIF_DONEBUTTON | SHIDIF_SIZEDLG | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN;
  SHInitDialog(&init);

  SHMENUBARINFO mb{};
  mb.cbSize = sizeof mb;
  mb.hwndParent = dialog;
  mb.nToolBarId = menuBarId;
  mb.hInstRes = resources;
  if (!SHCreateMenuBar(&mb)) return nullptr;
  SendMessage(mb.hwndMB, SHCMBM_OVERRIDEKEY, VK_TBACK,
              MAKELPARAM(SHMBOF_NODEFAULT | SHMBOF_NOTIFY, SHMBOF_NODEFAULT | SHMBOF_NOTIFY));
  return mb.hwndMB;
}

}  // namespace fwk

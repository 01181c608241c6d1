// SystemParametersInfo: the work area is what the shell's bars leave free.
#include <cstring>
#include <string>

#include "platform/device.h"
#include "platform/phoneshell.h"

BOOL SystemParametersInfo(UINT action, UINT param, void* pv, UINT) {
  if (action == SPI_GETWORKAREA) {
    if (!pv) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    *static_cast<RECT*>(pv) = platform::shellWorkArea();
    return TRUE;
  }
  std::u16string text;
  if (action == SPI_GETPLATFORMTYPE)
    text = platform::deviceInfo().platformType;
  else if (action == SPI_GETOEMINFO)
    text = u"Olvaro Linux device";
  else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!pv) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if ((text.size() + 1) * sizeof(char16_t) > param) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(pv, text.c_str(), (text.size() + 1) * sizeof(char16_t));
  return TRUE;
}

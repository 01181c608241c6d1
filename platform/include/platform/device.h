// The device the program runs on, described by the environment:
//
//   OLVARO_PLATFORM   "PocketPC" (touch screen, the default) or "SmartPhone"
//   OLVARO_SCREEN     screen size in pixels, "240x320" by default
//   OLVARO_DPI        logical pixels per inch, 131 by default
//   OLVARO_OPERATOR   mobile operator's name; unset means none is known
//   OLVARO_LANGID     UI language id in hex ("0409"); else taken from LANG
//
// The operator's name appears as HKEY_LOCAL_MACHINE\System\State\Phone,
// value "Current Operator Name", as on the phone.
#pragma once

#include <string>

#include "platform/handles.h"

typedef WORD LANGID;

#define SPI_GETWORKAREA 48
#define SPI_GETPLATFORMTYPE 257
#define SPI_GETOEMINFO 258

// SPI_GETPLATFORMTYPE and SPI_GETOEMINFO: copies the text as UTF-16 with
// its NUL into `pv`, whose size in bytes is `param`; too small a buffer
// fails with ERROR_INSUFFICIENT_BUFFER. SPI_GETWORKAREA writes the RECT of
// the screen between the title bar and the soft-key bar.
BOOL SystemParametersInfo(UINT action, UINT param, void* pv, UINT winIni);
LANGID GetUserDefaultUILanguage();

namespace platform {

struct DeviceInfo {
  std::u16string platformType;  // "PocketPC" or "SmartPhone"
  int screenWidth = 240;
  int screenHeight = 320;
  int dpi = 131;
  std::u16string operatorName;  // empty when unknown
};

// Read from the environment at each call.
DeviceInfo deviceInfo();

}  // namespace platform

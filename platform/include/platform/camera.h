// The shell's camera dialog. The device has no real camera: the dialog shows
// the pictures of the user's pictures folder full screen, Left and Right
// choose one, "Capture" saves it as a JPEG of the asked size and quality,
// "Cancel" (or Back) gives up.
//
// Found by name in "aygshell.dll" like the other shell functions; with
// OLVARO_NO_CAMERA set (to anything but "0") the device has no camera and
// the name is not found.
#pragma once

#include <string>

#include "platform/module.h"
#include "platform/types.h"
#include "platform/window.h"

enum CAMERACAPTURE_STILLQUALITY {
  CAMERACAPTURE_STILLQUALITY_DEFAULT = 0,
  CAMERACAPTURE_STILLQUALITY_LOW = 1,
  CAMERACAPTURE_STILLQUALITY_NORMAL = 2,
  CAMERACAPTURE_STILLQUALITY_HIGH = 3,
};

enum CAMERACAPTURE_VIDEOTYPES {
  CAMERACAPTURE_VIDEOTYPE_ALL = 0xFFFF,
  CAMERACAPTURE_VIDEOTYPE_STANDARD = 1,
  CAMERACAPTURE_VIDEOTYPE_MESSAGING = 2,
};

enum CAMERACAPTURE_MODE {
  CAMERACAPTURE_MODE_STILL = 0,
  CAMERACAPTURE_MODE_VIDEOONLY = 1,
  CAMERACAPTURE_MODE_VIDEOWITHAUDIO = 2,
};

struct SHCAMERACAPTURE {
  DWORD cbSize;
  HWND hwndOwner;
  WCHAR szFile[MAX_PATH];       // out: the full path of the picture saved
  LPCWSTR pszInitialDir;        // the folder to save in; NULL: the pictures folder
  LPCWSTR pszDefaultFileName;   // NULL: "image.jpg"
  LPCWSTR pszTitle;
  CAMERACAPTURE_STILLQUALITY StillQuality;
  CAMERACAPTURE_VIDEOTYPES VideoTypes;
  DWORD nResolutionWidth;       // 0 and 0: the picture's own size
  DWORD nResolutionHeight;
  DWORD nVideoTimeLimit;
  CAMERACAPTURE_MODE Mode;
};
typedef SHCAMERACAPTURE* PSHCAMERACAPTURE;

// S_OK when a picture was saved, S_FALSE when the user cancelled,
// E_INVALIDARG for a bad record (size, mode, folder or file name),
// E_OUTOFMEMORY when the picture could not be made, E_FAIL when it could not
// be written or there is no picture to take.
HRESULT SHCameraCapture(PSHCAMERACAPTURE request);

namespace platform {

// The picture the dialog shows now, for tests; empty when none is shown.
std::u16string cameraShownPicture();

}  // namespace platform

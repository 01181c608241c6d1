// System metrics, colours and cursors: what windows and controls are drawn
// with, sized by the screen's DPI.
#include <algorithm>

#include "geometry.h"
#include "platform/handles.h"
#include "platform/screen.h"
#include "platform/window.h"

namespace platform::gdi {

int scaledMetric(int base) { return std::max(1, (base * screenDpi() + 48) / 96); }

int scrollBarWidth() { return scaledMetric(13); }

}  // namespace platform::gdi

using namespace platform;
using namespace platform::gdi;

int GetSystemMetrics(int index) {
  int dpi = screenDpi();
  int icon = dpi >= 192 ? 64 : 32;
  switch (index) {
    case SM_CXSCREEN:
    case SM_CXFULLSCREEN:
      return screenWidth();
    case SM_CYSCREEN:
    case SM_CYFULLSCREEN:
      return screenHeight();
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
    case SM_CYVSCROLL:
    case SM_CXHSCROLL:
    case SM_CYVTHUMB:
    case SM_CXHTHUMB:
      return scrollBarWidth();
    case SM_CYCAPTION:
    case SM_CYMENU:
      return scaledMetric(20);
    case SM_CXBORDER:
    case SM_CYBORDER:
      return 1;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME:
    case SM_CXEDGE:
    case SM_CYEDGE:
      return 2;
    case SM_CXICON:
    case SM_CYICON:
    case SM_CXCURSOR:
    case SM_CYCURSOR:
      return icon;
    case SM_CXSMICON:
    case SM_CYSMICON:
      return icon / 2;
    case SM_CXDOUBLECLK:
    case SM_CYDOUBLECLK:
      return scaledMetric(4);
  }
  return 0;
}

HCURSOR LoadCursor(HINSTANCE instance, LPCWSTR name) {
  // One distinct, never-freed handle per system cursor.
  static char cursors[4];
  uintptr_t id = reinterpret_cast<uintptr_t>(name);
  if (instance || !IS_INTRESOURCE(name) || id < 32512 || id > 32515) {
    SetLastError(ERROR_RESOURCE_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HCURSOR>(&cursors[id - 32512]);
}

DWORD GetSysColor(int index) {
  switch (index) {
    case COLOR_SCROLLBAR:
      return RGB(224, 224, 224);
    case COLOR_BACKGROUND:
    case COLOR_APPWORKSPACE:
      return RGB(0, 0, 0);
    case COLOR_ACTIVECAPTION:
    case COLOR_HIGHLIGHT:
      return RGB(0, 72, 160);
    case COLOR_INACTIVECAPTION:
      return RGB(128, 128, 128);
    case COLOR_MENU:
    case COLOR_WINDOW:
    case COLOR_INFOBK:
      return RGB(255, 255, 255);
    case COLOR_WINDOWFRAME:
    case COLOR_MENUTEXT:
    case COLOR_WINDOWTEXT:
    case COLOR_BTNTEXT:
    case COLOR_INFOTEXT:
    case COLOR_STATICTEXT:
      return RGB(0, 0, 0);
    case COLOR_CAPTIONTEXT:
    case COLOR_HIGHLIGHTTEXT:
    case COLOR_BTNHIGHLIGHT:
      return RGB(255, 255, 255);
    case COLOR_INACTIVECAPTIONTEXT:
      return RGB(224, 224, 224);
    case COLOR_ACTIVEBORDER:
    case COLOR_INACTIVEBORDER:
    case COLOR_BTNFACE:
    case COLOR_STATIC:
      return RGB(212, 208, 200);
    case COLOR_BTNSHADOW:
    case COLOR_GRAYTEXT:
      return RGB(128, 128, 128);
    case COLOR_3DDKSHADOW:
      return RGB(64, 64, 64);
    case COLOR_3DLIGHT:
      return RGB(232, 232, 232);
  }
  return 0;
}

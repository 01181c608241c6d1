#include "input_button.h"

#include <string>

#include "framework/fonts.h"
#include "framework/paint.h"
#include "platform/bitmap.h"
#include "platform/gdi.h"
#include "platform/resources.h"

namespace messaging {

void paintInputButton(HWND button, UINT textId, bool sunken, bool focused) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(button, &ps);
  RECT rc;
  GetClientRect(button, &rc);
  HBRUSH grey = CreateSolidBrush(RGB(192, 192, 192));
  FillRect(dc, &rc, grey);
  DeleteObject(grey);
  RECT edge = rc;
  InflateRect(&edge, -2, -2);
  DrawEdge(dc, &edge, sunken ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
  {
    fwk::SavedDC saved(dc);
    SelectObject(dc, fwk::boldFont());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    std::u16string text = platform::loadStringWide(platform::currentModule(), textId);
    DrawText(dc, text.c_str(), int(text.size()), &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  if (focused) {
    RECT focus = rc;
    InflateRect(&focus, -4, -4);
    DrawFocusRect(dc, &focus);
  }
  EndPaint(button, &ps);
}

}  // namespace messaging

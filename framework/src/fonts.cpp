#include "framework/fonts.h"

#include "platform/gdi.h"
#include "platform/window.h"

namespace fwk {

namespace {

constexpr WCHAR kFace[] = u"Tahoma";

}  // namespace

int screenDpi() {
  HDC dc = GetDC(nullptr);
  int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : 96;
}

HFONT createFont(LPCWSTR face, int decipoints, LONG weight) {
  LOGFONT lf{};
  lf.lfHeight = -(screenDpi() * decipoints / 720);  // character height, not cell height
  lf.lfWeight = weight;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfQuality = ANTIALIASED_QUALITY;
  for (size_t i = 0; face && face[i] && i + 1 < LF_FACESIZE; ++i) lf.lfFaceName[i] = face[i];
  return CreateFontIndirect(&lf);
}

HFONT smallFont() {
  static HFONT font = createFont(kFace, 85, FW_NORMAL);
  return font;
}

HFONT regularFont() {
  static HFONT font = createFont(kFace, 80, FW_NORMAL);
  return font;
}

HFONT boldFont() {
  static HFONT font = createFont(kFace, 80, FW_BOLD);
  return font;
}

}  // namespace fwk

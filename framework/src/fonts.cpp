#include "framework/fonts.h"

#include "platform/gdi.h"
#include "platform/window.h"

namespace fwk {

namespace {

HFONT makeFont(int pixels, LONG weight) {
  LOGFONT lf{};
  lf.lfHeight = -pixels;  // character height, not cell height
  lf.lfWeight = weight;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfQuality = ANTIALIASED_QUALITY;
  const char16_t face[] = u"Tahoma";
  for (size_t i = 0; i < sizeof face / sizeof face[0]; ++i) lf.lfFaceName[i] = face[i];
  return CreateFontIndirect(&lf);
}

}  // namespace

int screenDpi() {
  HDC dc = GetDC(nullptr);
  int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : 96;
}

HFONT smallFont() {
  static HFONT font = makeFont(screenDpi() * 17 / 144, FW_NORMAL);
  return font;
}

HFONT regularFont() {
  static HFONT font = makeFont(screenDpi() * 16 / 144, FW_NORMAL);
  return font;
}

HFONT boldFont() {
  static HFONT font = makeFont(screenDpi() * 16 / 144, FW_BOLD);
  return font;
}

}  // namespace fwk

#include "framework_fixture.h"

#include <vector>

namespace fwktest {

LRESULT Host::windowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NOTIFY) {
    auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
    UINT key = 0;
    // Key-down notifications carry the key after the header.
    if (hdr->code == UINT(0U - 550U)) key = *reinterpret_cast<const WORD*>(hdr + 1);
    notices.push_back(Notice{hdr->code, key});
    return 0;
  }
  return Control::windowProc(msg, wParam, lParam);
}

HICON solidIcon(int size, COLORREF color) {
  std::vector<uint32_t> pixels(size_t(size) * size_t(size),
                               uint32_t(GetBValue(color)) | uint32_t(GetGValue(color)) << 8 |
                                   uint32_t(GetRValue(color)) << 16);
  HBITMAP colour = CreateBitmap(size, size, 1, 32, pixels.data());
  std::vector<uint8_t> mask(size_t((size + 15) / 16 * 2) * size_t(size), 0);  // all opaque
  HBITMAP maskBits = CreateBitmap(size, size, 1, 1, mask.data());
  ICONINFO info{TRUE, 0, 0, maskBits, colour};
  HICON icon = CreateIconIndirect(&info);
  DeleteObject(colour);
  DeleteObject(maskBits);
  return icon;
}

}  // namespace fwktest

// Contact icons from the host program's icon groups: the device's icon,
// drawn grey when the contact is offline or unknown, with the away or busy
// overlay on top.
#include <cstring>
#include <vector>

#include "olvaro/api.h"
#include "platform/bitmap.h"

namespace {

bool isGrey(int32_t onlineStatus) { return onlineStatus == 0 || onlineStatus == 100; }

ContactData contactData(HContact* contact) {
  ContactData d{};
  d.size = sizeof d;
  if (contact) KS_GetContactData(contact, &d);
  return d;
}

uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// The composition being drawn: 0x00RRGGBB colours and a mask where 1 is
// see-through, both top-down.
struct Composition {
  int size;
  std::vector<uint32_t> color;
  std::vector<uint8_t> mask;
};

// Draws one icon group's image of the composition's size (4 or 8 bits per
// pixel; the deeper one wins, the first on a tie). A missing group or image
// draws nothing.
void drawIcon(Composition& c, const IconPair& pair, bool isBase, bool grey) {
  if (!pair.module || !pair.resource) return;
  HRSRC groupRes = FindResource(pair.module, pair.resource, RT_GROUP_ICON);
  if (!groupRes) return;
  auto* dir = static_cast<const GRPICONDIR*>(LockResource(LoadResource(pair.module, groupRes)));
  size_t dirBytes = SizeofResource(pair.module, groupRes);
  if (!dir || dirBytes < 6 || 6 + size_t(dir->idCount) * sizeof(GRPICONDIRENTRY) > dirBytes) return;
  const GRPICONDIRENTRY* pick = nullptr;
  for (int i = 0; i < dir->idCount; ++i) {
    const GRPICONDIRENTRY& e = dir->idEntries[i];
    if ((e.bWidth != c.size && e.bHeight != c.size) || (e.wBitCount != 4 && e.wBitCount != 8)) continue;
    if (!pick || e.wBitCount > pick->wBitCount) pick = &e;
  }
  if (!pick) return;
  HRSRC imageRes = FindResource(pair.module, MAKEINTRESOURCE(pick->nID), RT_ICON);
  if (!imageRes) return;
  auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(pair.module, imageRes)));
  size_t bytes = SizeofResource(pair.module, imageRes);
  if (!data || bytes < 40) return;

  // The image: header, colour table, colour bits, mask; bottom-up rows
  // padded to 32 bits. Everything is checked against the resource's size.
  uint32_t headerSize = le32(data);
  int32_t width = static_cast<int32_t>(le32(data + 4));
  int32_t height = static_cast<int32_t>(le32(data + 8)) / 2;
  int bits = data[14] | (data[15] << 8);
  uint32_t used = le32(data + 32);
  if (bits != pick->wBitCount || headerSize < 40 || headerSize > bytes || width <= 0 || height <= 0 || width > 256 ||
      height > 256)
    return;
  size_t colors = used ? used : (1u << bits);
  if (colors > (1u << bits)) return;
  size_t stride = ((size_t(width) * bits + 31) / 32) * 4, maskStride = ((size_t(width) + 31) / 32) * 4;
  size_t paletteAt = headerSize, bitsAt = paletteAt + colors * 4, maskAt = bitsAt + stride * size_t(height);
  if (maskAt > bytes || maskStride * size_t(height) > bytes - maskAt) return;

  int w = width < c.size ? width : c.size, h = height < c.size ? height : c.size;
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = data + bitsAt + stride * size_t(height - 1 - y);
    const uint8_t* mrow = data + maskAt + maskStride * size_t(height - 1 - y);
    for (int x = 0; x < w; ++x) {
      bool seeThrough = (mrow[x / 8] >> (7 - x % 8)) & 1;
      size_t at = size_t(y) * c.size + x;
      if (isBase)
        c.mask[at] = seeThrough ? 1 : 0;
      else if (seeThrough)
        continue;
      unsigned index = bits == 8 ? row[x] : (x & 1) ? (row[x / 2] & 0x0F) : (row[x / 2] >> 4);
      uint32_t rgb = 0;  // an index past a short colour table reads as black
      if (index < colors) {
        const uint8_t* q = data + paletteAt + size_t(index) * 4;  // blue, green, red
        if (grey) {
          uint32_t level = (q[0] + 2u * q[1] + q[2]) / 4;
          rgb = (level << 16) | (level << 8) | level;
        } else {
          rgb = (uint32_t(q[2]) << 16) | (uint32_t(q[1]) << 8) | q[0];
        }
      }
      c.color[at] = rgb;
      if (!isBase) c.mask[at] = 0;
    }
  }
}

}  // namespace

KS_API IconPair* KS_GetContactIconResource(IconPair* out, HContact* contact) {
  if (!out) return out;
  ContactData d = contactData(contact);
  if (d.service) {
    ServiceData s{};
    s.size = sizeof s;
    KS_GetServiceData(d.service, &s);
    if (s.iconModule && s.iconResource) {
      out->module = s.iconModule;
      out->resource = s.iconResource;
      return out;
    }
  }
  out->module = GetModuleHandle(nullptr);
  switch (d.deviceType) {
    case 1: out->resource = u"CONTACT_BOT"; break;
    case 2: out->resource = u"CONTACT_PC"; break;
    case 3: out->resource = u"CONTACT_MOBILE"; break;
    default: out->resource = u"CONTACT_ONLINE"; break;
  }
  if (isGrey(d.onlineStatus)) out->resource = u"CONTACT_ONLINE";
  return out;
}

KS_API IconPair* KS_GetStateOverlayIconResource(IconPair* out, int32_t onlineStatus) {
  if (!out) return out;
  out->module = nullptr;
  out->resource = nullptr;
  if (onlineStatus == 2 || onlineStatus == 5) {
    out->module = GetModuleHandle(nullptr);
    out->resource = onlineStatus == 2 ? u"OVERLAY_AWAY" : u"OVERLAY_BUSY";
  }
  return out;
}

KS_API HICON KS_GetContactIcon(HContact* contact, int size) {
  if (size <= 0 || size > 256) return nullptr;
  ContactData d = contactData(contact);
  IconPair base{}, overlay{};
  KS_GetContactIconResource(&base, contact);
  KS_GetStateOverlayIconResource(&overlay, d.onlineStatus);
  bool grey = isGrey(d.onlineStatus);
  if (!overlay.module && !grey) return static_cast<HICON>(LoadImage(base.module, base.resource, IMAGE_ICON, size, size, 0));

  // Starts see-through, so a missing base image leaves nothing behind
  // rather than a black square.
  Composition c{size, std::vector<uint32_t>(size_t(size) * size, 0), std::vector<uint8_t>(size_t(size) * size, 1)};
  drawIcon(c, base, true, grey);
  drawIcon(c, overlay, false, false);

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = size;
  info.bmiHeader.biHeight = -size;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* pixels = nullptr;
  HBITMAP color = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  // Monochrome rows padded to 16 bits; a set bit is white, see-through.
  size_t maskStride = ((size_t(size) + 15) / 16) * 2;
  std::vector<uint8_t> maskBits(maskStride * size_t(size), 0);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x)
      if (c.mask[size_t(y) * size + x]) maskBits[maskStride * y + x / 8] |= uint8_t(0x80 >> (x % 8));
  HBITMAP mask = CreateBitmap(size, size, 1, 1, maskBits.data());
  HICON icon = nullptr;
  if (color && mask && pixels) {
    auto* px = static_cast<uint8_t*>(pixels);
    for (size_t i = 0; i < c.color.size(); ++i) {
      px[i * 4] = uint8_t(c.color[i]);
      px[i * 4 + 1] = uint8_t(c.color[i] >> 8);
      px[i * 4 + 2] = uint8_t(c.color[i] >> 16);
      px[i * 4 + 3] = 0;
    }
    ICONINFO ii{TRUE, 0, 0, mask, color};
    icon = CreateIconIndirect(&ii);
  }
  if (color) DeleteObject(color);
  if (mask) DeleteObject(mask);
  return icon;
}

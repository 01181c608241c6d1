// Contact icons and device queries. The test program carries its own icon
// groups under the host's names, drawn so every pixel's expected value is
// known: palettes of distinct colours, masks with see-through spots.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "hubtest/hub_test.h"
#include "hubtest/records.h"
#include "platform/bitmap.h"
#include "platform/resources.h"
#include "../../platform/src/gdi/gdi_object.h"

namespace {

uint32_t paletteColor(int bits, unsigned i) {
  // Distinct colours whose channels differ, so a grey level shows the weights.
  return bits == 4 ? (((i * 16) & 0xFF) << 16) | (((255 - i * 8) & 0xFF) << 8) | ((i * 5 + 7) & 0xFF)
                   : (((i * 7) & 0xFF) << 16) | (((i * 3 + 100) & 0xFF) << 8) | ((255 - i) & 0xFF);
}

using IndexFn = std::function<unsigned(int, int)>;
using ClearFn = std::function<bool(int, int)>;

// One icon image as a DIB: header, palette, bottom-up colour bits, mask.
std::vector<uint8_t> dib(int size, int bits, const IndexFn& index, const ClearFn& clear) {
  std::vector<uint8_t> o(40, 0);
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&o[at], &v, 4); };
  put32(0, 40);
  put32(4, uint32_t(size));
  put32(8, uint32_t(size * 2));
  o[12] = 1;
  o[14] = uint8_t(bits);
  for (unsigned i = 0; i < (1u << bits); ++i) {
    uint32_t c = paletteColor(bits, i);
    o.insert(o.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), 0});
  }
  size_t stride = ((size_t(size) * bits + 31) / 32) * 4, mstride = ((size_t(size) + 31) / 32) * 4;
  for (int y = size - 1; y >= 0; --y) {
    std::vector<uint8_t> row(stride, 0);
    for (int x = 0; x < size; ++x) {
      unsigned i = index(x, y);
      if (bits == 8)
        row[x] = uint8_t(i);
      else
        row[x / 2] |= uint8_t((x & 1) ? i : i << 4);
    }
    o.insert(o.end(), row.begin(), row.end());
  }
  for (int y = size - 1; y >= 0; --y) {
    std::vector<uint8_t> row(mstride, 0);
    for (int x = 0; x < size; ++x)
      if (clear(x, y)) row[x / 8] |= uint8_t(0x80 >> (x % 8));
    o.insert(o.end(), row.begin(), row.end());
  }
  return o;
}

struct Image {
  int size;
  int bits;
  IndexFn index;
  ClearFn clear;
  bool declaredDepthOnly = false;  // a 24-bit entry the hub must pass over
};

struct Table {
  std::vector<std::vector<uint8_t>> blobs;
  std::vector<std::u16string> names;
  std::vector<platform::ResourceEntry> entries;
};

Table& tableStore() {
  static Table t;
  return t;
}

// The test's icon groups under the host's names (CONTACT_MOBILE is left
// out on purpose).
const IndexFn kDiagonal = [](int x, int y) { return unsigned(x + 2 * y) % 16; };
const IndexFn kWide = [](int x, int y) { return unsigned(x * 13 + y * 7) % 256; };
const ClearFn kNone = [](int, int) { return false; };
const ClearFn kCorner = [](int x, int y) { return x == 0 && y == 0; };
const ClearFn kDiagonalClear = [](int x, int y) { return x == y; };
// Overlays: opaque only in the lower right quarter.
const ClearFn kOutsideQuarter = [](int x, int y) { return x < 8 || y < 8; };

std::vector<std::pair<std::u16string, std::vector<Image>>> groups() {
  return {
      {u"CONTACT_ONLINE",
       {{16, 4, kDiagonal, kDiagonalClear}, {16, 8, kWide, kDiagonalClear}, {32, 4, kDiagonal, kNone}}},
      {u"CONTACT_PC", {{16, 4, [](int, int) { return 3u; }, kCorner}}},
      {u"CONTACT_BOT", {{16, 4, kDiagonal, kNone}, {16, 24, kDiagonal, kNone, true}}},
      {u"OVERLAY_AWAY", {{16, 4, [](int, int) { return 9u; }, kOutsideQuarter}}},
      {u"OVERLAY_BUSY", {{16, 8, [](int, int) { return 200u; }, kOutsideQuarter}}},
  };
}

platform::ResourceTable g_table = [] {
  Table& t = tableStore();
  unsigned nextId = 1;
  auto all = groups();
  t.names.reserve(all.size());
  t.blobs.reserve(64);
  for (auto& [name, images] : all) {
    std::vector<uint8_t> dir = {0, 0, 1, 0, uint8_t(images.size()), 0};
    for (auto& img : images) {
      // A 24-bit entry is listed with its depth; its bits are a 4-bit
      // image's, so using it by mistake would show.
      t.blobs.push_back(dib(img.size, img.declaredDepthOnly ? 4 : img.bits, img.index, img.clear));
      uint32_t bytes = uint32_t(t.blobs.back().size());
      unsigned id = nextId++;
      dir.insert(dir.end(), {uint8_t(img.size), uint8_t(img.size), 0, 0, 1, 0, uint8_t(img.bits), 0,
                             uint8_t(bytes), uint8_t(bytes >> 8), uint8_t(bytes >> 16), 0, uint8_t(id), 0});
      t.entries.push_back({3, nullptr, id, nullptr, t.blobs.back().data(), bytes});
    }
    t.blobs.push_back(dir);
    t.names.push_back(name);
    t.entries.push_back({14, nullptr, 0, t.names.back().c_str(), t.blobs.back().data(), unsigned(dir.size())});
  }
  return platform::ResourceTable{t.entries.data(), unsigned(t.entries.size())};
}();
const platform::ResourceRegistration g_registration(&g_table);

uint32_t greyOf(uint32_t rgb) {
  uint32_t level = ((rgb & 0xFF) + 2 * ((rgb >> 8) & 0xFF) + ((rgb >> 16) & 0xFF)) / 4;
  return level * 0x010101u;
}

HContact* contact(int32_t deviceType, int32_t onlineStatus, HService* service = nullptr) {
  hubtest::ContactRecord r;
  r.id(77).onlineStatus(onlineStatus).deviceType(deviceType);
  if (service) r.service(service);
  return r.create();
}

std::u16string resourceName(HContact* c) {
  IconPair p{};
  KS_GetContactIconResource(&p, c);
  EXPECT_EQ(p.module, GetModuleHandle(nullptr));
  return p.resource ? std::u16string(p.resource) : u"";
}

class ContactIconsTest : public hubtest::HubTest {
 protected:
  void TearDown() override {
    unsetenv("OLVARO_PLATFORM");
    unsetenv("OLVARO_OPERATOR");
    HubTest::TearDown();
  }
};

}  // namespace

TEST_F(ContactIconsTest, ResourceFollowsDeviceAndPresence) {
  struct Case {
    int32_t device, status;
    const char16_t* name;
  } cases[] = {{1, 1, u"CONTACT_BOT"},    {2, 1, u"CONTACT_PC"},     {3, 1, u"CONTACT_MOBILE"},
               {0, 1, u"CONTACT_ONLINE"}, {9, 2, u"CONTACT_ONLINE"}, {3, 0, u"CONTACT_ONLINE"},
               {1, 100, u"CONTACT_ONLINE"}, {2, 5, u"CONTACT_PC"}};
  for (const auto& k : cases) {
    HContact* c = contact(k.device, k.status);
    EXPECT_EQ(resourceName(c), k.name) << k.device << "/" << k.status;
    KS_ReleaseContact(c);
  }
  IconPair p{};
  EXPECT_EQ(KS_GetStateOverlayIconResource(&p, 2), &p);
  EXPECT_EQ(std::u16string(p.resource), u"OVERLAY_AWAY");
  KS_GetStateOverlayIconResource(&p, 5);
  EXPECT_EQ(std::u16string(p.resource), u"OVERLAY_BUSY");
  for (int32_t status : {0, 1, 3, 4, 100}) {
    KS_GetStateOverlayIconResource(&p, status);
    EXPECT_EQ(p.module, nullptr);
    EXPECT_EQ(p.resource, nullptr);
  }
}

TEST_F(ContactIconsTest, BridgedServiceShowsItsOwnIconOnlyWhenWhole) {
  static const char16_t kBridgeIcon[] = u"BRIDGE";
  HMODULE elsewhere = reinterpret_cast<HMODULE>(uintptr_t{0x1234});
  ServiceData s{};
  s.size = sizeof s;
  s.mask = SERVICE_ICON;
  s.iconModule = elsewhere;
  s.iconResource = kBridgeIcon;
  HService* service = KS_CreateService(&s);
  HContact* c = contact(2, 0, service);
  IconPair p{};
  KS_GetContactIconResource(&p, c);
  EXPECT_EQ(p.module, elsewhere);
  EXPECT_EQ(p.resource, kBridgeIcon);
  // Half a pair is no icon of the service's own.
  s.iconResource = nullptr;
  KS_SetServiceData(service, &s);
  EXPECT_EQ(resourceName(c), u"CONTACT_ONLINE");
  KS_ReleaseContact(c);
  KS_ReleaseService(service);
}

TEST_F(ContactIconsTest, OfflineContactIsGreyWithTheBaseMask) {
  HContact* c = contact(3, 0);  // mobile, offline: CONTACT_ONLINE drawn grey
  HICON icon = KS_GetContactIcon(c, 16);
  ASSERT_NE(icon, nullptr);
  platform::IconObject* i = platform::asIcon(icon);
  ASSERT_NE(i, nullptr);
  ASSERT_EQ(i->width, 16);
  // The 8-bit image wins over the 4-bit one of the same size.
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      size_t at = size_t(y) * 16 + x;
      EXPECT_EQ(i->color[at], greyOf(paletteColor(8, kWide(x, y)))) << x << "," << y;
      EXPECT_EQ(i->mask[at], x == y ? 1 : 0) << x << "," << y;
    }
  DestroyIcon(icon);
  // At 32 only a 4-bit image exists; its nibbles are read high first.
  icon = KS_GetContactIcon(c, 32);
  i = platform::asIcon(icon);
  ASSERT_NE(i, nullptr);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(i->color[5 * 32 + x], greyOf(paletteColor(4, kDiagonal(x, 5))));
  EXPECT_EQ(i->mask[0], 0);
  DestroyIcon(icon);
  KS_ReleaseContact(c);
}

TEST_F(ContactIconsTest, OverlayCoversOnlyWhereItIsOpaque) {
  HContact* c = contact(2, 2);  // PC, away
  HICON icon = KS_GetContactIcon(c, 16);
  platform::IconObject* i = platform::asIcon(icon);
  ASSERT_NE(i, nullptr);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      size_t at = size_t(y) * 16 + x;
      bool overlay = x >= 8 && y >= 8;
      EXPECT_EQ(i->color[at], overlay ? paletteColor(4, 9) : paletteColor(4, 3)) << x << "," << y;
      // The base's see-through corner stays; the overlay's pixels are opaque.
      EXPECT_EQ(i->mask[at], (x == 0 && y == 0) ? 1 : 0) << x << "," << y;
    }
  DestroyIcon(icon);
  KS_ReleaseContact(c);
}

TEST_F(ContactIconsTest, OnlineContactWithoutOverlayIsThePlainIcon) {
  HContact* c = contact(1, 4);  // bot, invisible: no overlay, not grey
  HICON icon = KS_GetContactIcon(c, 16);
  platform::IconObject* i = platform::asIcon(icon);
  ASSERT_NE(i, nullptr);
  // The listed 24-bit entry is passed over by the composition rules, but a
  // plain load picks by size and depth; both entries carry the same image.
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) EXPECT_EQ(i->color[size_t(y) * 16 + x], paletteColor(4, kDiagonal(x, y)));
  DestroyIcon(icon);
  KS_ReleaseContact(c);
}

TEST_F(ContactIconsTest, MissingImagesContributeNothing) {
  // No CONTACT_MOBILE group: only the busy overlay shows, the rest is clear.
  HContact* c = contact(3, 5);
  HICON icon = KS_GetContactIcon(c, 16);
  platform::IconObject* i = platform::asIcon(icon);
  ASSERT_NE(i, nullptr);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      bool overlay = x >= 8 && y >= 8;
      EXPECT_EQ(i->mask[size_t(y) * 16 + x], overlay ? 0 : 1);
      if (overlay) {
        EXPECT_EQ(i->color[size_t(y) * 16 + x], paletteColor(8, 200));
      }
    }
  DestroyIcon(icon);
  // No image of the size at all: still an icon, wholly see-through.
  HContact* offline = contact(1, 0);
  icon = KS_GetContactIcon(offline, 20);
  i = platform::asIcon(icon);
  ASSERT_NE(i, nullptr);
  EXPECT_EQ(i->width, 20);
  for (uint8_t m : i->mask) EXPECT_EQ(m, 1);
  DestroyIcon(icon);
  EXPECT_EQ(KS_GetContactIcon(offline, 0), nullptr);
  EXPECT_EQ(KS_GetContactIcon(offline, 100000), nullptr);
  KS_ReleaseContact(offline);
  KS_ReleaseContact(c);
}

TEST_F(ContactIconsTest, PlatformNameComesFromTheDevice) {
  EXPECT_EQ(KS_GetPlatformName(nullptr), 8);  // "PocketPC", length only
  setenv("OLVARO_PLATFORM", "SmartPhone", 1);
  char name[32];
  memset(name, 'x', sizeof name);
  EXPECT_EQ(KS_GetPlatformName(name), 10);
  EXPECT_STREQ(name, "SmartPhone");
}

TEST_F(ContactIconsTest, OperatorNameOrUnknown) {
  char buf[64];
  EXPECT_EQ(KS_GetOperatorName(buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "Unknown");
  setenv("OLVARO_OPERATOR", "Caf\xC3\xA9 Telecom", 1);
  platform::registryReset();
  EXPECT_EQ(KS_GetOperatorName(buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "Caf\xC3\xA9 Telecom");
  // A short buffer is never overrun and no character is split.
  char small[6] = {1, 1, 1, 1, 1, 1};
  EXPECT_EQ(KS_GetOperatorName(small, 5), 1);
  EXPECT_STREQ(small, "Caf");
  EXPECT_EQ(small[5], 1);
  char tiny[4] = {1, 1, 1, 1};
  setenv("OLVARO_OPERATOR", "", 1);
  platform::registryReset();
  EXPECT_EQ(KS_GetOperatorName(tiny, 3), 0);
  EXPECT_STREQ(tiny, "Un");
  EXPECT_EQ(tiny[3], 1);
  // Longer than the 64-byte read: unknown, as on the phone.
  setenv("OLVARO_OPERATOR", "An operator with a name far longer than thirty-two characters", 1);
  platform::registryReset();
  EXPECT_EQ(KS_GetOperatorName(buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "Unknown");
}

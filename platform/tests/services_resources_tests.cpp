#include <cstring>

#include "gdi_object.h"
#include "ico_format.h"
#include "platform/bitmap.h"
#include "platform/resources.h"
#include "services_fixture.h"

namespace {

std::u16string loadString(HMODULE m, UINT id, int size = 256) {
  std::u16string buf(static_cast<size_t>(size), u'\0');
  int n = LoadString(m, id, buf.data(), size);
  buf.resize(static_cast<size_t>(n));
  return buf;
}

}  // namespace

TEST(ServicesResources, StringTablesOfTheMainProgram) {
  HMODULE self = GetModuleHandle(nullptr);
  EXPECT_EQ(loadString(self, 102), u"Exit Olvaro?");
  EXPECT_EQ(loadString(self, 103), u"Line one\nLine \"two\"");
  EXPECT_EQ(loadString(self, 104), u"Caf\u00e9 \u2014 \u00fcn\u00efcode");
  EXPECT_EQ(loadString(self, 105), u"\u20ac and \U0001F600");
  // A short buffer gets the text cut and terminated, never overrun.
  WCHAR small[5] = {1, 1, 1, 1, 1};
  EXPECT_EQ(LoadString(self, 102, small, 4), 3);
  EXPECT_EQ(std::u16string(small, 3), u"Exi");
  EXPECT_EQ(small[3], 0);
  EXPECT_EQ(small[4], 1);
  // Size 0 hands out the read-only text itself.
  const WCHAR* direct = nullptr;
  EXPECT_EQ(LoadString(self, 102, reinterpret_cast<LPWSTR>(&direct), 0), 12);
  EXPECT_EQ(std::u16string(direct, 12), u"Exit Olvaro?");
  WCHAR none[4] = {1, 1, 1, 1};
  EXPECT_EQ(LoadString(self, 999, none, 4), 0);
  EXPECT_EQ(none[0], 0);
}

TEST(ServicesResources, EachModuleHasItsOwnTable) {
  HMODULE mod = LoadLibrary(platform::widen(SERVICES_TESTMOD).c_str());
  ASSERT_NE(mod, nullptr);
  EXPECT_EQ(loadString(mod, 200), u"From the test module");
  EXPECT_EQ(loadString(mod, 102), u"");  // the program's string is not the module's
  EXPECT_EQ(loadString(GetModuleHandle(nullptr), 200), u"");
  EXPECT_NE(FindResource(mod, u"contact_pc", RT_GROUP_ICON), nullptr);
  EXPECT_EQ(FindResource(mod, u"CONTACT_BOT", RT_GROUP_ICON), nullptr);
  // Shared icons and sounds can be compiled in under an id.
  EXPECT_NE(FindResource(mod, MAKEINTRESOURCE(101), RT_GROUP_ICON), nullptr);
  EXPECT_NE(FindResource(mod, u"#101", RT_GROUP_ICON), nullptr);
  EXPECT_EQ(FindResource(mod, u"PHOTO", RT_GROUP_ICON), nullptr);
  HRSRC beep = FindResource(mod, MAKEINTRESOURCE(105), RT_WAVE);
  ASSERT_NE(beep, nullptr);
  EXPECT_EQ(SizeofResource(mod, beep), 44u + 2400u);
  // A handle of one module is not a resource of another.
  HRSRC res = FindResource(mod, u"CONTACT_PC", RT_GROUP_ICON);
  EXPECT_EQ(LoadResource(GetModuleHandle(nullptr), res), nullptr);
  FreeLibrary(mod);
}

TEST(ServicesResources, WholeStringsOfTheCallingModule) {
  HMODULE self = GetModuleHandle(nullptr);
  EXPECT_EQ(platform::currentModule(), self);
  EXPECT_EQ(platform::loadStringWide(self, 103), u"Line one\nLine \"two\"");
  EXPECT_EQ(platform::loadStringUtf8(self, 105), "\u20ac and \U0001F600");
  EXPECT_EQ(platform::loadStringUtf8(self, 999), "");
  EXPECT_EQ(platform::loadStringUtf8(nullptr, 102), "Exit Olvaro?");  // NULL: the program
  HMODULE mod = LoadLibrary(platform::widen(SERVICES_TESTMOD).c_str());
  ASSERT_NE(mod, nullptr);
  auto own = reinterpret_cast<const char* (*)()>(GetProcAddress(mod, "services_own_string"));
  ASSERT_NE(own, nullptr);
  EXPECT_STREQ(own(), "From the test module");  // a plug-in finds its own table, not the program's
  FreeLibrary(mod);
}

TEST(ServicesResources, MenuBarsAndWaveData) {
  std::vector<platform::MenuBarItem> keys;
  ASSERT_TRUE(platform::loadMenuBar(GetModuleHandle(nullptr), 102, &keys));
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].text, u"Hide");
  EXPECT_EQ(keys[0].id, 1u);
  EXPECT_EQ(keys[1].text, u"Menu");
  EXPECT_EQ(keys[1].id, 103u);
  ASSERT_EQ(keys[1].children.size(), 5u);
  EXPECT_EQ(keys[1].children[1].text, u"Settings");
  ASSERT_EQ(keys[1].children[1].children.size(), 1u);
  EXPECT_EQ(keys[1].children[1].children[0].id, 40015u);
  EXPECT_TRUE(keys[1].children[2].flags & platform::MenuBarItem::Separator);
  EXPECT_TRUE(keys[1].children[3].flags & platform::MenuBarItem::Grayed);
  EXPECT_EQ(keys[1].children[4].id, 40005u);
  ASSERT_TRUE(platform::loadMenuBar(GetModuleHandle(nullptr), 103, &keys));
  EXPECT_EQ(keys.size(), 2u);
  EXPECT_FALSE(platform::loadMenuBar(GetModuleHandle(nullptr), 104, &keys));

  HMODULE self = GetModuleHandle(nullptr);
  HRSRC wave = FindResource(self, u"BEEP", RT_WAVE);
  ASSERT_NE(wave, nullptr);
  auto* bytes = static_cast<const char*>(LockResource(LoadResource(self, wave)));
  ASSERT_GE(SizeofResource(self, wave), 12u);
  EXPECT_EQ(std::string(bytes, 4), "RIFF");
  EXPECT_EQ(std::string(bytes + 8, 4), "WAVE");
}

TEST(ServicesResources, IconGroupsOfferEverySizeAndDepth) {
  HMODULE self = GetModuleHandle(nullptr);
  for (const char16_t* name : {u"CONTACT_BOT", u"CONTACT_PC", u"CONTACT_MOBILE", u"CONTACT_ONLINE", u"OVERLAY_AWAY",
                               u"OVERLAY_BUSY"}) {
    HRSRC res = FindResource(self, name, RT_GROUP_ICON);
    ASSERT_NE(res, nullptr) << platform::narrow(name);
    auto* dir = static_cast<const GRPICONDIR*>(LockResource(LoadResource(self, res)));
    ASSERT_EQ(dir->idCount, 6);
    int seen = 0;
    for (int i = 0; i < dir->idCount; ++i) {
      const GRPICONDIRENTRY& e = dir->idEntries[i];
      EXPECT_EQ(e.bWidth, e.bHeight);
      EXPECT_TRUE(e.wBitCount == 4 || e.wBitCount == 8);
      seen |= (e.bWidth == 16 ? 1 : e.bWidth == 22 ? 2 : e.bWidth == 32 ? 4 : 0) << (e.wBitCount == 8 ? 3 : 0);
      HRSRC image = FindResource(self, MAKEINTRESOURCE(e.nID), RT_ICON);
      ASSERT_NE(image, nullptr);
      DWORD bytesInRes = e.dwBytesInRes;  // a packed field: copy before comparing
      EXPECT_EQ(SizeofResource(self, image), bytesInRes);
      platform::DecodedIcon decoded;
      ASSERT_TRUE(platform::decodeIconImage(static_cast<const uint8_t*>(LockResource(LoadResource(self, image))),
                                            SizeofResource(self, image), &decoded));
      EXPECT_EQ(decoded.width, e.bWidth);
      EXPECT_EQ(decoded.bitCount, e.wBitCount);
    }
    EXPECT_EQ(seen, 63);
  }
}

TEST(ServicesResources, LoadedIconsShowTheirPictures) {
  HMODULE self = GetModuleHandle(nullptr);
  HICON pc = static_cast<HICON>(LoadImage(self, u"CONTACT_PC", IMAGE_ICON, 32, 32, 0));
  ASSERT_NE(pc, nullptr);
  platform::IconObject* icon = platform::asIcon(pc);
  ASSERT_NE(icon, nullptr);
  ASSERT_EQ(icon->width, 32);
  // The monitor's screen is blue and opaque; the corners are see-through.
  uint32_t screen = icon->color[14 * 32 + 16];
  EXPECT_EQ(icon->mask[14 * 32 + 16], 0);
  EXPECT_GT(screen & 0xFF, (screen >> 16) & 0xFF);
  EXPECT_EQ(icon->mask[0], 1);
  EXPECT_EQ(icon->mask[31 * 32 + 31], 1);
  // The away overlay leaves the upper half clear for the base icon.
  HICON away = static_cast<HICON>(LoadImage(self, u"OVERLAY_AWAY", IMAGE_ICON, 16, 16, 0));
  platform::IconObject* a = platform::asIcon(away);
  ASSERT_NE(a, nullptr);
  for (int i = 0; i < 16 * 6; ++i) EXPECT_EQ(a->mask[i], 1);
  // No exact size: the nearest image is scaled.
  HICON big = static_cast<HICON>(LoadImage(self, u"CONTACT_PC", IMAGE_ICON, 48, 48, 0));
  ASSERT_NE(platform::asIcon(big), nullptr);
  EXPECT_EQ(platform::asIcon(big)->width, 48);
  EXPECT_EQ(LoadIcon(self, u"NO_SUCH_ICON"), nullptr);
  for (HICON h : {pc, away, big}) EXPECT_TRUE(DestroyIcon(h));
  EXPECT_FALSE(DestroyIcon(pc));
}


TEST(ServicesBitmap, IconsRoundTripThroughBitmaps) {
  // 2x2 colour, 32 bits, rows padded to 16 bits: blue, green / red, white.
  const uint8_t colorBits[] = {255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0, 255, 255, 255, 0};
  const uint8_t maskBits[] = {0x40, 0, 0x80, 0};  // top-right and bottom-left see-through
  HBITMAP color = CreateBitmap(2, 2, 1, 32, colorBits);
  HBITMAP mask = CreateBitmap(2, 2, 1, 1, maskBits);
  ASSERT_NE(color, nullptr);
  ICONINFO info{TRUE, 0, 0, mask, color};
  HICON icon = CreateIconIndirect(&info);
  ASSERT_NE(icon, nullptr);
  DeleteObject(color);
  DeleteObject(mask);
  platform::IconObject* i = platform::asIcon(icon);
  ASSERT_NE(i, nullptr);
  EXPECT_EQ(i->color, (std::vector<uint32_t>{0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF}));
  EXPECT_EQ(i->mask, (std::vector<uint8_t>{0, 1, 1, 0}));
  ICONINFO back{};
  ASSERT_TRUE(GetIconInfo(icon, &back));
  EXPECT_EQ(platform::asBitmap(back.hbmColor)->pixels, i->color);
  EXPECT_EQ(platform::asBitmap(back.hbmMask)->pixels, (std::vector<uint32_t>{0, 0xFFFFFF, 0xFFFFFF, 0}));
  DeleteObject(back.hbmColor);
  DeleteObject(back.hbmMask);
  EXPECT_TRUE(DestroyIcon(icon));
  EXPECT_EQ(platform::asIcon(icon), nullptr);
  // Mismatched sizes are refused.
  HBITMAP c3 = CreateBitmap(3, 3, 1, 32, nullptr), m2 = CreateBitmap(2, 2, 1, 1, nullptr);
  ICONINFO bad{TRUE, 0, 0, m2, c3};
  EXPECT_EQ(CreateIconIndirect(&bad), nullptr);
  DeleteObject(c3);
  DeleteObject(m2);
  EXPECT_EQ(CreateBitmap(0, 5, 1, 32, nullptr), nullptr);
  EXPECT_EQ(CreateBitmap(100000, 100000, 1, 32, nullptr), nullptr);
}

TEST(ServicesBitmap, DibSectionBitsAreThePixels) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = 3;
  bi.bmiHeader.biHeight = -2;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP b = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(b, nullptr);
  auto* px = static_cast<uint8_t*>(bits);
  px[(1 * 3 + 2) * 4 + 2] = 0xAB;  // red of the pixel at (2, 1)
  EXPECT_EQ(platform::asBitmap(b)->at(2, 1), 0xAB0000u);
  BITMAP bm{};
  EXPECT_EQ(GetObject(b, sizeof bm, &bm), static_cast<int>(sizeof bm));
  EXPECT_EQ(bm.bmWidth, 3);
  EXPECT_EQ(bm.bmHeight, 2);
  EXPECT_TRUE(DeleteObject(b));
  bi.bmiHeader.biBitCount = 24;
  EXPECT_EQ(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
  EXPECT_EQ(bits, nullptr);
}

TEST(ServicesBitmap, DamagedIconImagesAreRefused) {
  std::vector<uint8_t> img(40 + 16 * 4 + 4 * 2 + 4 * 2, 0);
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&img[at], &v, 4); };
  put32(0, 40);
  put32(4, 2);
  put32(8, 4);  // 2x2, double height
  img[12] = 1;
  img[14] = 4;
  platform::DecodedIcon d;
  EXPECT_TRUE(platform::decodeIconImage(img.data(), img.size(), &d));
  EXPECT_FALSE(platform::decodeIconImage(img.data(), img.size() - 1, &d));  // mask cut short
  put32(8, 3);                                                                // odd double height
  EXPECT_FALSE(platform::decodeIconImage(img.data(), img.size(), &d));
  put32(8, 4);
  put32(32, 17);  // more colours than 4 bits can index
  EXPECT_FALSE(platform::decodeIconImage(img.data(), img.size(), &d));
  put32(32, 0);
  put32(4, 0x7FFFFFFF);
  EXPECT_FALSE(platform::decodeIconImage(img.data(), img.size(), &d));
  std::vector<platform::IcoDirEntry> dir;
  const uint8_t header[] = {0, 0, 1, 0, 1, 0, 2, 2, 0, 0, 1, 0, 4, 0, 0xFF, 0xFF, 0, 0, 22, 0, 0, 0};
  EXPECT_FALSE(platform::parseIcoDirectory(header, sizeof header, &dir));  // image past the end
}

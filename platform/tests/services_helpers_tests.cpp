// The small helpers every layer reads names and file formats with.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "ascii.h"
#include "little_endian.h"

namespace {

TEST(ServicesHelpers, CaseFoldingTouchesAsciiLettersOnly) {
  EXPECT_TRUE(platform::asciiEqualNoCase(u"Olvaro.Main", u"oLVARO.mAIN"));
  EXPECT_FALSE(platform::asciiEqualNoCase(u"abc", u"abcd"));
  // Neighbours of the letter ranges and letters beyond ASCII stay as they are.
  EXPECT_FALSE(platform::asciiEqualNoCase(u"@[`{", u"`{@["));
  EXPECT_FALSE(platform::asciiEqualNoCase(u"\u00C4", u"\u00E4"));
  EXPECT_EQ(platform::asciiLowered(u"AZ@[az\u00C4"), u"az@[az\u00C4");
  EXPECT_EQ(platform::asciiUpper(u'`'), u'`');
  EXPECT_EQ(platform::asciiUpper(u'{'), u'{');
  EXPECT_EQ(platform::asciiUpper(u'z'), u'Z');
  EXPECT_TRUE(platform::asciiEndsWithNoCase(u"photo.JPG", u".jpg"));
  EXPECT_TRUE(platform::asciiEndsWithNoCase(u".jpg", u".JPG"));
  EXPECT_FALSE(platform::asciiEndsWithNoCase(u"jpg", u".jpg"));
  // UTF-8: bytes of other characters never fold, in any locale.
  EXPECT_TRUE(platform::asciiEqualNoCase("IExplore.EXE", "iexplore.exe"));
  EXPECT_FALSE(platform::asciiEqualNoCase("\xC3\x84", "\xC3\xA4"));
  EXPECT_EQ(platform::asciiLowered(std::string("WWW.\xC3\x84")), "www.\xC3\x84");
  EXPECT_TRUE(platform::asciiEndsWithNoCase("olvaro.LNK", ".lnk"));
}

TEST(ServicesHelpers, LittleEndianFieldsKeepTheirHighBits) {
  const uint8_t bytes[] = {0xFF, 0xFE, 0xFD, 0x80, 0x34, 0x82};
  EXPECT_EQ(platform::readLe32(bytes), 0x80FDFEFFu);
  EXPECT_EQ(platform::readLe16(bytes + 4), 0x8234u);
  EXPECT_EQ(platform::readLe16(bytes + 1), 0xFDFEu);  // any alignment
}

}  // namespace

#include <gtest/gtest.h>

#include "platform/handles.h"
#include "platform/text.h"

using platform::narrow;
using platform::widen;

TEST(ServicesText, RoundTripsEveryPlane) {
  std::string s = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a é € 😀 z
  std::u16string w = widen(s);
  ASSERT_EQ(w.size(), 6u);  // the emoji is a surrogate pair
  EXPECT_EQ(w[3], 0xD83D);
  EXPECT_EQ(narrow(w), s);
}

TEST(ServicesText, UnconvertibleWideTextBecomesTheFixedText) {
  std::u16string lone = u"ab";
  lone += static_cast<char16_t>(0xD800);
  EXPECT_EQ(narrow(lone), "** could not convert to multi-byte **");
  std::u16string reversed;
  reversed += static_cast<char16_t>(0xDC00);
  reversed += static_cast<char16_t>(0xD800);
  EXPECT_EQ(narrow(reversed), platform::kCouldNotConvert);
}

TEST(ServicesText, MalformedUtf8IsRefusedStrictly) {
  const char* bad[] = {"\xC0\x80", "\xE0\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80", "\xE2\x82", "\xFF"};
  for (const char* b : bad) {
    WCHAR out[8];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, b, -1, out, 8), 0) << b;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    // The lenient helper replaces instead of failing.
    EXPECT_NE(widen(b).find(u'\uFFFD'), std::u16string::npos);
  }
}

TEST(ServicesText, SizesFollowTheWin32Contract) {
  // -1 counts the NUL; a zero destination size asks for the size only.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "h\xC3\xA9", -1, nullptr, 0), 3);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "h\xC3\xA9", 3, nullptr, 0), 2);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"h\u00e9", -1, nullptr, 0, nullptr, nullptr), 4);
  char small[3] = {'x', 'x', 'x'};
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"h\u00e9", -1, small, 3, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  char exact[4];
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"h\u00e9", -1, exact, 4, nullptr, nullptr), 4);
  EXPECT_STREQ(exact, "h\xC3\xA9");
  // UTF-8 has no default character.
  BOOL used = FALSE;
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"x", -1, exact, 4, "?", &used), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "x", -1, nullptr, 0), 0);
}

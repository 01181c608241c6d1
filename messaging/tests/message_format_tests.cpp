// Time stamps in local time, bodies, web addresses and role-change lines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "message_format.h"
#include "platform/resources.h"

namespace {

using messaging::formatTimeStamp;

class LocalTime : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("TZ");
    hadTz_ = old != nullptr;
    if (old) oldTz_ = old;
    // A zone an hour east of UTC, so local and UTC dates differ round midnight.
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  }
  void TearDown() override {
    if (hadTz_)
      setenv("TZ", oldTz_.c_str(), 1);
    else
      unsetenv("TZ");
  }
  bool hadTz_ = false;
  std::string oldTz_;
};

constexpr int64_t kNow = 1768042800;  // 2026-01-10 11:00:00 UTC, 12:00 local

TEST_F(LocalTime, TodayYesterdayAndOlderByTheLocalDate) {
  // 00:30 local today is still yesterday in UTC.
  EXPECT_EQ(formatTimeStamp(kNow - 11 * 3600 - 1800, kNow), u"00:30:00");
  // 23:50 local yesterday.
  EXPECT_EQ(formatTimeStamp(kNow - 12 * 3600 - 600, kNow), u"Yesterday, 23:50");
  // Two days ago, and across a year: day, month, two-digit year.
  EXPECT_EQ(formatTimeStamp(kNow - 2 * 86400 - 3600 - 45 * 60, kNow), u"08-01-26, 10:15");
  EXPECT_EQ(formatTimeStamp(kNow - 11 * 86400, kNow), u"30-12-25, 12:00");
  EXPECT_EQ(messaging::formatClockTime(kNow + 61), u"12:01:01");
}

TEST(MessageBody, MeNeedsItsSpaceAndOtherKindsShowTheirNames) {
  HINSTANCE res = platform::currentModule();
  auto me = messaging::messageBody("text/plain", "/me waves", res);
  EXPECT_EQ(me.text, u"* waves *");
  EXPECT_TRUE(me.action);
  auto plain = messaging::messageBody("text/plain", "/mewaves", res);
  EXPECT_EQ(plain.text, u"/mewaves");
  EXPECT_FALSE(plain.action);
  EXPECT_EQ(messaging::messageBody("audio/x-speex", "\x01\x02", res).text, u"Voice Message");
  EXPECT_EQ(messaging::messageBody("image/jpeg", "", res).text, u"Photo Message");
  EXPECT_EQ(messaging::messageBody("application/x-thing", "", res).text, u"application/x-thing");
  // A huge text is cut to its beginning, between whole characters.
  std::string huge = "a" + std::string(300000, '\0');
  for (size_t i = 1; i + 1 < huge.size(); i += 2) huge[i] = '\xC3', huge[i + 1] = '\xA9';  // "é"
  auto shown = messaging::messageBody("text/plain", huge, res);
  EXPECT_LE(shown.text.size(), messaging::kMaxShownBytes);
  EXPECT_GT(shown.text.size(), messaging::kMaxShownBytes / 2 - 2);
  EXPECT_EQ(shown.text.substr(0, 3), u"a\u00e9\u00e9");
  EXPECT_EQ(shown.text.back(), u'\u2026');
}

TEST(WebAddresses, EachRunsToTheNextSpaceReturnOrTheEnd) {
  using V = std::vector<std::string>;
  EXPECT_EQ(messaging::findWebAddresses("see http://a.example/x?y=1 and www.b.example"),
            (V{"http://a.example/x?y=1", "www.b.example"}));
  EXPECT_EQ(messaging::findWebAddresses("ftp.c.example\r\nhttps://d.example"),
            (V{"ftp.c.example", "https://d.example"}));
  // The earliest start wins: "http://www." is one address, not two.
  EXPECT_EQ(messaging::findWebAddresses("http://www.e.example"), (V{"http://www.e.example"}));
  EXPECT_TRUE(messaging::findWebAddresses("no addresses here").empty());
  // However big the text: the first ten, of those beginning in the shown
  // part, none too long to open whole.
  std::string many;
  for (int i = 0; i < 12; ++i) many += "www." + std::to_string(i) + ".example ";
  V ten = messaging::findWebAddresses(many + std::string(1 << 20, 'z'));
  ASSERT_EQ(ten.size(), messaging::kMaxWebAddresses);
  EXPECT_EQ(ten.back(), "www.9.example");
  std::string late = std::string(messaging::kMaxShownBytes, ' ') + "www.late.example";
  EXPECT_TRUE(messaging::findWebAddresses(late).empty());
  std::string longOne = "http://" + std::string(messaging::kMaxAddressBytes, 'l') + " www.after.example";
  EXPECT_TRUE(messaging::findWebAddresses(longOne).empty());
  EXPECT_EQ(messaging::addressWithScheme(u"www.b.example"), u"http://www.b.example");
  EXPECT_EQ(messaging::addressWithScheme(u"ftp.c.example"), u"ftp://ftp.c.example");
  EXPECT_EQ(messaging::addressWithScheme(u"https://d.example"), u"https://d.example");
}

std::string notice(uint32_t role, const std::string& name) {
  std::string p;
  for (int i = 0; i < 4; ++i) p += char((role >> (8 * i)) & 0xff);
  p += std::string(8, '\x07');
  return p + name;
}

TEST(AdminNotice, RoleChoosesTheLineAndNamesStayLiteral) {
  HINSTANCE res = platform::currentModule();
  EXPECT_EQ(messaging::adminNoticeText(notice(8, "Carol"), u"Bob", res), u"Bob has silenced Carol");
  EXPECT_EQ(messaging::adminNoticeText(notice(1, "Carol"), u"Bob", res), u"Bob has made Carol an administrator");
  EXPECT_EQ(messaging::adminNoticeText(notice(0, "Carol"), u"Bob", res), u"Bob reset permissions for Carol");
  EXPECT_EQ(messaging::adminNoticeText(notice(0, "%s%n"), u"B%s", res), u"B%s reset permissions for %s%n");
  EXPECT_EQ(messaging::adminNoticeText(notice(3, "Carol"), u"Bob", res), u"");
  // Too short to hold the member's id: no line rather than a read past it.
  EXPECT_EQ(messaging::adminNoticeText(std::string("\x08\x00\x00\x00", 4), u"Bob", res), u"");
  EXPECT_EQ(messaging::adminNoticeRole(notice(16, "")), 16);
  // A name of a megabyte is cut, between whole characters, before it is drawn.
  std::string huge(1 << 20, 'x');
  huge.replace(messaging::kMaxNameBytes - 1, 2, "\xC3\xA9");
  std::u16string line = messaging::adminNoticeText(notice(4, huge), u"Bob", res);
  EXPECT_EQ(line, u"Bob has banned " + std::u16string(messaging::kMaxNameBytes - 1, u'x') + u"\u2026");
}

}  // namespace

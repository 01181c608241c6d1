// The wire form of packets, the conversions of header values and the
// server's time texts.
#include <gtest/gtest.h>

#include <climits>
#include <tuple>
#include <utility>

#include "packet.h"
#include "timestamp.h"

using olvaro::conn::Packet;

TEST(PacketWireForm, ContactRequestExampleInByteOrder) {
  Packet p("CONTACT ADD");
  p.setHeaderId("Mesg-Id", 32768);
  p.setHeaderInt("Target-Id", 12345);
  p.body = "hello";
  EXPECT_EQ(p.serialize(), "CONTACT ADD\ncontent-length: 5\nmesg-id: 32768\ntarget-id: 12345\n\nhello");
  EXPECT_EQ(p.getHeader("Content-Length"), "5");
}

TEST(PacketWireForm, CapitalisedNamesKeepCaseAndComeFirst) {
  Packet p("LOGON");
  p.headers["Protocol-Version"] = "1.0";
  p.headers["App-Type"] = "SmartPhone";
  p.headers["Operator"] = "PC_CLIENT";
  EXPECT_EQ(p.serialize(), "LOGON\nApp-Type: SmartPhone\nOperator: PC_CLIENT\nProtocol-Version: 1.0\n\n");

  Packet q("X");
  q.headers["Zeta"] = "z";
  q.setHeaderId("Mesg-Id", 1);
  q.body = "b";
  EXPECT_EQ(q.serialize(), "X\nZeta: z\ncontent-length: 1\nmesg-id: 1\n\nb");
}

TEST(PacketWireForm, EmptyValuesAreNotWrittenAndNoLengthWithoutBody) {
  Packet p("P");
  p.setHeader("i", "");
  EXPECT_EQ(p.serialize(), "P\n\n");
  EXPECT_TRUE(p.hasHeader("I"));
  EXPECT_FALSE(p.hasHeader("content-length"));

  // A builder may still send an explicit zero length.
  Packet g("GROUP CREATE");
  g.setHeaderInt("Content-Length", 0);
  EXPECT_EQ(g.serialize(), "GROUP CREATE\ncontent-length: 0\n\n");
}

TEST(PacketWireForm, BinaryBodyGoesOutUnchanged) {
  Packet p("RESPONSE");
  p.body = std::string("\0\n\r\xff", 4);
  EXPECT_EQ(p.serialize(), std::string("RESPONSE\ncontent-length: 4\n\n\0\n\r\xff", 32));
}

TEST(PacketHeaders, NamesAreLowerCasedAndStoredOnce) {
  Packet p;
  p.setHeader("Mesg-Id", "5");
  p.setHeader("MESG-ID", "9");
  EXPECT_EQ(p.headers.size(), 1u);
  EXPECT_EQ(p.getHeaderInt("mesg-id"), 9);
  EXPECT_EQ(p.getHeader("absent"), "");
  EXPECT_FALSE(p.hasHeader("absent"));
  // Only A-Z are folded.
  p.setHeader("\xc4Name", "x");
  EXPECT_TRUE(p.headers.count("\xc4name"));
}

TEST(PacketHeaders, IntegerConversionFollowsAtoi) {
  Packet p;
  auto asInt = [&](const std::string& v) {
    p.setHeader("v", v);
    return p.getHeaderInt("v");
  };
  EXPECT_EQ(asInt("12abc"), 12);
  EXPECT_EQ(asInt(" 12"), 12);
  EXPECT_EQ(asInt("\t-7"), -7);
  EXPECT_EQ(asInt("+3"), 3);
  EXPECT_EQ(asInt(""), 0);
  EXPECT_EQ(asInt("abc"), 0);
  EXPECT_EQ(asInt("- 3"), 0);
  // Out of range saturates rather than overflowing.
  EXPECT_EQ(asInt("99999999999999999999"), INT32_MAX);
  EXPECT_EQ(asInt("-99999999999999999999"), INT32_MIN);
  EXPECT_EQ(asInt("-2147483648"), INT32_MIN);
  p.setHeaderInt("n", -42);
  EXPECT_EQ(p.getHeader("n"), "-42");
  p.setHeaderInt("z", 0);
  EXPECT_EQ(p.getHeader("z"), "0");
}

TEST(PacketHeaders, IdConversionTakesLeadingDigitsOnly) {
  Packet p;
  auto asId = [&](const std::string& v) {
    p.setHeader("v", v);
    return p.getHeaderId("v");
  };
  EXPECT_EQ(asId("12abc"), 12u);
  EXPECT_EQ(asId(" 12"), 0u);
  EXPECT_EQ(asId("-5"), 0u);
  EXPECT_EQ(asId("18446744073709551615"), UINT64_MAX);
  EXPECT_EQ(asId(""), 0u);
  p.setHeaderId("big", UINT64_MAX);
  EXPECT_EQ(p.getHeader("big"), "18446744073709551615");
}

// Server times: the sign-in's stamp is "sec.usec" exactly; a message's time
// is read as "%d.%d" reads it.
TEST(Timestamps, SignInStampsNeedOneDotMessageTimesStartWithANumber) {
  using olvaro::conn::Timestamp;
  auto read = [](bool (*reader)(std::string_view, Timestamp*), const char* text) {
    Timestamp t{-1, -1};
    bool ok = reader(text, &t);
    return std::tuple(ok, t.sec, t.usec);
  };
  EXPECT_EQ(read(Timestamp::parse, "12.5"), std::tuple(true, 12, 5));
  EXPECT_EQ(read(Timestamp::parse, "12"), std::tuple(false, -1, -1));
  EXPECT_EQ(read(Timestamp::parse, "1.2.3"), std::tuple(false, -1, -1));
  EXPECT_EQ(read(Timestamp::scan, "12"), std::tuple(true, 12, 0));
  EXPECT_EQ(read(Timestamp::scan, " -3.250000"), std::tuple(true, -3, 250000));
  EXPECT_EQ(read(Timestamp::scan, "12x.5"), std::tuple(true, 12, 0));  // the seconds end at the x
  EXPECT_EQ(read(Timestamp::scan, "7.x"), std::tuple(true, 7, 0));
  EXPECT_EQ(read(Timestamp::scan, "soon"), std::tuple(false, -1, -1));
  EXPECT_EQ(read(Timestamp::scan, ".5"), std::tuple(false, -1, -1));
  EXPECT_EQ(read(Timestamp::scan, "99999999999.99999999999"), std::tuple(true, INT32_MAX, INT32_MAX));
}

TEST(Timestamps, DifferenceBorrowsAndHoldsTheSecondsWithin32Bits) {
  using olvaro::conn::Timestamp;
  auto diff = [](Timestamp a, Timestamp b) {
    Timestamp d = Timestamp::difference(a, b);
    return std::pair(d.sec, d.usec);
  };
  EXPECT_EQ(diff({10, 250000}, {3, 500000}), std::pair(6, 750000));
  EXPECT_EQ(diff({3, 0}, {10, 1}), std::pair(-8, 999999));
  EXPECT_EQ(diff({INT32_MIN, 0}, {100, 0}), std::pair(INT32_MIN, 0));
  EXPECT_EQ(diff({INT32_MAX, 0}, {-100, 0}), std::pair(INT32_MAX, 0));
}

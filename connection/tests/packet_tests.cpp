// The wire form of packets and the conversions of header values.
#include <gtest/gtest.h>

#include "packet.h"

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

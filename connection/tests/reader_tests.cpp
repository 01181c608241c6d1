// The incremental reader: tolerances, splits and bounds. Every stream is fed
// whole, one byte at a time and in random pieces, and must read the same.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "packet_reader.h"

using namespace olvaro::conn;

namespace {

// Feeds a buffer the way the framing layer does: parse, take the packet,
// keep what is left for the next receive.
struct Collector {
  explicit Collector(ReaderLimits limits = ReaderLimits()) : reader(limits) {}
  bool read(std::string& input) {
    size_t pos = 0;
    for (;;) {
      size_t used = 0;
      PacketReader::Result r = reader.parse(input.data() + pos, input.size() - pos, &used);
      pos += used;
      if (r == PacketReader::Result::Error) return false;
      if (r == PacketReader::Result::NeedMore) break;
      packets.push_back(reader.packet());
    }
    EXPECT_EQ(pos, input.size());  // a partial line or body is kept by the reader
    input.erase(0, pos);
    return true;
  }
  PacketReader reader;
  std::vector<Packet> packets;
};

struct Result {
  std::vector<Packet> packets;
  bool ok = true;
  std::string left;
};

Result feed(const std::string& stream, const std::vector<size_t>& pieces, ReaderLimits limits = ReaderLimits()) {
  Collector c(limits);
  std::string input;
  Result r;
  size_t at = 0;
  std::vector<size_t> all = pieces.empty() ? std::vector<size_t>{stream.size()} : pieces;
  for (size_t piece : all) {
    input.append(stream, at, piece);
    at += piece;
    if (!c.read(input)) {
      r.ok = false;
      break;
    }
  }
  r.packets = c.packets;
  r.left = input;
  return r;
}

std::vector<std::vector<size_t>> splits(size_t size) {
  std::vector<std::vector<size_t>> out;
  out.push_back({size});
  out.push_back(std::vector<size_t>(size, 1));
  std::mt19937 rng(7);
  for (int n = 0; n < 20; ++n) {
    std::vector<size_t> pieces;
    for (size_t left = size; left;) {
      size_t piece = std::min(left, size_t(rng() % 17));
      pieces.push_back(piece);
      left -= piece;
    }
    out.push_back(pieces);
  }
  return out;
}

// Reads the stream in every split and checks they all agree.
std::vector<Packet> readAll(const std::string& stream) {
  std::vector<Packet> first;
  bool haveFirst = false;
  for (const auto& pieces : splits(stream.size())) {
    Result r = feed(stream, pieces);
    EXPECT_TRUE(r.ok);
    if (!haveFirst) {
      first = r.packets;
      haveFirst = true;
      continue;
    }
    EXPECT_EQ(r.packets.size(), first.size());
    for (size_t i = 0; i < std::min(r.packets.size(), first.size()); ++i) {
      EXPECT_EQ(r.packets[i].command, first[i].command);
      EXPECT_EQ(r.packets[i].headers, first[i].headers);
      EXPECT_EQ(r.packets[i].body, first[i].body);
    }
  }
  return first;
}

}  // namespace

TEST(PacketReader, CrLfReadsLikeLf) {
  auto lf = readAll("MESG\nMesg-Id: 7\n\n");
  auto crlf = readAll("MESG\r\nMesg-Id: 7\r\n\r\n");
  ASSERT_EQ(lf.size(), 1u);
  ASSERT_EQ(crlf.size(), 1u);
  EXPECT_EQ(crlf[0].command, "MESG");
  EXPECT_EQ(crlf[0].headers, (std::map<std::string, std::string>{{"mesg-id", "7"}}));
  EXPECT_TRUE(crlf[0].body.empty());
  EXPECT_EQ(crlf[0].headers, lf[0].headers);
  // The line is cut at its last CR.
  auto cut = readAll("A\rB\rtail\n\n");
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_EQ(cut[0].command, "A\rB");
}

TEST(PacketReader, ThreePacketsInOneReceiveAreReadInOrder) {
  auto packets = readAll("P\n\nAUTH\nWord-Size: 4\n\nRESPONSE\nContent-Length: 2\nMesg-Id: 3\n\nOK");
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_EQ(packets[0].command, "P");
  EXPECT_EQ(packets[1].getHeaderInt("word-size"), 4);
  EXPECT_EQ(packets[2].body, "OK");
  EXPECT_EQ(packets[2].getHeaderId("Mesg-Id"), 3u);
}

TEST(PacketReader, BodyEndsAtItsLengthAndTheRestStartsTheNextPacket) {
  Result r = feed("X\nContent-Length: 3\n\nabcde", {});
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.packets.size(), 1u);
  EXPECT_EQ(r.packets[0].body, "abc");
  EXPECT_EQ(r.packets[0].headers.size(), 1u);
  auto packets = readAll("X\nContent-Length: 3\n\nabcNEXT\n\n");
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(packets[1].command, "NEXT");
  // A body may hold line ends and NULs.
  auto binary = readAll(std::string("B\ncontent-length: 4\n\n\n\0\r\n", 25));
  ASSERT_EQ(binary.size(), 1u);
  EXPECT_EQ(binary[0].body, std::string("\n\0\r\n", 4));
}

TEST(PacketReader, DuplicateHeadersKeepTheLastValueWhateverTheCase) {
  auto packets = readAll("MESG\nMesg-Id: 5\nMESG-ID: 9\n\n");
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].getHeaderInt("Mesg-Id"), 9);
  EXPECT_EQ(packets[0].headers.size(), 1u);
}

TEST(PacketReader, HeaderSpacingAndOddLines) {
  auto packets = readAll("C\na:1\nb: 2\nc:  3\nd:\nno colon here\ne: x:y\n\n\nafter-blank: v\n\n");
  ASSERT_EQ(packets.size(), 2u);
  const Packet& p = packets[0];
  EXPECT_EQ(p.getHeader("a"), "1");
  EXPECT_EQ(p.getHeader("b"), "2");
  EXPECT_EQ(p.getHeader("c"), " 3");
  EXPECT_TRUE(p.hasHeader("d"));
  EXPECT_EQ(p.getHeader("e"), "x:y");
  EXPECT_EQ(p.headers.size(), 5u);  // the line without a colon is skipped
  // A blank line where a command belongs starts a packet with no command;
  // the next line is read as its header.
  EXPECT_EQ(packets[1].command, "");
  EXPECT_EQ(packets[1].getHeader("after-blank"), "v");
}

TEST(PacketReader, NonNumericLengthMeansNoBody) {
  auto packets = readAll("X\nContent-Length: many\n\nY\n\n");
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_TRUE(packets[0].body.empty());
  EXPECT_EQ(packets[1].command, "Y");
}

TEST(PacketReader, AbsurdLengthsAndEndlessLinesAreProtocolErrors) {
  EXPECT_FALSE(feed("X\nContent-Length: -1\n\nabc", {}).ok);
  EXPECT_FALSE(feed("X\nContent-Length: 99999999999999999999\n\n", {}).ok);
  ReaderLimits small;
  small.maxLine = 20;
  small.maxBody = 10;
  small.maxHeaders = 2;
  EXPECT_FALSE(feed("X\nContent-Length: 11\n\n", {}, small).ok);
  EXPECT_TRUE(feed("X\nContent-Length: 10\n\n0123456789", {}, small).ok);
  // A line that never ends fails once it passes the bound, in any split.
  std::string endless(100, 'a');
  EXPECT_FALSE(feed(endless, {}, small).ok);
  EXPECT_FALSE(feed(endless, std::vector<size_t>(100, 1), small).ok);
  EXPECT_TRUE(feed(std::string(20, 'a') + "\n\n", {}, small).ok);
  EXPECT_FALSE(feed(std::string(21, 'a') + "\n\n", {}, small).ok);
  EXPECT_FALSE(feed("X\na: 1\nb: 2\nc: 3\n\n", {}, small).ok);
}

TEST(PacketReader, ResetDropsAHalfReadPacket) {
  Collector c;
  std::string input = "MESG\nContent-Length: 10\n\nabc";
  ASSERT_TRUE(c.read(input));
  EXPECT_EQ(c.reader.readState(), PacketReader::ReadState::Body);
  c.reader.reset();
  input = "P\n\n";
  ASSERT_TRUE(c.read(input));
  ASSERT_EQ(c.packets.size(), 1u);
  EXPECT_EQ(c.packets[0].command, "P");
  EXPECT_TRUE(c.packets[0].body.empty());
  // A half-read line goes too.
  input = "GRO";
  ASSERT_TRUE(c.read(input));
  c.reader.reset();
  input = "P\n\n";
  ASSERT_TRUE(c.read(input));
  EXPECT_EQ(c.packets.back().command, "P");
}

TEST(PacketReader, ReusedHeadersNeverLeakIntoTheNextPacket) {
  auto packets = readAll("A\nx: 1\nY: 2\nx: 3\n\nB\nz: 4\n\nC\n\n");
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_EQ(packets[0].headers, (std::map<std::string, std::string>{{"x", "3"}, {"y", "2"}}));
  EXPECT_EQ(packets[1].headers, (std::map<std::string, std::string>{{"z", "4"}}));
  EXPECT_TRUE(packets[2].headers.empty());
}

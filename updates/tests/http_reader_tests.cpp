// The update check's response reader: head, lengths, bounds and the bytes it
// takes. Every response is fed whole and one byte at a time, and must read
// the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "http_message.h"

using updates::ResponseReader;
using State = ResponseReader::State;

namespace {

struct Read {
  State state;
  updates::HttpMessage message;
  size_t used = 0;  // bytes consumed over all the calls
  size_t expected = 0;
};

Read readIn(const std::string& stream, size_t piece, bool closed) {
  ResponseReader reader;
  Read r{};
  for (size_t at = 0; at < stream.size(); at += piece) {
    size_t size = std::min(piece, stream.size() - at);
    size_t used = reader.feed(stream.data() + at, size);
    EXPECT_LE(used, size);
    r.used += used;
  }
  if (closed) reader.close();
  r.state = reader.state();
  r.message = reader.message();
  r.expected = reader.expected();
  return r;
}

// Reads `stream` whole and byte by byte (then closes the connection if
// `closed`) and checks both agree; a failed read stops anywhere.
Read readBoth(const std::string& stream, bool closed = false) {
  Read whole = readIn(stream, stream.size(), closed);
  Read bytes = readIn(stream, 1, closed);
  EXPECT_EQ(whole.state, bytes.state) << stream.substr(0, 80);
  if (whole.state != State::Failed) {
    EXPECT_EQ(whole.used, bytes.used);
    EXPECT_EQ(whole.message.startLine, bytes.message.startLine);
    EXPECT_EQ(whole.message.headers, bytes.message.headers);
    EXPECT_EQ(whole.message.body, bytes.message.body);
    EXPECT_EQ(whole.expected, bytes.expected);
  }
  return whole;
}

const std::string kStart = "HTTP/1.0 200 OK\n";

}  // namespace

TEST(HttpResponse, HeadLinesLengthsAndBounds) {
  std::string whole = "HTTP/1.0 200 OK\r\nContent-Length: 5\nX-Olvaro-Signature: ab\r\n\r\nhello";
  Read r = readBoth(whole);
  ASSERT_EQ(r.state, State::Complete);
  EXPECT_EQ(r.used, whole.size());
  EXPECT_EQ(r.message.startLine, "HTTP/1.0 200 OK");
  EXPECT_EQ(r.message.headers.at("x-olvaro-signature"), "ab");
  EXPECT_EQ(r.message.body, "hello");
  EXPECT_EQ(readBoth(kStart + "content-length: 0\n\n").state, State::Complete);
  EXPECT_EQ(readBoth(kStart + "content-length: 67108865\n\n").state, State::Failed);
  EXPECT_EQ(readBoth(kStart + "content-length: 99999999999999999999\n\n").state, State::Failed);
  EXPECT_EQ(readBoth(kStart + "content-length: -1\n\n").state, State::Failed);
  EXPECT_EQ(readBoth(kStart + std::string(10000, 'x')).state, State::Failed);
  EXPECT_EQ(readBoth(kStart + "\nbody").state, State::UntilClose);
  // A body shorter than announced, when the peer closes.
  EXPECT_EQ(readBoth(kStart + "content-length: 10\n\nabc", true).state, State::Failed);
}

TEST(HttpResponse, BytesPastTheBodyAreLeftUnread) {
  std::string head = kStart + "Content-Length: 5\n\n";
  Read r = readBoth(head + "helloHTTP/1.0 200 OK\n\n");
  ASSERT_EQ(r.state, State::Complete);
  EXPECT_EQ(r.used, head.size() + 5);
  EXPECT_EQ(r.message.body, "hello");
  std::string empty = kStart + "content-length: 0\n\n";
  Read none = readBoth(empty + "more");
  EXPECT_EQ(none.state, State::Complete);
  EXPECT_EQ(none.used, empty.size());
  EXPECT_TRUE(none.message.body.empty());
}

TEST(HttpResponse, NeedMoreTakesEverythingUntilTheResponseEnds) {
  std::string cut = "HTTP/1.0 200 OK\r\nContent-Le";
  Read head = readBoth(cut);
  EXPECT_EQ(head.state, State::Head);
  EXPECT_EQ(head.used, cut.size());
  std::string partial = kStart + "content-length: 10\n\nabc";
  Read body = readBoth(partial);
  EXPECT_EQ(body.state, State::Body);
  EXPECT_EQ(body.used, partial.size());
  EXPECT_EQ(body.expected, 10u);
  EXPECT_EQ(body.message.body, "abc");
  // Without a length the body runs to the close, and is never used.
  std::string open = kStart + "\n\nline\r\nmore";
  Read until = readBoth(open);
  EXPECT_EQ(until.state, State::UntilClose);
  EXPECT_EQ(until.used, open.size());
  EXPECT_EQ(until.message.body, "\nline\r\nmore");
  EXPECT_EQ(readBoth(open, true).state, State::Failed);
  // A response read whole stays so when the peer closes.
  EXPECT_EQ(readBoth(kStart + "content-length: 1\n\nx", true).state, State::Complete);
}

TEST(HttpResponse, HeaderNamesValuesAndStrictLengths) {
  Read r = readBoth(kStart + "X-A:1\nX-B:   two words\nno colon\nx-a: 3\nEmpty:\n\n");
  ASSERT_EQ(r.state, State::UntilClose);
  // Names lower-cased, leading spaces cut, the last of a name kept, a line
  // without a colon a name with no value.
  EXPECT_EQ(r.message.headers, (std::map<std::string, std::string>{
                                   {"x-a", "3"}, {"x-b", "two words"}, {"no colon", ""}, {"empty", ""}}));
  // A length is digits only: no sign, no word, no trailing space.
  for (const char* length : {"+5", "many", "5 ", ""})
    EXPECT_EQ(readBoth(kStart + "content-length: " + length + "\n\nhello").state, State::Failed) << length;
}

TEST(HttpResponse, LineAndHeaderBoundsAreExact) {
  const size_t line = ResponseReader::kMaxLine;
  EXPECT_EQ(readBoth(kStart + "a: " + std::string(line - 3, 'v') + "\n\n").state, State::UntilClose);
  EXPECT_EQ(readBoth(kStart + "a: " + std::string(line - 2, 'v') + "\n\n").state, State::Failed);
  std::string headers;
  for (size_t i = 0; i < ResponseReader::kMaxHeaders; ++i) headers += "h" + std::to_string(i) + ": v\n";
  Read most = readBoth(kStart + headers + "\n");
  EXPECT_EQ(most.state, State::UntilClose);
  EXPECT_EQ(most.message.headers.size(), ResponseReader::kMaxHeaders);
  EXPECT_EQ(readBoth(kStart + headers + "one-more: v\n\n").state, State::Failed);
}

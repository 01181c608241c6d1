// The packet reader's throughput on a realistic stream (presence updates,
// 512-byte message chunks, responses), fed whole and in random splits, next
// to the HTTP/1 parser of libhttp-parser on HTTP messages of the same sizes
// and header counts, fed the same way.
#include <benchmark/benchmark.h>
#include <http_parser.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "packet.h"
#include "packet_reader.h"

using olvaro::conn::Packet;
using olvaro::conn::PacketReader;

namespace {

struct Header {
  std::string name, value;
};
struct Message {
  std::string command;  // the HTTP form gets a status line instead
  std::vector<Header> headers;
  std::string body;
};

std::vector<Message> mix(int count) {
  std::mt19937 rng(42);
  std::vector<Message> out;
  for (int i = 0; i < count; ++i) {
    int kind = int(rng() % 10);
    std::string id = std::to_string(32768 + i);
    if (kind < 5) {
      out.push_back({"CONTACT DETAIL",
                     {{"Contact-Id", std::to_string(1000 + rng() % 5000)}, {"Online-Status", std::to_string(rng() % 6)}},
                     ""});
    } else if (kind < 8) {
      std::string body(512, '\0');
      for (char& c : body) c = char('a' + rng() % 26);
      out.push_back({"MESG",
                     {{"Content-Type", "text/plain"},
                      {"Mesg-Id", id},
                      {"Source-Id", std::to_string(1000 + rng() % 5000)},
                      {"Time", "1767225600.123456"},
                      {"Total-Length", "2048"}},
                     body});
    } else {
      out.push_back({"RESPONSE", {{"Mesg-Id", id}}, std::string("\0\0\0\x04", 4)});
    }
  }
  return out;
}

std::string packetStream(const std::vector<Message>& messages) {
  std::string s;
  for (const Message& m : messages) {
    Packet p(m.command);
    for (const Header& h : m.headers) p.setHeader(h.name, h.value);
    p.body = m.body;
    s += p.serialize();
  }
  return s;
}

// The same messages as HTTP responses: one status line, the same headers
// and body, CR LF line ends (Content-Length as in the packet form).
std::string httpStream(const std::vector<Message>& messages) {
  std::string s;
  for (const Message& m : messages) {
    s += "HTTP/1.1 200 OK\r\n";
    for (const Header& h : m.headers) s += h.name + ": " + h.value + "\r\n";
    s += "Content-Length: " + std::to_string(m.body.size()) + "\r\n\r\n";
    s += m.body;
  }
  return s;
}

std::vector<size_t> randomSplits(size_t total) {
  std::mt19937 rng(7);
  std::vector<size_t> pieces;
  for (size_t left = total; left;) {
    size_t piece = std::min(left, size_t(1 + rng() % 4096));
    pieces.push_back(piece);
    left -= piece;
  }
  return pieces;
}

// Takes each packet as the framing layer does, without keeping it.
struct Counter {
  PacketReader reader;
  size_t packets = 0;
  void read(std::string& input) {
    size_t pos = 0;
    for (;;) {
      size_t used = 0;
      PacketReader::Result r = reader.parse(input.data() + pos, input.size() - pos, &used);
      pos += used;
      if (r != PacketReader::Result::Packet) break;
      benchmark::DoNotOptimize(reader.packet().body.data());
      ++packets;
    }
    input.erase(0, pos);
  }
};

void runReader(benchmark::State& state, bool split) {
  std::vector<Message> messages = mix(2000);
  std::string stream = packetStream(messages);
  std::vector<size_t> pieces = split ? randomSplits(stream.size()) : std::vector<size_t>{stream.size()};
  size_t packets = 0;
  for (auto _ : state) {
    Counter reader;
    std::string input;
    size_t at = 0;
    for (size_t piece : pieces) {
      input.append(stream, at, piece);
      at += piece;
      reader.read(input);
    }
    if (reader.packets != messages.size()) state.SkipWithError("lost packets");
    packets += reader.packets;
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
  state.counters["packets/s"] = benchmark::Counter(double(packets), benchmark::Counter::kIsRate);
  state.counters["stream_bytes"] = double(stream.size());
}

// Builds the same kind of record the packet reader builds (lower-cased
// names in an ordered map, body copied), so both do comparable work.
struct HttpSink {
  Packet current;
  std::string field;
  std::string value;
  bool inValue = false;
  size_t packets = 0;
  void flushHeader() {
    if (inValue) current.setHeader(field, value);
    field.clear();
    value.clear();
    inValue = false;
  }
};

int onStatus(http_parser* p, const char* at, size_t n) {
  static_cast<HttpSink*>(p->data)->current.command.append(at, n);
  return 0;
}
int onField(http_parser* p, const char* at, size_t n) {
  auto* s = static_cast<HttpSink*>(p->data);
  if (s->inValue) s->flushHeader();
  s->field.append(at, n);
  return 0;
}
int onValue(http_parser* p, const char* at, size_t n) {
  auto* s = static_cast<HttpSink*>(p->data);
  s->inValue = true;
  s->value.append(at, n);
  return 0;
}
int onHeadersDone(http_parser* p) {
  static_cast<HttpSink*>(p->data)->flushHeader();
  return 0;
}
int onBody(http_parser* p, const char* at, size_t n) {
  static_cast<HttpSink*>(p->data)->current.body.append(at, n);
  return 0;
}
int onBegin(http_parser* p) {
  auto* s = static_cast<HttpSink*>(p->data);
  s->current.command.clear();
  s->current.headers.clear();
  s->current.body.clear();
  return 0;
}
int onComplete(http_parser* p) {
  ++static_cast<HttpSink*>(p->data)->packets;
  return 0;
}

void runHttp(benchmark::State& state, bool split) {
  std::vector<Message> messages = mix(2000);
  std::string stream = httpStream(messages);
  std::vector<size_t> pieces = split ? randomSplits(stream.size()) : std::vector<size_t>{stream.size()};
  http_parser_settings settings{};
  settings.on_message_begin = onBegin;
  settings.on_status = onStatus;
  settings.on_header_field = onField;
  settings.on_header_value = onValue;
  settings.on_headers_complete = onHeadersDone;
  settings.on_body = onBody;
  settings.on_message_complete = onComplete;
  size_t packets = 0;
  for (auto _ : state) {
    HttpSink sink;
    http_parser parser;
    http_parser_init(&parser, HTTP_RESPONSE);
    parser.data = &sink;
    size_t at = 0;
    for (size_t piece : pieces) {
      size_t used = http_parser_execute(&parser, &settings, stream.data() + at, piece);
      if (used != piece) {
        state.SkipWithError(http_errno_name(HTTP_PARSER_ERRNO(&parser)));
        break;
      }
      at += piece;
    }
    if (sink.packets != messages.size()) state.SkipWithError("lost messages");
    packets += sink.packets;
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
  state.counters["packets/s"] = benchmark::Counter(double(packets), benchmark::Counter::kIsRate);
  state.counters["stream_bytes"] = double(stream.size());
}

}  // namespace

BENCHMARK_CAPTURE(runReader, PacketReader_whole, false);
BENCHMARK_CAPTURE(runReader, PacketReader_random_splits, true);
BENCHMARK_CAPTURE(runHttp, HttpParser_whole, false);
BENCHMARK_CAPTURE(runHttp, HttpParser_random_splits, true);

BENCHMARK_MAIN();

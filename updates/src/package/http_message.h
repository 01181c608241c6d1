// The update check's HTTP: the request it writes and an incremental reader
// for the response.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace updates {

struct HttpMessage {
  std::string startLine;
  std::map<std::string, std::string> headers;  // lower-cased names, byte order
  std::string body;
};

// Start line, LF; each header with a value as "name: value" LF in map
// order; an empty line; the body. Only LF is written.
std::string serializeRequest(const HttpMessage& request);

struct ModuleStamp {
  std::string name;
  uint32_t build;
};

// The module list the server answers with a package.
std::string requestBody(const std::vector<ModuleStamp>& modules, const std::string& platform, long language,
                        long subid);

class ResponseReader {
 public:
  // Larger bodies are refused rather than reserved.
  static constexpr size_t kMaxBody = size_t(64) << 20;
  static constexpr size_t kMaxLine = 8192;
  static constexpr size_t kMaxHeaders = 100;

  enum class State { Head, Body, UntilClose, Complete, Failed };

  //   size_t used = reader.feed(data, size);
  //
  // consumes `used` bytes from the front of data[0, size); state() then says
  // what they made. Complete: the response is whole in message(); the bytes
  // after its body are not taken, and feeding more takes none. Need more
  // (Head, Body, UntilClose): everything was taken in (used == size) and the
  // response goes on in the next bytes; a body without "Content-Length" runs
  // until the peer closes and is never complete. Failed: a line, the header
  // count or the body over the bounds, or a length that is not plain digits;
  // the count is of no use and the caller drops the connection. Unlike the
  // packet reader's one packet after another, a connection carries one
  // response, so there is no reset. Lines end at LF less a CR before it; names
  // are lower-cased, the last value of a name kept, spaces before a value cut.
  size_t feed(const char* data, size_t size);
  // The peer closed the connection: what is not complete has failed.
  void close();

  State state() const { return state_; }
  const HttpMessage& message() const { return message_; }
  // The body length announced (in the Body and Complete states).
  size_t expected() const { return expected_; }
  size_t received() const { return message_.body.size(); }

 private:
  void headerLine(std::string line);
  State state_ = State::Head;
  HttpMessage message_;
  std::string line_;
  bool sawStart_ = false;
  size_t expected_ = 0;
};

}  // namespace updates

#include "packet_reader.h"

#include <cstring>

namespace olvaro::conn {

void PacketReader::resetReader() {
  readState_ = ReadState::CommandLine;
  ++resets_;
}

bool PacketReader::onHeader(const std::string& name, const std::string& value) {
  currentPacket_.setHeader(name, value);
  return true;
}

bool PacketReader::onHeadersComplete() {
  readState_ = currentPacket_.getHeaderInt("Content-Length") != 0 ? ReadState::Body : ReadState::Dispatch;
  return true;
}

PacketReader::Line PacketReader::takeLine(const std::string& input, size_t& pos, std::string& line) const {
  const char* start = input.data() + pos;
  size_t available = input.size() - pos;
  const void* lf = std::memchr(start, '\n', available);
  if (!lf) return available > limits_.maxLine ? Line::TooLong : Line::NeedMore;
  size_t length = size_t(static_cast<const char*>(lf) - start);
  if (length > limits_.maxLine) return Line::TooLong;
  // CR LF line ends: the line is cut at its last CR.
  const void* cr = length ? memrchr(start, '\r', length) : nullptr;
  line.assign(start, cr ? size_t(static_cast<const char*>(cr) - start) : length);
  pos += length + 1;
  return Line::Got;
}

bool PacketReader::read(std::string& input) {
  // A handler may send and so service the socket, which reads again: the
  // outer run picks up those bytes itself.
  if (reading_) return true;
  reading_ = true;
  const uint64_t resets = resets_;
  size_t pos = 0;
  bool ok = true;
  std::string line;
  bool progress = true;
  while (ok && progress) {
    progress = false;
    switch (readState_) {
      case ReadState::CommandLine: {
        Line got = takeLine(input, pos, line);
        if (got == Line::TooLong) ok = false;
        if (got != Line::Got) break;
        currentPacket_.command = line;
        currentPacket_.headers.clear();
        currentPacket_.body.clear();
        readState_ = ReadState::Headers;
        progress = true;
        break;
      }
      case ReadState::Headers: {
        Line got = takeLine(input, pos, line);
        if (got == Line::TooLong) ok = false;
        if (got != Line::Got) break;
        progress = true;
        if (line.empty()) {
          onHeadersComplete();
          if (resets_ != resets) progress = false;
          break;
        }
        size_t colon = line.find(':');
        if (colon == std::string::npos) break;  // not a header: skipped
        size_t valueAt = colon + 1;
        if (valueAt < line.size() && line[valueAt] == ' ') ++valueAt;
        bool more = onHeader(line.substr(0, colon), line.substr(valueAt));
        if (resets_ != resets) {
          progress = false;
          break;
        }
        if (currentPacket_.headers.size() > limits_.maxHeaders) ok = false;
        if (!more) progress = false;
        break;
      }
      case ReadState::Body: {
        int32_t length = currentPacket_.getHeaderInt("Content-Length");
        if (length < 0 || length > limits_.maxBody) {
          ok = false;
          break;
        }
        size_t want = size_t(length);
        std::string& body = currentPacket_.body;
        if (body.size() < want) {
          size_t take = std::min(want - body.size(), input.size() - pos);
          body.append(input, pos, take);
          pos += take;
        }
        if (body.size() >= want) {
          readState_ = ReadState::Dispatch;
          progress = true;
        }
        break;
      }
      case ReadState::Dispatch:
        onPacket(currentPacket_);
        if (resets_ != resets) break;  // the link closed under us; the input is gone
        readState_ = ReadState::CommandLine;
        progress = true;
        break;
    }
  }
  if (resets_ == resets) input.erase(0, pos);
  reading_ = false;
  return ok;
}

}  // namespace olvaro::conn

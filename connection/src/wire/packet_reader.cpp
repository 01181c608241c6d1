#include "packet_reader.h"

#include <algorithm>
#include <cstring>

namespace olvaro::conn {

void PacketReader::reset() {
  state_ = ReadState::CommandLine;
  line_.clear();
}

bool PacketReader::takeLine(const char*& at, const char* end, std::string_view* line, bool* tooLong) {
  size_t available = size_t(end - at);
  const void* lf = std::memchr(at, '\n', available);
  if (!lf) {
    if (line_.size() + available > limits_.maxLine) {
      *tooLong = true;
      return false;
    }
    line_.append(at, available);
    at = end;
    return false;
  }
  size_t take = size_t(static_cast<const char*>(lf) - at);
  if (line_.size() + take > limits_.maxLine) {
    *tooLong = true;
    return false;
  }
  // A line that arrived in one piece is read in place; only a line split
  // across receives is gathered in line_.
  if (line_.empty()) {
    *line = std::string_view(at, take);
  } else {
    line_.append(at, take);
    *line = line_;
  }
  at += take + 1;
  // CR LF line ends: the line is cut at its last CR.
  if (!line->empty())
    if (const void* cr = memrchr(line->data(), '\r', line->size()))
      *line = line->substr(0, size_t(static_cast<const char*>(cr) - line->data()));
  return true;
}

void PacketReader::startPacket(std::string_view command) {
  packet_.command.assign(command);
  Headers& headers = packet_.headers;
  while (!headers.empty()) spare_.push_back(headers.extract(headers.begin()));
  packet_.body.clear();
  contentLength_ = 0;
  state_ = ReadState::Headers;
}

void PacketReader::addHeader(std::string_view text) {
  const char* line = text.data();
  size_t length = text.size();
  const char* colon = static_cast<const char*>(std::memchr(line, ':', length));
  if (!colon) return;  // not a header: skipped
  const char* value = colon + 1;
  const char* end = line + length;
  if (value < end && *value == ' ') ++value;
  Node node;
  if (!spare_.empty()) {
    node = std::move(spare_.back());
    spare_.pop_back();
  } else {
    node = Headers{{std::string(), std::string()}}.extract(std::string());
  }
  std::string& name = node.key();
  name.assign(line, size_t(colon - line));
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  std::string& stored = node.mapped();
  stored.assign(value, size_t(end - value));
  if (name == "content-length") contentLength_ = parseInt(stored);
  // Senders write headers in name order, so the end is the likely place.
  Headers& headers = packet_.headers;
  auto position = headers.insert(headers.end(), std::move(node));
  if (node) {  // a repeated name keeps its last value
    position->second.swap(node.mapped());
    spare_.push_back(std::move(node));
  }
}

PacketReader::Result PacketReader::headersDone() {
  int32_t length = contentLength_;
  if (length < 0 || length > limits_.maxBody) return Result::Error;
  bodyLength_ = size_t(length);
  if (bodyLength_ == 0) {
    state_ = ReadState::CommandLine;
    return Result::Packet;
  }
  // Announced lengths are not trusted for more than a modest head start.
  packet_.body.reserve(std::min<size_t>(bodyLength_, 64 * 1024));
  state_ = ReadState::Body;
  return Result::NeedMore;
}

PacketReader::Result PacketReader::parse(const char* data, size_t size, size_t* used) {
  const char* at = data;
  const char* end = data + size;
  Result result = Result::NeedMore;
  bool tooLong = false;
  std::string_view line;
  while (at < end && result == Result::NeedMore) {
    switch (state_) {
      case ReadState::CommandLine:
        if (!takeLine(at, end, &line, &tooLong)) break;
        startPacket(line);
        line_.clear();
        break;
      case ReadState::Headers:
        if (!takeLine(at, end, &line, &tooLong)) break;
        if (line.empty()) {
          result = headersDone();
        } else {
          addHeader(line);
          if (packet_.headers.size() > limits_.maxHeaders) result = Result::Error;
        }
        line_.clear();
        break;
      case ReadState::Body: {
        size_t take = std::min(bodyLength_ - packet_.body.size(), size_t(end - at));
        packet_.body.append(at, take);
        at += take;
        if (packet_.body.size() == bodyLength_) {
          state_ = ReadState::CommandLine;
          result = Result::Packet;
        }
        break;
      }
    }
    if (tooLong) result = Result::Error;
  }
  *used = size_t(at - data);
  return result;
}

}  // namespace olvaro::conn

#include "packet.h"

#include <limits>

namespace olvaro::conn {

std::string lowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return text;
}

int32_t parseInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  constexpr int64_t kLimit = int64_t(std::numeric_limits<int32_t>::max()) + 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kLimit) value = kLimit;  // saturate: no overflow on absurd input
  }
  if (negative) return int32_t(-value);
  return value > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max() : int32_t(value);
}

uint64_t parseId(const std::string& text) {
  uint64_t value = 0;
  for (size_t i = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = value * 10 + uint64_t(text[i] - '0');
  return value;
}

void Packet::setHeader(const std::string& name, const std::string& value) { headers[lowerAscii(name)] = value; }

void Packet::setHeaderInt(const std::string& name, int32_t value) { setHeader(name, std::to_string(value)); }

void Packet::setHeaderId(const std::string& name, uint64_t value) { setHeader(name, std::to_string(value)); }

std::string Packet::getHeader(const std::string& name) const {
  auto it = headers.find(lowerAscii(name));
  return it == headers.end() ? std::string() : it->second;
}

bool Packet::hasHeader(const std::string& name) const { return headers.count(lowerAscii(name)) != 0; }

int32_t Packet::getHeaderInt(const std::string& name) const { return parseInt(getHeader(name)); }

uint64_t Packet::getHeaderId(const std::string& name) const { return parseId(getHeader(name)); }

std::string Packet::serialize() {
  if (!body.empty()) setHeader("Content-Length", std::to_string(body.size()));
  std::string out;
  out.reserve(command.size() + body.size() + 32 * headers.size() + 2);
  out += command;
  out += '\n';
  for (const auto& [name, value] : headers) {
    if (value.empty()) continue;  // an empty value removes the header from the wire
    out += name;
    out += ": ";
    out += value;
    out += '\n';
  }
  out += '\n';
  out += body;
  return out;
}

}  // namespace olvaro::conn

#include "timestamp.h"

#include <algorithm>
#include <limits>

#include "packet.h"

namespace olvaro::conn {

bool Timestamp::parse(std::string_view text, Timestamp* out) {
  size_t dot = text.find('.');
  if (dot == std::string_view::npos || text.find('.', dot + 1) != std::string_view::npos) return false;
  out->sec = parseInt(std::string(text.substr(0, dot)));
  out->usec = parseInt(std::string(text.substr(dot + 1)));
  return true;
}

bool Timestamp::scan(std::string_view text, Timestamp* out) {
  auto digit = [&](size_t i) { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };
  size_t end = 0;
  while (end < text.size() && (text[end] == ' ' || (text[end] >= '\t' && text[end] <= '\r'))) ++end;
  if (end < text.size() && (text[end] == '+' || text[end] == '-')) ++end;
  if (!digit(end)) return false;
  while (digit(end)) ++end;
  Timestamp t;
  t.sec = parseInt(std::string(text.substr(0, end)));
  if (end < text.size() && text[end] == '.') t.usec = parseInt(std::string(text.substr(end + 1)));
  *out = t;
  return true;
}

std::string Timestamp::toString() const { return std::to_string(sec) + "." + std::to_string(usec); }

Timestamp Timestamp::difference(const Timestamp& a, const Timestamp& b) {
  int64_t sec = int64_t(a.sec) - b.sec;
  int64_t usec = int64_t(a.usec) - b.usec;
  sec += usec / 1000000;
  usec %= 1000000;
  if (usec < 0) {
    usec += 1000000;
    sec -= 1;
  }
  sec = std::clamp<int64_t>(sec, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
  return {int32_t(sec), int32_t(usec)};
}

}  // namespace olvaro::conn

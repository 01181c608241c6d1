#include "timestamp.h"

#include "packet.h"

namespace olvaro::conn {

bool Timestamp::parse(std::string_view text, Timestamp* out) {
  size_t dot = text.find('.');
  if (dot == std::string_view::npos || text.find('.', dot + 1) != std::string_view::npos) return false;
  out->sec = parseInt(std::string(text.substr(0, dot)));
  out->usec = parseInt(std::string(text.substr(dot + 1)));
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
  return {int32_t(sec), int32_t(usec)};
}

}  // namespace olvaro::conn

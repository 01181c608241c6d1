// Times of the session: UTC seconds and microseconds, from the platform clock.
// Server times travel as the text "sec.usec".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>

#include "platform/clock.h"

namespace olvaro::conn {

struct Timestamp {
  int32_t sec = 0;
  int32_t usec = 0;

  static Timestamp now() {
    int64_t ms = platform::clockNowUnixMs();
    return {int32_t(ms / 1000), int32_t(ms % 1000) * 1000};
  }
  // "sec.usec" with exactly one dot and decimal parts (each read as atoi
  // does); false leaves `out` alone.
  static bool parse(std::string_view text, Timestamp* out);
  // A message's time: "sec" or "sec.usec", read as "%d.%d" reads it; false
  // (and `out` left alone) when the text does not start with a number.
  static bool scan(std::string_view text, Timestamp* out);
  std::string toString() const;

  bool isSet() const { return sec != 0 || usec != 0; }
  Timestamp plusSeconds(int32_t s) const { return {sec + s, usec}; }
  // a - b with the microseconds kept in [0, 1000000) and the seconds held
  // within 32 bits.
  static Timestamp difference(const Timestamp& a, const Timestamp& b);

  friend bool operator<(const Timestamp& a, const Timestamp& b) {
    return std::tie(a.sec, a.usec) < std::tie(b.sec, b.usec);
  }
  friend bool operator==(const Timestamp& a, const Timestamp& b) { return a.sec == b.sec && a.usec == b.usec; }
};

}  // namespace olvaro::conn

// One protocol packet: a command line, headers kept in byte order of their
// names, and a body that may hold binary data.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace olvaro::conn {

class Packet {
 public:
  Packet() = default;
  explicit Packet(std::string command) : command(std::move(command)) {}

  // Names are lower-cased, so lookups are case-insensitive and such headers
  // leave the client in lower case.
  void setHeader(const std::string& name, const std::string& value);
  void setHeaderInt(const std::string& name, int32_t value);
  void setHeaderId(const std::string& name, uint64_t value);

  std::string getHeader(const std::string& name) const;
  bool hasHeader(const std::string& name) const;
  // atoi rules: leading white space, optional sign, digits; out-of-range
  // values saturate instead of overflowing.
  int32_t getHeaderInt(const std::string& name) const;
  // Leading digits only, as unsigned 64-bit.
  uint64_t getHeaderId(const std::string& name) const;

  // The wire form. Adds "content-length" when there is a body.
  std::string serialize();

  std::string command;
  std::map<std::string, std::string> headers;  // byte order of the names
  std::string body;
};

std::string lowerAscii(std::string text);
int32_t parseInt(const std::string& text);
uint64_t parseId(const std::string& text);

}  // namespace olvaro::conn

// The protocol servers to try, from "Connection/Servers/List" (host:port
// entries separated by commas; "tls:host:port" for an encrypted link,
// "[::1]:port" for an IPv6 literal), with a cursor that moves on after a
// failed direct connect.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace olvaro::conn {

struct ServerEntry {
  std::string host;  // an IPv6 literal without its brackets
  int32_t port = 0;
  bool tls = false;  // written "tls:host:port"
};

// host:port, with an IPv6 literal in brackets.
std::string hostAndPort(const std::string& host, int32_t port);

// Our own default protocol server; see README.md.
inline constexpr const char* kDefaultServerHost = "im.olvaro.net";

// A TCP port: 1 to 65535 (anything else would wrap on the socket call).
inline bool isValidPort(long port) { return port >= 1 && port <= 65535; }

class ServerList {
 public:
  static ServerList& instance();

  // Reads the setting; an empty result gives the two default entries, which
  // are then written back. Items without ":" or with a port outside
  // 1-65535 are skipped.
  void load();
  void save() const;
  const ServerEntry& current();
  void advance();

  const std::vector<ServerEntry>& entries() const { return entries_; }
  size_t currentIndex() const { return current_; }
  // Forgets the list so the next use reads the setting again.
  void reset();

  static std::vector<ServerEntry> parse(const std::string& text);
  static std::string format(const std::vector<ServerEntry>& entries);

 private:
  void ensureLoaded();
  bool loaded_ = false;
  std::vector<ServerEntry> entries_;
  size_t current_ = 0;
};

}  // namespace olvaro::conn

#include "server_list.h"

#include "olvaro/api.h"
#include "packet.h"

namespace olvaro::conn {

namespace {
constexpr const char* kSetting = "Connection/Servers/List";
constexpr int kSettingSize = 256;
}  // namespace

std::string hostAndPort(const std::string& host, int32_t port) {
  bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

ServerList& ServerList::instance() {
  static ServerList list;
  return list;
}

std::vector<ServerEntry> ServerList::parse(const std::string& text) {
  std::vector<ServerEntry> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t comma = text.find(',', start);
    size_t end = comma == std::string::npos ? text.size() : comma;
    std::string item = text.substr(start, end - start);
    bool tls = item.rfind("tls:", 0) == 0;
    if (tls) item.erase(0, 4);
    std::string host;
    size_t colon = std::string::npos;
    if (!item.empty() && item[0] == '[') {
      size_t close = item.find(']');
      if (close != std::string::npos && close + 1 < item.size() && item[close + 1] == ':') {
        host = item.substr(1, close - 1);
        colon = close + 1;
      }
    } else {
      colon = item.find(':');
      if (colon != std::string::npos) host = item.substr(0, colon);
    }
    // Without a port, or with one no socket can have, the entry cannot be
    // used at all.
    if (colon != std::string::npos) {
      int32_t port = parseInt(item.substr(colon + 1));
      if (isValidPort(port)) out.push_back({host, port, tls});
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out;
}

std::string ServerList::format(const std::vector<ServerEntry>& entries) {
  std::string text;
  for (const ServerEntry& e : entries) {
    if (!text.empty()) text += ',';
    text += (e.tls ? "tls:" : "") + hostAndPort(e.host, e.port);
  }
  return text;
}

void ServerList::load() {
  char buffer[kSettingSize + 1] = {};
  KS_GetSettingString(kSetting, "", buffer, sizeof buffer);
  entries_ = parse(buffer);
  if (entries_.empty()) {
    entries_ = {{kDefaultServerHost, 443}, {kDefaultServerHost, 12345}};
    save();
  }
  current_ = 0;
  loaded_ = true;
}

void ServerList::save() const { KS_SetSettingString(kSetting, format(entries_).c_str()); }

void ServerList::ensureLoaded() {
  if (!loaded_) load();
}

const ServerEntry& ServerList::current() {
  ensureLoaded();
  return entries_[current_];
}

void ServerList::advance() {
  ensureLoaded();
  current_ = (current_ + 1) % entries_.size();
}

void ServerList::reset() {
  loaded_ = false;
  entries_.clear();
  current_ = 0;
}

}  // namespace olvaro::conn

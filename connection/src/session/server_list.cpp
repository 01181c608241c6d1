#include "server_list.h"

#include "olvaro/api.h"
#include "packet.h"

namespace olvaro::conn {

namespace {
constexpr const char* kSetting = "Connection/Servers/List";
constexpr int kSettingSize = 256;
}  // namespace

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
    size_t colon = item.find(':');
    // Without a port, or with one no socket can have, the entry cannot be
    // used at all.
    if (colon != std::string::npos) {
      int32_t port = parseInt(item.substr(colon + 1));
      if (isValidPort(port)) out.push_back({item.substr(0, colon), port});
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
    text += e.host + ':' + std::to_string(e.port);
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

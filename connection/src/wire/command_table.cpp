#include "command_table.h"

namespace olvaro::conn {

void CommandTable::enterCall(const std::string& command, void* owner, Call call) { table_[command] = {owner, call}; }

void CommandTable::remove(const std::string& command) { table_.erase(command); }

void CommandTable::removeOwner(const void* owner) {
  for (auto it = table_.begin(); it != table_.end();) it = it->second.owner == owner ? table_.erase(it) : std::next(it);
}

bool CommandTable::dispatch(Packet& packet) const {
  auto it = table_.find(packet.command);
  if (it == table_.end()) return false;
  // A copy: the handler may change the table (an area created or destroyed).
  Entry entry = it->second;
  return entry.call(entry.owner, packet);
}

}  // namespace olvaro::conn

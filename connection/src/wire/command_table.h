// Which handler takes a received packet: exact, case-sensitive commands, each
// entered by the object that handles it and removed with it.
//
//   commands.enter<&Groups::onGroupDetail>("GROUP DETAIL", this);
#pragma once

#include <map>
#include <string>

#include "packet.h"

namespace olvaro::conn {

class CommandTable {
 public:
  using Call = bool (*)(void* owner, Packet& packet);

  template <auto Method, class Owner>
  void enter(const std::string& command, Owner* owner) {
    enterCall(command, owner, [](void* o, Packet& p) -> bool { return (static_cast<Owner*>(o)->*Method)(p); });
  }
  // Replaces any handler entered for the command before.
  void enterCall(const std::string& command, void* owner, Call call);
  void remove(const std::string& command);
  void removeOwner(const void* owner);

  // Calls the command's handler; false when there is none (the packet is
  // dropped) or the handler returned false.
  bool dispatch(Packet& packet) const;
  bool contains(const std::string& command) const { return table_.count(command) != 0; }
  size_t size() const { return table_.size(); }

 private:
  struct Entry {
    void* owner;
    Call call;
  };
  std::map<std::string, Entry, std::less<>> table_;
};

}  // namespace olvaro::conn

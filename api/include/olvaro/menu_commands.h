// Command ids of the main window's menu. A menu delivers 16 bits of id, and
// the host's items and every plug-in's share one menu bar and one
// "core.window.OnCommand" event, so the ids come from one place: the host's
// fixed commands below, and the hub's pool for whatever a plug-in adds.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "olvaro/api.h"

namespace olvaro {

// The host's own commands (its soft keys and the items of its menu resource).
enum HostCommand : uint32_t {
  kCommandHide = 1,
  kCommandMenu = 103,
  kCommandAbout = 40004,
  kCommandExit = 40005,
  kCommandSettings = 40015,
  kCommandAddService = 40023,
};

// The pool the hub hands plug-in commands from; no host command lies in it.
inline constexpr uint32_t kFirstPluginCommand = 0xC000;
inline constexpr uint32_t kLastPluginCommand = 0xFEFF;
static_assert(kCommandAddService < kFirstPluginCommand && kLastPluginCommand <= 0xFFFF);

// N commands held from the pool for as long as the object lives. An id of 0
// (the pool ran dry) matches no command.
template <size_t N>
class MenuCommands {
 public:
  MenuCommands() {
    for (uint32_t& id : ids_) id = KS_NewMenuCommand();
  }
  ~MenuCommands() {
    for (uint32_t id : ids_) KS_FreeMenuCommand(id);
  }
  MenuCommands(const MenuCommands&) = delete;
  MenuCommands& operator=(const MenuCommands&) = delete;

  uint32_t operator[](size_t i) const { return ids_[i]; }
  // The index of `command`, or N when it is none of these.
  size_t find(uint32_t command) const {
    for (size_t i = 0; i < N; ++i)
      if (command != 0 && ids_[i] == command) return i;
    return N;
  }

 private:
  std::array<uint32_t, N> ids_{};
};

}  // namespace olvaro

// A group member's role, as the bits of the member's value in the hub, and
// the "olvaro/x-admin" message the connection raises when a role changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace olvaro {

enum MemberRole : int32_t {
  kRoleAdmin = 1,
  kRoleModerator = 2,
  kRoleBanned = 4,
  kRoleSilenced = 8,
  kRoleKicked = 16,
};

inline constexpr char kRoleChangeType[] = "olvaro/x-admin";

// The payload of a role change: bytes 0-3 the new role and 4-11 the member's
// id (both little-endian), then the member's nickname without terminator.
struct RoleChange {
  int32_t role = 0;
  int64_t member = 0;
  std::string nickname;

  static constexpr size_t kFixedSize = 12;

  std::string encode() const {
    std::string out;
    out.reserve(kFixedSize + nickname.size());
    uint32_t r = uint32_t(role);
    for (int i = 0; i < 4; ++i) out += char((r >> (8 * i)) & 0xff);
    uint64_t id = uint64_t(member);
    for (int i = 0; i < 8; ++i) out += char((id >> (8 * i)) & 0xff);
    out += nickname;
    return out;
  }

  // Nothing for a payload shorter than the fixed part.
  static std::optional<RoleChange> decode(std::string_view payload) {
    if (payload.size() < kFixedSize) return std::nullopt;
    RoleChange change;
    uint32_t r = 0;
    for (int i = 3; i >= 0; --i) r = (r << 8) | uint8_t(payload[size_t(i)]);
    uint64_t id = 0;
    for (int i = 11; i >= 4; --i) id = (id << 8) | uint8_t(payload[size_t(i)]);
    change.role = int32_t(r);
    change.member = int64_t(id);
    change.nickname = std::string(payload.substr(kFixedSize));
    return change;
  }
};

}  // namespace olvaro

// The text form of one registry hive:
//
//   ; olvaro registry 1
//   [SOFTWARE\\Orvalo\\Settings]
//   "connection.user"=sz:"bob@example.org"
//   "advanced.powersave"=dword:00000001
//   "blob"=hex(3):01,ff,20
//
// Key paths and names are written as UTF-8 with the escapes \\ \" \n \r \t
// and \uXXXX (one UTF-16 unit, for control characters and lone
// surrogates), so any UTF-16 text survives the round trip. REG_SZ data that
// is not one NUL-terminated text, and every other type, is written as hex.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace platform {

struct RegValue {
  std::u16string name;  // as given by the writer
  DWORD type = 0;
  std::vector<uint8_t> data;
};

struct RegKeyNode {
  std::u16string path;  // as given by the writer; "" for the hive's root
  std::map<std::u16string, RegValue> values;  // by folded name
};

// By folded path ("" is the root and always exists).
using RegHive = std::map<std::u16string, RegKeyNode>;

// Upper bounds that keep a damaged or hostile file from taking unbounded
// memory; larger files are refused whole.
inline constexpr size_t kMaxHiveFileBytes = 32u << 20;
inline constexpr size_t kMaxValueBytes = 1u << 20;
inline constexpr size_t kMaxNameChars = 16383;

// Case folding for key paths and value names (ASCII letters only).
std::u16string regFold(std::u16string_view s);

// Reads a hive's text. Every sound line is taken; returns false when any
// line (or the header) was missing, malformed or over a bound.
bool parseHive(std::string_view text, RegHive* out);
// Writes the hive, keys in folded order; keys for which `skip` is true are
// left out.
std::string serializeHive(const RegHive& hive, bool (*skip)(const std::u16string& foldedPath) = nullptr);

}  // namespace platform

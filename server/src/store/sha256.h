#pragma once
#include <string>
#include <string_view>

namespace olvaro::server {
// Hex digest; passwords are kept only as salted digests.
std::string sha256_hex(std::string_view data);
}

#pragma once
// What the store keeps secret: account and group passwords as Argon2id
// hashes, and bridged accounts' passwords (which the server must send again
// to the other network) sealed with a key kept outside the database.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace olvaro::server {

// The work one password hash costs. Interactive is the library's own
// recommendation for a sign-in; a test server may use the least it allows.
struct HashCost {
    unsigned long long ops = 0;
    size_t memory = 0;
    static HashCost interactive();
    static HashCost least();
};

// An Argon2id hash string, or empty when the memory for it was not there.
std::string hash_password(std::string_view password, HashCost cost);

enum class PasswordMatch { kWrong, kRight, kRightButStale };
// Checks against what is stored: an Argon2id hash, or a hash of an earlier
// version of the server (SHA-256 of salt and password, kept as hex), which
// matches as stale so that the caller hashes it anew.
PasswordMatch match_password(std::string_view password, const std::string& salt, const std::string& stored,
                             HashCost cost);

// Seals and opens small secrets with one key. The key lives in a file of
// its own (0600) beside the database, made at the first start; a database
// in memory gets a key for the run only.
class SecretBox {
public:
    bool load_or_create(const std::string& path, std::string* error);
    void make_ephemeral();
    std::string seal(std::string_view plain) const;
    // Null when `sealed` was not sealed with this key (or is no sealed text).
    std::optional<std::string> open(std::string_view sealed) const;
    static bool looks_sealed(std::string_view data);

private:
    std::array<unsigned char, 32> key_{};
};

}  // namespace olvaro::server

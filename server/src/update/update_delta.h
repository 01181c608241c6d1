#pragma once
// Block-matching deltas for the update server: librsync finds the blocks of
// the installed file in the new one; the matches are stretched byte by byte
// over the literals between them, so a small change costs about its own size.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace olvaro::server {

struct DeltaOp {
    bool copy = false;     // copy from the installed file, else literal from the new one
    uint64_t offset = 0;   // in the installed file (copy) or the new file (literal)
    uint64_t length = 0;
};

// Operations that rebuild `fresh` from `installed`; empty when librsync
// fails (the caller then sends the file whole). The result is checked by
// replaying it, so a weak-sum collision can never reach a client.
std::vector<DeltaOp> block_delta(std::string_view installed, std::string_view fresh, size_t block = 256);

// Replays `ops` (for the check above and the tests).
std::string replay_delta(const std::vector<DeltaOp>& ops, std::string_view installed, std::string_view fresh);

}  // namespace olvaro::server

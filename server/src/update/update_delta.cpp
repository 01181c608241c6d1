#include "update_delta.h"

#include <librsync.h>

#include <cstdio>
#include <cstring>

namespace olvaro::server {

namespace {

// A FILE over memory for librsync's whole-file calls.
struct MemoryOut {
    char* data = nullptr;
    size_t size = 0;
    FILE* file = nullptr;
    MemoryOut() { file = open_memstream(&data, &size); }
    ~MemoryOut() {
        if (file) fclose(file);
        free(data);
    }
    std::string_view finish() {
        fflush(file);
        return {data, size};
    }
};

FILE* read_memory(std::string_view bytes) {
    // fmemopen refuses a zero-length buffer; an empty file reads as empty.
    static char empty = 0;
    return bytes.empty() ? fmemopen(&empty, 1, "r") : fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "r");
}

uint64_t big_endian(const unsigned char* p, int width) {
    uint64_t v = 0;
    for (int i = 0; i < width; ++i) v = v << 8 | p[i];
    return v;
}

// Turns librsync's delta stream (its documented command table: literals of
// 1..64 bytes inline, literals and copies with 1/2/4/8-byte big-endian
// parameters) into operations. False on anything unexpected.
bool parse_rsync_delta(std::string_view delta, std::vector<DeltaOp>* ops) {
    const auto* p = reinterpret_cast<const unsigned char*>(delta.data());
    const unsigned char* end = p + delta.size();
    if (end - p < 4 || big_endian(p, 4) != RS_DELTA_MAGIC) return false;
    p += 4;
    static const int kWidths[] = {1, 2, 4, 8};
    uint64_t at = 0;  // position in the new file
    while (p < end) {
        unsigned op = *p++;
        if (op == 0) return p == end;
        uint64_t length = 0;
        if (op <= 0x40) {
            length = op;
        } else if (op <= 0x44) {
            int w = kWidths[op - 0x41];
            if (end - p < w) return false;
            length = big_endian(p, w);
            p += w;
        } else if (op <= 0x54) {
            int wo = kWidths[(op - 0x45) / 4], wl = kWidths[(op - 0x45) % 4];
            if (end - p < wo + wl) return false;
            uint64_t offset = big_endian(p, wo);
            length = big_endian(p + wo, wl);
            p += wo + wl;
            ops->push_back({true, offset, length});
            at += length;
            continue;
        } else {
            return false;
        }
        if (uint64_t(end - p) < length) return false;
        p += length;  // the bytes are the new file's own, at `at`
        ops->push_back({false, at, length});
        at += length;
    }
    return false;
}

// Stretches each copy over the literal bytes next to it that match the
// installed file, then merges what touches.
std::vector<DeltaOp> tighten(std::vector<DeltaOp> ops, std::string_view old, std::string_view fresh) {
    std::vector<DeltaOp> out;
    for (size_t i = 0; i < ops.size(); ++i) {
        DeltaOp op = ops[i];
        if (op.copy || op.length == 0) {
            if (op.length) out.push_back(op);
            continue;
        }
        if (!out.empty() && out.back().copy) {
            DeltaOp& prev = out.back();
            while (op.length && prev.offset + prev.length < old.size() &&
                   old[prev.offset + prev.length] == fresh[op.offset]) {
                ++prev.length;
                ++op.offset;
                --op.length;
            }
        }
        if (i + 1 < ops.size() && ops[i + 1].copy) {
            DeltaOp& next = ops[i + 1];
            while (op.length && next.offset > 0 && old[next.offset - 1] == fresh[op.offset + op.length - 1]) {
                --next.offset;
                ++next.length;
                --op.length;
            }
        }
        if (!op.length) continue;
        if (!out.empty() && !out.back().copy && out.back().offset + out.back().length == op.offset)
            out.back().length += op.length;
        else
            out.push_back(op);
    }
    return out;
}

// Inside a literal, code that moved by the same distance as the copy before
// or after it often matches again between small edits (addresses and
// offsets that changed): such runs along those two diagonals become copies
// when they are long enough to pay for their operation.
std::vector<DeltaOp> along_diagonals(const std::vector<DeltaOp>& ops, std::string_view old, std::string_view fresh) {
    constexpr uint64_t kMinRun = 16;
    std::vector<DeltaOp> out;
    uint64_t at = 0;  // position in the new file
    for (size_t i = 0; i < ops.size(); ++i) {
        const DeltaOp& op = ops[i];
        if (op.copy) {
            out.push_back(op);
            at += op.length;
            continue;
        }
        int64_t diagonals[2];
        int count = 0;
        if (i > 0 && ops[i - 1].copy) diagonals[count++] = int64_t(ops[i - 1].offset) - int64_t(at - ops[i - 1].length);
        if (i + 1 < ops.size() && ops[i + 1].copy)
            diagonals[count++] = int64_t(ops[i + 1].offset) - int64_t(at + op.length);
        uint64_t end = op.offset + op.length, literal = op.offset;
        auto flush_literal = [&](uint64_t upto) {
            if (upto > literal) out.push_back({false, literal, upto - literal});
        };
        for (uint64_t j = op.offset; j < end;) {
            uint64_t best = 0;
            int64_t best_d = 0;
            for (int k = 0; k < count; ++k) {
                int64_t o = int64_t(j) + diagonals[k];
                if (o < 0 || uint64_t(o) >= old.size()) continue;
                uint64_t n = 0;
                while (j + n < end && uint64_t(o) + n < old.size() && old[uint64_t(o) + n] == fresh[j + n]) ++n;
                if (n > best) best = n, best_d = diagonals[k];
            }
            if (best >= kMinRun) {
                flush_literal(j);
                out.push_back({true, uint64_t(int64_t(j) + best_d), best});
                j += best;
                literal = j;
            } else {
                j += best ? best : 1;
            }
        }
        flush_literal(end);
        at += op.length;
    }
    return out;
}

std::vector<DeltaOp> merge(const std::vector<DeltaOp>& out) {
    std::vector<DeltaOp> merged;
    for (const DeltaOp& op : out) {
        DeltaOp* last = merged.empty() ? nullptr : &merged.back();
        if (last && last->copy == op.copy && last->offset + last->length == op.offset)
            last->length += op.length;
        else
            merged.push_back(op);
    }
    return merged;
}

}  // namespace

std::string replay_delta(const std::vector<DeltaOp>& ops, std::string_view installed, std::string_view fresh) {
    std::string out;
    for (const DeltaOp& op : ops) {
        std::string_view from = op.copy ? installed : fresh;
        if (op.offset > from.size() || op.length > from.size() - op.offset) return {};
        out.append(from.substr(op.offset, op.length));
    }
    return out;
}

std::vector<DeltaOp> block_delta(std::string_view installed, std::string_view fresh, size_t block) {
    if (fresh.empty()) return {};
    if (installed.empty()) return {{false, 0, fresh.size()}};
    MemoryOut sig_out, delta_out;
    FILE* old_in = read_memory(installed);
    if (!old_in || !sig_out.file || !delta_out.file) {
        if (old_in) fclose(old_in);
        return {};
    }
    // The strongest sums: a false match would build a wrong module.
    rs_result r = rs_sig_file(old_in, sig_out.file, block, RS_MAX_STRONG_SUM_LENGTH, RS_RK_BLAKE2_SIG_MAGIC, nullptr);
    fclose(old_in);
    if (r != RS_DONE) return {};
    std::string_view sig = sig_out.finish();
    FILE* sig_in = read_memory(sig);
    rs_signature_t* sums = nullptr;
    r = sig_in ? rs_loadsig_file(sig_in, &sums, nullptr) : RS_IO_ERROR;
    if (sig_in) fclose(sig_in);
    if (r != RS_DONE || rs_build_hash_table(sums) != RS_DONE) {
        if (sums) rs_free_sumset(sums);
        return {};
    }
    FILE* new_in = read_memory(fresh);
    r = new_in ? rs_delta_file(sums, new_in, delta_out.file, nullptr) : RS_IO_ERROR;
    if (new_in) fclose(new_in);
    rs_free_sumset(sums);
    if (r != RS_DONE) return {};
    std::vector<DeltaOp> ops;
    if (!parse_rsync_delta(delta_out.finish(), &ops)) return {};
    ops = merge(along_diagonals(tighten(std::move(ops), installed, fresh), installed, fresh));
    if (replay_delta(ops, installed, fresh) != fresh) return {};
    return ops;
}

}  // namespace olvaro::server

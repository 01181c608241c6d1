#include "update_release.h"

#include <sodium.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <tuple>

#include "build_stamp.h"
#include "update_delta.h"
#include "update_manifest.h"
#include "update_package.h"

namespace olvaro::server {

namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxModule = size_t(48) << 20;  // the client takes 64 MiB of package
constexpr uint32_t kMaxPiece = 0xFFFFFFFFu;

void put_literal(std::string* out, std::string_view bytes) {
    while (!bytes.empty()) {
        size_t n = std::min<size_t>(bytes.size(), kMaxPiece);
        out->push_back('\0');
        updates::putBigEndian32(out, uint32_t(n));
        out->append(bytes.substr(0, n));
        bytes.remove_prefix(n);
    }
}

void put_entry(std::string* body, const std::string& name, const std::string& ops) {
    body->append(name);
    body->push_back('\0');
    updates::putBigEndian32(body, uint32_t(ops.size()));
    body->append(ops);
}

bool read_file(const fs::path& path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out->assign(std::istreambuf_iterator<char>(in), {});
    return true;
}

}  // namespace

ReleaseStore::ReleaseStore(std::string folder, std::string secret_seed_hex) : folder_(std::move(folder)) {
    unsigned char seed[crypto_sign_SEEDBYTES], pk[crypto_sign_PUBLICKEYBYTES];
    size_t length = 0;
    key_ok_ = sodium_init() >= 0 &&
              sodium_hex2bin(seed, sizeof seed, secret_seed_hex.data(), secret_seed_hex.size(), nullptr, &length,
                             nullptr) == 0 &&
              length == sizeof seed && crypto_sign_seed_keypair(pk, secret_, seed) == 0;
    sodium_memzero(seed, sizeof seed);
}

void ReleaseStore::rescan() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::error_code error;
    std::map<std::string, uint32_t> current;
    auto look = [&](const fs::path& path, bool top) {
        std::string name = path.filename().string();
        if (!updates::isPlainFileName(name)) return;
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || size_t(st.st_size) > kMaxModule) return;
        if (top && name == "changelog.txt") {
            read_file(path, &changelog_);
            return;
        }
        int64_t mtime = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        uint32_t stamp = 0;
        auto seen = seen_.find(path.string());
        if (seen != seen_.end() && seen->second.size == int64_t(st.st_size) && seen->second.mtime == mtime) {
            stamp = seen->second.stamp;  // unchanged since the last look
        } else {
            auto bytes = std::make_shared<std::string>();
            if (!read_file(path, bytes.get())) return;
            stamp = updates::buildStampOf(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size());
            seen_[path.string()] = {int64_t(st.st_size), mtime, stamp};
            if (stamp) {
                Build& build = modules_[name].builds[stamp];
                if (!build.bytes) {
                    build.digest = updates::digestOf(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size());
                    build.bytes = std::move(bytes);
                }
            }
        }
        if (!stamp) return;  // not a module
        if (top) current[name] = stamp;
    };
    bool hadChangelog = false;
    for (const auto& entry : fs::directory_iterator(folder_, error)) {
        if (entry.is_directory(error)) {
            for (const auto& inner : fs::directory_iterator(entry.path(), error))
                if (inner.is_regular_file(error)) look(inner.path(), false);
        } else if (entry.is_regular_file(error)) {
            if (entry.path().filename() == "changelog.txt") hadChangelog = true;
            look(entry.path(), true);
        }
    }
    if (!hadChangelog) changelog_.clear();
    for (auto& [name, module] : modules_) {
        auto it = current.find(name);
        module.current = it == current.end() ? 0 : it->second;
    }
}

// The operations of one entry: a delta from the client's build when the
// server has it (source number `source`), else the new build whole.
std::string ReleaseStore::ops_for(const std::string& name, uint32_t from, uint32_t to, int source) {
    const Module& module = modules_[name];
    const std::string& fresh = *module.builds.at(to).bytes;
    std::string ops;
    auto old = module.builds.find(from);
    if (source > 0 && old != module.builds.end() && old->second.bytes) {
        auto key = std::make_tuple(name, from, to);
        auto cached = delta_cache_.find(key);
        if (cached == delta_cache_.end()) cached = delta_cache_.emplace(key, block_delta(*old->second.bytes, fresh)).first;
        for (const DeltaOp& op : cached->second) {
            if (op.copy) {
                ops.push_back(char(source));
                updates::putBigEndian32(&ops, uint32_t(op.offset));
                updates::putBigEndian32(&ops, uint32_t(op.length));
            } else {
                put_literal(&ops, std::string_view(fresh).substr(op.offset, op.length));
            }
        }
    }
    if (ops.empty()) put_literal(&ops, fresh);
    return ops;
}

UpdatePackage ReleaseStore::package_for(const std::vector<InstalledModule>& installed) {
    rescan();
    std::lock_guard<std::mutex> lock(mutex_);
    UpdatePackage package;
    if (!key_ok_) return package;
    struct Change {
        std::string name;
        uint32_t from, to;
        int source;
    };
    std::vector<Change> changes;
    std::set<std::string> listed;
    std::string sources;
    int count = 0;
    updates::Manifest manifest;
    // The manifest travels in one header line: what does not fit waits for
    // the next check. A source costs its name, a NUL and a digest; a target
    // that and a stamp.
    constexpr size_t kDigest = sizeof(updates::Digest);
    size_t manifest_size = 5 + kDigest + 1 + 2 + (changelog_.empty() ? 0 : sizeof "changelog.txt" + 4 + kDigest);
    for (const InstalledModule& m : installed) {
        auto it = modules_.find(m.name);
        // Only forward: a client with a newer build than the release keeps it.
        if (it == modules_.end() || !it->second.current || it->second.current <= m.build) continue;
        if (!updates::isTargetName(m.name) || listed.count(m.name)) continue;
        auto from = it->second.builds.find(m.build);
        // Copies can name 255 sources; past that a module goes whole.
        bool delta = from != it->second.builds.end() && count < 255;
        size_t cost = (m.name.size() + 1 + 4 + kDigest) + (delta ? m.name.size() + 1 + kDigest : 0);
        if (manifest_size + cost > updates::kMaxManifest) break;
        manifest_size += cost;
        listed.insert(m.name);
        int source = 0;
        if (delta) {
            source = ++count;
            if (!sources.empty()) sources += ",";
            sources += m.name;
            manifest.sources.push_back({m.name, from->second.digest});
        }
        changes.push_back({m.name, m.build, it->second.current, source});
        manifest.targets.push_back({m.name, it->second.current, it->second.builds.at(it->second.current).digest});
    }
    if (changes.empty()) return package;
    package.body = sources;
    package.body.push_back('\0');
    for (const Change& c : changes) put_entry(&package.body, c.name, ops_for(c.name, c.from, c.to, c.source));
    if (!changelog_.empty()) {
        std::string ops;
        put_literal(&ops, changelog_);
        put_entry(&package.body, "changelog.txt", ops);
        manifest.targets.push_back(
            {"changelog.txt", 0, updates::digestOf(reinterpret_cast<const uint8_t*>(changelog_.data()), changelog_.size())});
    }
    manifest.package = updates::digestOf(reinterpret_cast<const uint8_t*>(package.body.data()), package.body.size());
    std::string signed_bytes = updates::writeManifest(manifest);
    unsigned char sig[crypto_sign_BYTES];
    crypto_sign_detached(sig, nullptr, reinterpret_cast<const unsigned char*>(signed_bytes.data()), signed_bytes.size(),
                         secret_);
    char hex[2 * crypto_sign_BYTES + 1];
    sodium_bin2hex(hex, sizeof hex, sig, sizeof sig);
    package.signature = hex;
    package.manifest = updates::toBase64(signed_bytes);
    return package;
}

}  // namespace olvaro::server

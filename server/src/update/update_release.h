#pragma once
// The update server's releases and the packages it builds from them.
//
// The release folder holds the newest build of each module and, optionally,
// "changelog.txt"; older builds may lie in its subfolders (one level). Every
// module file seen is kept by name and build stamp, so a client that reports
// the stamp of a build the server has seen gets a delta against it; any
// other client gets the module whole.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "update_delta.h"
#include "update_manifest.h"

namespace olvaro::server {

struct InstalledModule {
    std::string name;
    uint32_t build = 0;
};

struct UpdatePackage {
    std::string body;       // empty: nothing to update
    std::string manifest;   // base64 of the manifest that binds the body
    std::string signature;  // hex Ed25519 signature of the manifest
};

class ReleaseStore {
public:
    // `secret_seed_hex`: the 32-byte Ed25519 seed the packages are signed with.
    ReleaseStore(std::string folder, std::string secret_seed_hex);

    // Looks at the folder again (cheap when nothing changed).
    void rescan();
    // The package for a client with these modules.
    UpdatePackage package_for(const std::vector<InstalledModule>& modules);
    bool key_valid() const { return key_ok_; }

private:
    struct Build {
        std::shared_ptr<const std::string> bytes;
        updates::Digest digest{};
    };
    struct Module {
        std::map<uint32_t, Build> builds;  // by stamp
        uint32_t current = 0;              // the build in the release folder
    };
    std::string ops_for(const std::string& name, uint32_t from, uint32_t to, int source);

    std::string folder_;
    unsigned char secret_[64] = {};
    bool key_ok_ = false;
    std::mutex mutex_;
    std::map<std::string, Module> modules_;
    std::string changelog_;
    struct Seen {
        int64_t size, mtime;
        uint32_t stamp;
    };
    std::map<std::string, Seen> seen_;  // by path
    // Deltas are costly to build and the same for every client on a build.
    std::map<std::tuple<std::string, uint32_t, uint32_t>, std::vector<DeltaOp>> delta_cache_;
};

}  // namespace olvaro::server

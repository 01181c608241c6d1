#pragma once
// The update server: "POST /u.php" on a port of its own. The body is the
// client's module list in XML; the answer is a signed update package, or
// " 200 " with an empty body when nothing changed. Oversized or malformed
// requests get a 400 and the connection is closed.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "update_release.h"

namespace olvaro::server {

// The demo's and the tests' signing seed; the client's default key is its
// public half.
extern const char kDemoUpdateSeed[];

struct UpdateConfig {
    uint16_t port = 0;  // 0 picks a free port
    std::string bind_address = "127.0.0.1";
    std::string releases;                  // the release folder
    std::string seed_hex = kDemoUpdateSeed;
    // The demo key's secret is public: it signs only when the demo is asked for.
    bool allow_demo_key = false;
    size_t max_head = 16384;
    size_t max_body = 1 << 20;
    int max_connections = 16;
    int timeout_ms = 10000;  // a request must arrive whole by then
};

struct UpdateRequest {
    std::vector<InstalledModule> modules;
    std::string platform;
    long language = 0;
    long subid = 0;
};

// Whether a seed (hex) is the demo key's.
bool is_demo_update_seed(const std::string& seed_hex);
// A new key: the seed, as 64 hex digits, written to a new file only its owner
// can read; `public_hex` gets the public key the client is built with.
bool make_update_key(const std::string& path, std::string* public_hex, std::string* error);

// Reads the module list; false when the XML is malformed or breaks the
// list's shape (a build that is not a number, too many files).
bool parse_update_request(const std::string& xml, UpdateRequest* out);

// How much of a request the bytes read so far tell: not yet its whole head,
// its whole length (`need`: head and body), or a head that is too long or
// has no usable Content-Length.
enum class RequestSize { kMore, kKnown, kBad };
RequestSize request_size(const std::string& in, size_t max_head, size_t max_body, size_t* need);

class UpdateServer {
public:
    explicit UpdateServer(UpdateConfig config);
    ~UpdateServer();
    UpdateServer(const UpdateServer&) = delete;
    UpdateServer& operator=(const UpdateServer&) = delete;

    bool start(std::string* error = nullptr);
    void stop();
    uint16_t port() const { return port_; }
    // The answer to one whole request (start line, headers, body).
    std::string answer(const std::string& request);

private:
    void accept_loop();
    void serve(int fd);

    UpdateConfig config_;
    ReleaseStore store_;
    int listen_fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> active_{0};
    std::thread thread_;
};

}  // namespace olvaro::server

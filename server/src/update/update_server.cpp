#include "update_server.h"

#include <arpa/inet.h>
#include <expat.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sodium.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace olvaro::server {

const char kDemoUpdateSeed[] = "5f64670a6a3c1cc192d430a11a5a20542a75c554299e3c52de4190b6907ae185";

namespace {

constexpr size_t kMaxFiles = 1000;
constexpr size_t kMaxText = 255;

const std::string kBadRequest = "HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
const std::string kNotFound = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
const std::string kNoChange = "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n";

struct XmlState {
    UpdateRequest* out;
    std::vector<std::string> path;
    std::string text;
    std::string name, build;
    bool bad = false;
};

bool decimal(const std::string& s, uint64_t max, uint64_t* v) {
    if (s.empty() || s.size() > 20) return false;
    uint64_t n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + uint64_t(c - '0');
        if (n > max) return false;
    }
    *v = n;
    return true;
}

void on_start(void* user, const XML_Char* name, const XML_Char**) {
    auto* s = static_cast<XmlState*>(user);
    if (s->path.size() >= 8) s->bad = true;
    s->path.emplace_back(name);
    s->text.clear();
    if (s->path.size() == 2 && s->path[1] == "file") s->name.clear(), s->build.clear();
}

void on_text(void* user, const XML_Char* text, int length) {
    auto* s = static_cast<XmlState*>(user);
    if (s->text.size() + size_t(length) > kMaxText) {
        s->bad = true;
        return;
    }
    s->text.append(text, size_t(length));
}

void on_end(void* user, const XML_Char*) {
    auto* s = static_cast<XmlState*>(user);
    const auto& p = s->path;
    std::string where;
    for (size_t i = 1; i < p.size(); ++i) where += "/" + p[i];
    uint64_t n = 0;
    if (where == "/file/name") {
        s->name = s->text;
    } else if (where == "/file/build") {
        s->build = s->text;
    } else if (where == "/file") {
        if (!decimal(s->build, 0xFFFFFFFFu, &n) || s->name.empty() || s->out->modules.size() >= kMaxFiles)
            s->bad = true;
        else
            s->out->modules.push_back({s->name, uint32_t(n)});
    } else if (where == "/platform/name") {
        s->out->platform = s->text;
    } else if (where == "/platform/language") {
        if (!decimal(s->text, 0xFFFF, &n)) s->bad = true;
        s->out->language = long(n);
    } else if (where == "/user/subid") {
        // The client writes a signed long.
        std::string t = s->text;
        bool negative = !t.empty() && t[0] == '-';
        if (!decimal(negative ? t.substr(1) : t, 0xFFFFFFFFu, &n)) s->bad = true;
        s->out->subid = negative ? -long(n) : long(n);
    }
    s->path.pop_back();
    s->text.clear();
}

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Where the body starts: after the first empty line, LF or CR LF; npos
// while the head is not whole.
size_t body_start(const std::string& request) {
    size_t lf = request.find("\n\n"), crlf = request.find("\r\n\r\n");
    return std::min(lf == std::string::npos ? lf : lf + 2, crlf == std::string::npos ? crlf : crlf + 4);
}

}  // namespace

bool is_demo_update_seed(const std::string& seed_hex) { return lower(seed_hex) == kDemoUpdateSeed; }

bool make_update_key(const std::string& path, std::string* public_hex, std::string* error) {
    unsigned char seed[crypto_sign_SEEDBYTES], pk[crypto_sign_PUBLICKEYBYTES], sk[crypto_sign_SECRETKEYBYTES];
    if (sodium_init() < 0) {
        *error = "libsodium cannot start";
        return false;
    }
    randombytes_buf(seed, sizeof seed);
    crypto_sign_seed_keypair(pk, sk, seed);
    char seed_hex[2 * sizeof seed + 1], pk_hex[2 * sizeof pk + 1];
    sodium_bin2hex(seed_hex, sizeof seed_hex, seed, sizeof seed);
    sodium_bin2hex(pk_hex, sizeof pk_hex, pk, sizeof pk);
    sodium_memzero(seed, sizeof seed);
    sodium_memzero(sk, sizeof sk);
    // Never over an existing key: it may be the one the clients trust.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = path + ": " + std::strerror(errno);
        sodium_memzero(seed_hex, sizeof seed_hex);
        return false;
    }
    std::string line = std::string(seed_hex) + "\n";
    sodium_memzero(seed_hex, sizeof seed_hex);
    bool ok = ::write(fd, line.data(), line.size()) == ssize_t(line.size()) && ::fsync(fd) == 0;
    sodium_memzero(line.data(), line.size());
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlink(path.c_str());
        *error = path + ": cannot write the key";
        return false;
    }
    *public_hex = pk_hex;
    return true;
}

bool parse_update_request(const std::string& xml, UpdateRequest* out) {
    *out = UpdateRequest();
    XML_Parser parser = XML_ParserCreate("UTF-8");
    if (!parser) return false;
    XmlState state{out, {}, {}, {}, {}, false};
    XML_SetUserData(parser, &state);
    XML_SetElementHandler(parser, on_start, on_end);
    XML_SetCharacterDataHandler(parser, on_text);
    bool ok = XML_Parse(parser, xml.data(), int(xml.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return ok && !state.bad;
}

UpdateServer::UpdateServer(UpdateConfig config)
    : config_(std::move(config)), store_(config_.releases, config_.seed_hex) {}

UpdateServer::~UpdateServer() { stop(); }

bool UpdateServer::start(std::string* error) {
    auto fail = [&](const std::string& what) {
        if (error) *error = what;
        if (listen_fd_ >= 0) ::close(listen_fd_);
        listen_fd_ = -1;
        return false;
    };
    if (!store_.key_valid()) return fail("the update signing key is not 64 hex digits");
    if (is_demo_update_seed(config_.seed_hex) && !config_.allow_demo_key)
        return fail("the update signing key is the demo key, whose secret is public; give --update-key FILE "
                    "(make one with --make-update-key FILE), or --demo for a demonstration");
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) return fail(std::string("socket: ") + std::strerror(errno));
    int on = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(config_.port);
    if (inet_pton(AF_INET, config_.bind_address.c_str(), &a.sin_addr) != 1) return fail("bad update address");
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_fd_, 16) != 0)
        return fail("update port " + std::to_string(config_.port) + ": " + std::strerror(errno));
    socklen_t length = sizeof a;
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &length);
    port_ = ntohs(a.sin_port);
    store_.rescan();
    thread_ = std::thread([this] { accept_loop(); });
    return true;
}

void UpdateServer::stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    ::shutdown(listen_fd_, SHUT_RDWR);
    thread_.join();
    ::close(listen_fd_);
    listen_fd_ = -1;
    // Connections end within their time-out; wait for them.
    while (active_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void UpdateServer::accept_loop() {
    while (!stopping_) {
        pollfd p{listen_fd_, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0) continue;
        int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (stopping_) return;
            continue;
        }
        if (active_ >= config_.max_connections) {
            ::close(fd);
            continue;
        }
        ++active_;
        std::thread([this, fd] {
            serve(fd);
            ::close(fd);
            --active_;
        }).detach();
    }
}

RequestSize request_size(const std::string& in, size_t max_head, size_t max_body, size_t* need) {
    size_t head = body_start(in);
    if (head == std::string::npos) return in.size() > max_head ? RequestSize::kBad : RequestSize::kMore;
    if (head > max_head) return RequestSize::kBad;
    // The length decides how much more to read; answer() checks the rest.
    std::string h = lower(in.substr(0, head));
    size_t at = h.find("\ncontent-length:");
    if (at == std::string::npos) return RequestSize::kBad;
    size_t value = h.find_first_not_of(' ', at + 16);
    if (value == std::string::npos) return RequestSize::kBad;
    std::string digits = h.substr(value, h.find_first_of("\r\n", value) - value);
    uint64_t length = 0;
    if (!decimal(digits, max_body, &length)) return RequestSize::kBad;
    *need = head + size_t(length);
    return RequestSize::kKnown;
}

// Reads one request within the time-out and the bounds, answers, closes.
void UpdateServer::serve(int fd) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(config_.timeout_ms);
    std::string in;
    size_t need = std::string::npos;
    bool bad = false;
    char buffer[16384];
    while (need == std::string::npos || in.size() < need) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || stopping_) return;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(std::min<int64_t>(left.count(), 200))) <= 0) continue;
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        in.append(buffer, size_t(n));
        if (need == std::string::npos) {
            RequestSize size = request_size(in, config_.max_head, config_.max_body, &need);
            if (size == RequestSize::kBad) {
                bad = true;
                break;
            }
            if (size == RequestSize::kMore) continue;
        }
        if (in.size() > config_.max_head + config_.max_body) {
            bad = true;
            break;
        }
    }
    std::string out = bad ? kBadRequest : answer(in.substr(0, need));
    size_t sent = 0;
    while (sent < out.size()) {
        ssize_t n = ::send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += size_t(n);
    }
    ::shutdown(fd, SHUT_WR);
}

std::string UpdateServer::answer(const std::string& request) {
    size_t line_end = request.find('\n');
    if (line_end == std::string::npos) return kBadRequest;
    std::string line = request.substr(0, line_end);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("POST ", 0) != 0 || line.size() < 14 || line.compare(line.size() - 9, 8, " HTTP/1.") != 0)
        return kBadRequest;
    if (line.substr(5, line.size() - 14) != "/u.php") return kNotFound;
    size_t body_at = body_start(request);
    if (body_at == std::string::npos) return kBadRequest;
    UpdateRequest parsed;
    if (!parse_update_request(request.substr(body_at), &parsed)) return kBadRequest;
    UpdatePackage package = store_.package_for(parsed.modules);
    if (package.body.empty()) return kNoChange;
    return "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
           std::to_string(package.body.size()) + "\r\nX-Olvaro-Manifest: " + package.manifest +
           "\r\nX-Olvaro-Signature: " + package.signature + "\r\n\r\n" + package.body;
}

}  // namespace olvaro::server

#pragma once
// A small raw client for tests: a blocking loopback socket with time-outs,
// and helpers for the usual conversation steps.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "packet.h"

namespace olvaro::server::testing {

inline int64_t code_of(const Packet& p) {
    if (p.body.size() != 4) return -1;
    auto b = [&](int i) { return uint32_t(uint8_t(p.body[i])); };
    return int32_t(b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3));
}

class TestClient {
public:
    // `from`: the loopback address to call from (any 127.x.y.z).
    explicit TestClient(uint16_t port, const char* from = nullptr) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (from) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            inet_pton(AF_INET, from, &local.sin_addr);
            bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(fd_);
            fd_ = -1;
        }
        int one = 1;
        if (fd_ >= 0) setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~TestClient() {
        if (fd_ >= 0) close(fd_);
    }
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void disconnect() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

    bool send_raw(const std::string& bytes) {
        size_t off = 0;
        while (off < bytes.size()) {
            ssize_t n = ::send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
            if (n <= 0) return false;
            off += size_t(n);
        }
        return true;
    }
    bool send(const Packet& p) { return send_raw(p.serialize()); }

    // A request with a fresh "Mesg-Id", which is returned.
    uint64_t request(Packet p) {
        uint64_t id = next_id_++;
        p.set_id("Mesg-Id", id);
        send(p);
        return id;
    }

    // Reads whatever arrives within the time-out.
    std::string read_raw(int timeout_ms = 2000) {
        std::string got;
        char buf[65536];
        if (!wait_readable(timeout_ms)) return got;
        ssize_t n = recv(fd_, buf, sizeof buf, 0);
        if (n > 0) got.assign(buf, size_t(n));
        return got;
    }

    // The next packet; "P" packets are skipped unless asked for.
    std::optional<Packet> read(int timeout_ms = 2000, bool keep_pings = false) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            while (!queue_.empty()) {
                Packet p = std::move(queue_.front());
                queue_.erase(queue_.begin());
                if (p.command == "P" && !keep_pings) continue;
                return p;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (eof_ || !wait_readable(int(std::max<int64_t>(left.count(), 0)))) return std::nullopt;
            char buf[65536];
            ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                eof_ = true;
                continue;
            }
            reader_.feed(buf, size_t(n), [&](Packet& p) {
                queue_.push_back(std::move(p));
                return true;
            });
        }
    }

    // The next packet with this command; everything before it is returned in `skipped`.
    std::optional<Packet> until(const std::string& command, std::vector<Packet>* skipped = nullptr,
                                int timeout_ms = 2000) {
        for (;;) {
            auto p = read(timeout_ms);
            if (!p) return std::nullopt;
            if (p->command == command) return p;
            if (skipped) skipped->push_back(std::move(*p));
        }
    }

    // The "RESPONSE" to request `id`, skipping other packets into `skipped`.
    int64_t response(uint64_t id, std::vector<Packet>* skipped = nullptr) {
        for (;;) {
            auto p = read();
            if (!p) return -1000;
            if (p->command == "RESPONSE" && p->get_id("Mesg-Id") == id) return code_of(*p);
            if (skipped) skipped->push_back(std::move(*p));
        }
    }

    // True once the server has closed the connection.
    bool closed(int timeout_ms = 2000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (!eof_) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !wait_readable(int(left.count()))) return false;
            char buf[65536];
            ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) eof_ = true;
            else reader_.feed(buf, size_t(n), [&](Packet& p) {
                queue_.push_back(std::move(p));
                return true;
            });
        }
        return true;
    }

    // LOGON, AUTH, and everything up to the sign-in's answer (returned last).
    std::vector<Packet> sign_in(const std::string& email, const std::string& password, int presence = 1) {
        std::vector<Packet> got;
        Packet logon("LOGON");
        logon.headers["App-Type"] = "SmartPhone";
        logon.headers["Operator"] = "PC_CLIENT";
        logon.headers["Protocol-Version"] = "1.0";
        send(logon);
        auto auth = read();
        if (!auth) return got;
        word_size = auth->get_int("Word-Size");
        Packet a("AUTH");
        a.set_int("Encryption-Type", 0);
        a.set_int("Auth-Target", 0);
        a.set_int("Online-Status", presence);
        a.set("Name", email);
        a.body = password;
        send(a);
        for (;;) {
            auto p = read();
            if (!p) return got;
            got.push_back(*p);
            if (p->command == "LOGON SUCCESSFUL" || p->command == "LOGON FAILED") return got;
        }
    }

    int word_size = 0;

private:
    bool wait_readable(int timeout_ms) {
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, timeout_ms) > 0;
    }

    int fd_ = -1;
    bool eof_ = false;
    PacketReader reader_{PacketReader::Limits{1 << 20, 1024, 64 << 20}};
    std::vector<Packet> queue_;
    uint64_t next_id_ = 32768;
};

}  // namespace olvaro::server::testing

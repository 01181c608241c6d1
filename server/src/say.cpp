// olvaro-say: one text from one account to a contact of it, through a
// server's plain port; for demos and scripts that need a message to arrive
// at a client that is signed in elsewhere.
//
//   olvaro-say [--host 127.0.0.1] --port N FROM PASSWORD TO TEXT
//
// Exits 0 once the server answers the message as delivered (or kept for
// later), 1 when it is refused or the link fails, 2 on bad arguments.
#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>

#include "packet.h"

using olvaro::server::Packet;
using olvaro::server::PacketReader;

namespace {

class Link {
public:
    bool open(const std::string& host, const std::string& port) {
        addrinfo hints{}, *found = nullptr;
        hints.ai_socktype = SOCK_STREAM;
        if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return false;
        for (addrinfo* a = found; a && fd_ < 0; a = a->ai_next) {
            fd_ = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
            if (fd_ >= 0 && connect(fd_, a->ai_addr, a->ai_addrlen) != 0) {
                close(fd_);
                fd_ = -1;
            }
        }
        freeaddrinfo(found);
        return fd_ >= 0;
    }
    ~Link() {
        if (fd_ >= 0) close(fd_);
    }
    bool send(const Packet& p) {
        std::string bytes = p.serialize();
        for (size_t at = 0; at < bytes.size();) {
            ssize_t n = ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
            if (n <= 0) return false;
            at += size_t(n);
        }
        return true;
    }
    // The next packet other than a ping; false after 10 s or when the link ends.
    bool read(Packet* out) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (queue_.empty()) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0) return false;
            char buf[16384];
            ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) return false;
            bool framed = reader_.feed(buf, size_t(n), [&](Packet& got) {
                if (got.command != "P") queue_.push_back(std::move(got));
                return true;
            });
            if (!framed) return false;
        }
        *out = std::move(queue_.front());
        queue_.pop_front();
        return true;
    }

private:
    int fd_ = -1;
    PacketReader reader_;
    std::deque<Packet> queue_;
};

int usage() {
    std::fprintf(stderr, "usage: olvaro-say [--host HOST] --port N FROM PASSWORD TO TEXT\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string host = "127.0.0.1", port;
    int k = 1;
    for (; k + 1 < argc && argv[k][0] == '-'; k += 2) {
        std::string a = argv[k];
        if (a == "--host") host = argv[k + 1];
        else if (a == "--port") port = argv[k + 1];
        else return usage();
    }
    if (port.empty() || argc - k != 4) return usage();
    const std::string from = argv[k], password = argv[k + 1], to = argv[k + 2], text = argv[k + 3];
    // One chunk keeps this simple; the client's own limit for a text is far above it.
    if (text.empty() || text.size() > 512) {
        std::fprintf(stderr, "olvaro-say: the text must be 1 to 512 bytes\n");
        return 2;
    }

    Link link;
    if (!link.open(host, port)) {
        std::fprintf(stderr, "olvaro-say: cannot reach %s port %s\n", host.c_str(), port.c_str());
        return 1;
    }
    Packet logon("LOGON");
    logon.set("App-Type", "Desktop");
    logon.set("Protocol-Version", "1.0");
    link.send(logon);
    Packet got;
    do {
        if (!link.read(&got)) return std::fprintf(stderr, "olvaro-say: no answer to LOGON\n"), 1;
    } while (got.command != "AUTH");
    Packet auth("AUTH");
    auth.set_int("Encryption-Type", 0);
    auth.set_int("Auth-Target", 0);
    auth.set_int("Online-Status", 1);
    auth.set("Name", from);
    auth.body = password;
    link.send(auth);
    // The contact list comes before the sign-in's answer.
    uint64_t target = 0;
    for (;;) {
        if (!link.read(&got)) return std::fprintf(stderr, "olvaro-say: no answer to the sign-in\n"), 1;
        if (got.command == "CONTACT DETAIL" && got.get("Name") == to) target = got.get_id("Contact-Id");
        if (got.command == "LOGON FAILED")
            return std::fprintf(stderr, "olvaro-say: sign-in refused: %s\n", got.get("reason").c_str()), 1;
        if (got.command == "LOGON SUCCESSFUL") break;
    }
    if (!target) return std::fprintf(stderr, "olvaro-say: %s is not a contact of %s\n", to.c_str(), from.c_str()), 1;

    Packet m("MESG");
    m.set_id("Mesg-Id", 1);
    m.set_int("Mesg-Target", 0);
    m.set_id("Target-Id", target);
    m.set("Content-Type", "text/plain");
    m.set_int("Last", 1);
    m.body = text;
    link.send(m);
    for (;;) {
        if (!link.read(&got)) return std::fprintf(stderr, "olvaro-say: no answer to the message\n"), 1;
        if (got.command != "RESPONSE" || got.get_id("Mesg-Id") != 1) continue;
        int64_t code = got.body.size() == 4 ? int32_t(uint32_t(uint8_t(got.body[0])) << 24 |
                                                      uint32_t(uint8_t(got.body[1])) << 16 |
                                                      uint32_t(uint8_t(got.body[2])) << 8 | uint8_t(got.body[3]))
                                            : -1;
        if (code == 4) return 0;
        return std::fprintf(stderr, "olvaro-say: the server answered %lld\n", static_cast<long long>(code)), 1;
    }
}

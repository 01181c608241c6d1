#include "core.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <future>

#include "tls.h"

namespace olvaro::server {

namespace {
constexpr uint64_t kListenTag = 1ull << 63;
constexpr uint64_t kWakeTag = 1ull << 62;
constexpr auto kLinger = std::chrono::seconds(2);
// Queued messages and answers past which a connection is not read from; a
// history request adds at most 201, so one client's queue stays this small.
constexpr size_t kPauseBacklog = 1024;

uint32_t tick_ms(const Config& c) {
    uint32_t m = std::min({c.client_interval_ms, c.ping_margin_ms, c.grace_ms, c.sign_in_timeout_ms});
    return std::clamp<uint32_t>(m / 4, 1, 1000);
}
}  // namespace

Core::Core(Config config) : config_(std::move(config)), bridging_(std::make_unique<Bridging>(*this)) {}

Core::~Core() {
    stop();
    if (spare_fd_ >= 0) close(spare_fd_);
    free_tls_context(tls_ctx_);
}

int Core::open_listener(uint16_t port, uint16_t* bound, std::string* error) {
    sockaddr_storage a{};
    socklen_t size = 0;
    auto* a4 = reinterpret_cast<sockaddr_in*>(&a);
    auto* a6 = reinterpret_cast<sockaddr_in6*>(&a);
    if (inet_pton(AF_INET, config_.bind_address.c_str(), &a4->sin_addr) == 1) {
        a4->sin_family = AF_INET;
        a4->sin_port = htons(port);
        size = sizeof *a4;
    } else if (inet_pton(AF_INET6, config_.bind_address.c_str(), &a6->sin6_addr) == 1) {
        a6->sin6_family = AF_INET6;
        a6->sin6_port = htons(port);
        size = sizeof *a6;
    }
    int fd = size ? socket(a.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0) : -1;
    if (fd >= 0) {
        int one = 1, zero = 0;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        // "::" takes IPv4 callers too, whatever the system's default.
        if (a.ss_family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
    }
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), size) != 0 || listen(fd, 1024) != 0) {
        if (error)
            *error = "cannot listen on " + config_.bind_address + ":" + std::to_string(port) + ": " +
                     (size ? std::strerror(errno) : "not an address");
        if (fd >= 0) close(fd);
        return -1;
    }
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    *bound = ntohs(a.ss_family == AF_INET6 ? a6->sin6_port : a4->sin_port);
    return fd;
}

bool Core::open_store(std::string* error) {
    if (config_.word_size != 4 && config_.word_size != 8) {
        if (error) *error = "word size must be 4 or 8";
        return false;
    }
    if (!store_.is_open()) {
        store_.set_hash_cost(config_.quick_password_hashes ? HashCost::least() : HashCost::interactive());
        if (!store_.open(config_.database, error)) return false;
    }
    if (!password_checks_)
        password_checks_ = std::make_unique<PasswordChecks>(
            config_.quick_password_hashes ? HashCost::least() : HashCost::interactive(), 64);
    bots_ = store_.bots();
    last_time_us_ = store_.newest_message_time();
    return true;
}

bool Core::open_by_hand(std::string* error) {
    if (running_) return true;
    if (!open_store(error)) return false;
    std::lock_guard lock(begin_loop(), std::adopt_lock);
    loop_id_ = std::this_thread::get_id();
    return true;
}

std::mutex& Core::begin_loop() {
    store_.commit();
    stopping_ = false;
    running_ = true;
    next_tick_ = Clock::now();
    tasks_mu_.lock();
    loop_alive_ = true;
    return tasks_mu_;
}

bool Core::start(std::string* error) {
    if (running_) return true;
    if (!open_store(error)) return false;
    if (!config_.tls_ports.empty() && !tls_ctx_) {
        tls_ctx_ = make_tls_context(config_.tls_cert_pem, config_.tls_key_pem, error);
        if (!tls_ctx_) return false;
    }
    epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
    if (spare_fd_ < 0) spare_fd_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
    wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kWakeTag;
    epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, wake_fd_, &ev);
    size_t plain = config_.ports.size();
    for (size_t i = 0; i < plain + config_.tls_ports.size(); ++i) {
        bool tls = i >= plain;
        uint16_t bound = 0;
        int fd = open_listener(tls ? config_.tls_ports[i - plain] : config_.ports[i], &bound, error);
        if (fd < 0) {
            for (int l : listen_fds_) close(l);
            listen_fds_.clear();
            listen_tls_.clear();
            ports_.clear();
            tls_ports_.clear();
            close(epoll_fd_);
            close(wake_fd_);
            return false;
        }
        (tls ? tls_ports_ : ports_).push_back(bound);
        listen_fds_.push_back(fd);
        listen_tls_.push_back(tls);
        ev.data.u64 = kListenTag | i;
        epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev);
    }
    std::lock_guard lock(begin_loop(), std::adopt_lock);
    thread_ = std::thread([this] { run(); });
    loop_id_ = thread_.get_id();
    return true;
}

void Core::stop() {
    if (!running_) return;
    stopping_ = true;
    if (thread_.joinable()) {
        uint64_t one = 1;
        (void)!write(wake_fd_, &one, sizeof one);
        thread_.join();
    } else {
        // Run by hand: what was posted still gets done, as at the loop's end.
        {
            std::lock_guard lock(tasks_mu_);
            loop_alive_ = false;
        }
        run_tasks();
    }
    std::lock_guard direct(direct_mu_);
    running_ = false;
    // The network sessions end before the links they report to.
    bridging_ = std::make_unique<Bridging>(*this);
    for (auto& [id, c] : conns_)
        if (!c->dead) close_conn(*c);
    reap();
    inflight_.clear();
    store_.commit();
    for (int fd : listen_fds_) close(fd);
    listen_fds_.clear();
    listen_tls_.clear();
    close(epoll_fd_);
    close(wake_fd_);
}

void Core::post(std::function<void()> fn) {
    std::unique_lock lock(tasks_mu_);
    if (!loop_alive_) return;
    tasks_.push_back(std::move(fn));
    lock.unlock();
    uint64_t one = 1;
    (void)!write(wake_fd_, &one, sizeof one);
}

void Core::call(const std::function<void()>& fn) {
    if (!store_.is_open()) return;  // nothing to work on before start()
    std::unique_lock lock(tasks_mu_);
    if (!loop_alive_ || std::this_thread::get_id() == loop_id_) {
        lock.unlock();
        std::lock_guard direct(direct_mu_);
        fn();
        store_.commit();
        return;
    }
    std::promise<void> done;
    tasks_.push_back([&] {
        fn();
        done.set_value();
    });
    lock.unlock();
    uint64_t one = 1;
    (void)!write(wake_fd_, &one, sizeof one);
    done.get_future().wait();
}

void Core::run() {
    // TLS writes go through write(), which raises SIGPIPE on a closed link:
    // held back on this thread, the write just fails with EPIPE.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    std::vector<epoll_event> events(256);
    while (!stopping_) {
        auto now = Clock::now();
        auto wake = next_wakeup(now);
        int timeout = int(std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count());
        if (!readable_.empty()) timeout = 0;
        int n = epoll_wait(epoll_fd_, events.data(), int(events.size()), std::max(timeout, 0));
        for (int i = 0; i < n; ++i) {
            uint64_t tag = events[i].data.u64;
            if (tag == kWakeTag) {
                uint64_t v;
                (void)!read(wake_fd_, &v, sizeof v);
                run_tasks();
            } else if (tag & kListenTag) {
                accept_all(tag & ~kListenTag);
            } else {
                auto it = conns_.find(tag);
                if (it == conns_.end() || it->second->dead) continue;
                Conn& c = *it->second;
                uint32_t got = events[i].events;
                if (got & (EPOLLERR | EPOLLHUP) || (got & EPOLLIN && !c.paused)) on_readable(c);
                // TLS may need the other direction's readiness to go on.
                if (!c.dead && (got & EPOLLOUT) && c.read_wants_write) {
                    c.read_wants_write = false;
                    if (!c.paused) on_readable(c);
                }
                if (!c.dead && (got & EPOLLIN) && c.write_wants_read) {
                    c.write_wants_read = false;
                    flush(c);
                }
                if (!c.dead && (got & EPOLLOUT)) flush(c);
            }
        }
        std::vector<uint64_t> readable;
        readable.swap(readable_);
        for (uint64_t id : readable) {
            auto it = conns_.find(id);
            if (it != conns_.end() && !it->second->dead && !it->second->paused) on_readable(*it->second);
        }
        end_round(Clock::now());
    }
    // Calls that came in while stopping still get done, here, before the
    // loop is gone.
    std::vector<std::function<void()>> tasks;
    {
        std::lock_guard lock(tasks_mu_);
        loop_alive_ = false;
        tasks.swap(tasks_);
    }
    for (auto& t : tasks) t();
    store_.commit();
}

void Core::run_tasks() {
    std::vector<std::function<void()>> tasks;
    {
        std::lock_guard lock(tasks_mu_);
        tasks.swap(tasks_);
    }
    for (auto& t : tasks) t();
}

void Core::end_round(Clock::time_point now) {
    if (now >= next_tick_) {
        tick(now);
        next_tick_ = now + std::chrono::milliseconds(tick_ms(config_));
    }
    if (delayed_)
        for (auto& [id, c] : conns_)
            if (!c->delayed.empty()) release_delayed(*c, now);
    // Durable before anyone is told it was stored.
    store_.commit();
    std::vector<uint64_t> dirty;
    dirty.swap(dirty_);
    for (uint64_t id : dirty) {
        auto it = conns_.find(id);
        if (it == conns_.end()) continue;
        it->second->dirty = false;
        if (!it->second->dead) flush(*it->second);
    }
    reap();
}

bool Core::receive(uint64_t conn, const char* data, size_t size) {
    auto it = conns_.find(conn);
    if (it == conns_.end() || it->second->dead || it->second->paused) return false;
    Conn& c = *it->second;
    if (size == 0)
        close_conn(c);
    else if (!c.closing)
        take(c, data, size);
    return true;
}

void Core::turn(Clock::time_point now) {
    run_tasks();
    end_round(now);
}

Clock::time_point Core::next_wakeup(Clock::time_point) const {
    auto wake = next_tick_;
    if (delayed_)
        for (auto& [id, c] : conns_)
        if (!c->delayed.empty()) wake = std::min(wake, c->delayed.front().first);
    return wake;
}

void Core::accept_all(size_t listener) {
    int listen_fd = listen_fds_[listener];
    for (;;) {
        sockaddr_storage peer{};
        socklen_t peer_len = sizeof peer;
        int fd = accept4(listen_fd, reinterpret_cast<sockaddr*>(&peer), &peer_len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0 && (errno == EMFILE || errno == ENFILE) && spare_fd_ >= 0) {
            // Out of descriptors: turn the caller away rather than let the
            // pending connection wake the loop forever.
            close(spare_fd_);
            int turned = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (turned >= 0) close(turned);
            spare_fd_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
            continue;
        }
        if (fd < 0) return;
        char text[INET6_ADDRSTRLEN] = "";
        if (peer.ss_family == AF_INET)
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in&>(peer).sin_addr, text, sizeof text);
        else if (peer.ss_family == AF_INET6)
            inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6&>(peer).sin6_addr, text, sizeof text);
        adopt(fd, text, listen_tls_[listener]);
    }
}

uint64_t Core::adopt(int fd, const std::string& address, bool tls) {
    size_t& from_there = conns_per_address_[address];
    if (open_conns_ >= config_.max_connections || from_there >= config_.max_connections_per_address) {
        if (from_there == 0) conns_per_address_.erase(address);
        close(fd);
        return 0;
    }
    ++from_there;
    ++open_conns_;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto c = std::make_unique<Conn>(PacketReader::Limits{config_.max_line, config_.max_headers, config_.max_body});
    uint64_t id = c->id = next_conn_id_++;
    c->fd = fd;
    if (tls) {
        c->ssl = SSL_new(tls_ctx_);
        if (!c->ssl || SSL_set_fd(c->ssl, fd) != 1) {
            ERR_clear_error();
            if (c->ssl) SSL_free(c->ssl);
            if (--from_there == 0) conns_per_address_.erase(address);
            --open_conns_;
            close(fd);
            return 0;
        }
        SSL_set_accept_state(c->ssl);
    }
    c->address = address;
    c->connected_at = c->last_tx = Clock::now();
    c->interval_ms = config_.client_interval_ms;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = id;
    epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev);
    conns_.emplace(id, std::move(c));
    return id;
}

void Core::on_readable(Conn& c) {
    char buf[65536];
    for (int round = 0; round < 4 && !c.dead; ++round) {
        ssize_t n = read_some(c, buf, sizeof buf);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
        if (n <= 0) {
            close_conn(c);
            return;
        }
        if (c.closing) continue;  // going away: what it says no longer matters
        if (!take(c, buf, size_t(n)) || c.paused) return;
        // TLS hands out a record at a time: only "nothing left" ends the turn.
        if (!c.ssl && size_t(n) < sizeof buf) return;
    }
    // The rest waits for the next round, as the socket may show none of it.
    if (!c.dead && c.ssl && !c.paused && SSL_has_pending(c.ssl)) readable_.push_back(c.id);
}

ssize_t Core::read_some(Conn& c, char* buf, size_t size) {
    if (c.ssl && !c.tls_started) {
        // A plain client on a TLS port hears why in its own protocol, and
        // does not retry as it would after a lost link.
        unsigned char first = 0;
        ssize_t n = recv(c.fd, &first, 1, MSG_PEEK);
        if (n <= 0) return n;
        c.tls_started = true;
        if (first != 0x16) {  // not a TLS handshake record
            SSL_free(c.ssl);
            c.ssl = nullptr;
            refuse(c, "This port takes encrypted connections only; use a \"tls:\" entry in the server list.", 1);
        }
    }
    if (!c.ssl) return recv(c.fd, buf, size, 0);
    ERR_clear_error();
    int n = SSL_read(c.ssl, buf, int(size));
    if (n > 0) return n;
    switch (SSL_get_error(c.ssl, n)) {
        case SSL_ERROR_WANT_READ:
            errno = EAGAIN;
            return -1;
        case SSL_ERROR_WANT_WRITE:
            c.read_wants_write = true;
            watch(c, true);
            errno = EAGAIN;
            return -1;
        case SSL_ERROR_ZERO_RETURN:
            return 0;
        default:
            // A failed handshake or a broken record: the caller goes away.
            ERR_clear_error();
            errno = EPROTO;
            return -1;
    }
}

ssize_t Core::write_some(Conn& c, const char* data, size_t size) {
    if (!c.ssl) return ::send(c.fd, data, size, MSG_NOSIGNAL);
    ERR_clear_error();
    int n = SSL_write(c.ssl, data, int(std::min<size_t>(size, 1u << 30)));
    if (n > 0) return n;
    switch (SSL_get_error(c.ssl, n)) {
        case SSL_ERROR_WANT_WRITE:
            errno = EAGAIN;
            return -1;
        case SSL_ERROR_WANT_READ:
            // Mid-handshake: the peer's next bytes let the write go on, even
            // while its requests are not being read.
            if (!c.write_wants_read) {
                c.write_wants_read = true;
                watch(c, c.want_write);
            }
            errno = EAGAIN;
            return -1;
        default: {
            ERR_clear_error();
            // Take back the SIGPIPE the write raised, so none stays pending.
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            timespec none{0, 0};
            while (sigtimedwait(&pipe, nullptr, &none) > 0) {}
            errno = EPROTO;
            return -1;
        }
    }
}

bool Core::take(Conn& c, const char* data, size_t size) {
    bool ok = c.reader.feed(data, size, [&](Packet& p) {
        on_packet(c, p);
        // A client that asks faster than it reads waits, its requests left
        // unread, instead of growing the server.
        if (!c.dead && !c.closing && backed_up(c)) c.paused = true;
        return !c.dead && !c.closing && !c.paused;
    });
    if (!ok) {
        close_conn(c);
        return false;
    }
    if (c.paused && !c.dead) watch(c, c.want_write);
    return true;
}

bool Core::backed_up(const Conn& c) const {
    return c.backlog.size() >= kPauseBacklog || unsent(c) >= output_budget();
}

void Core::watch(Conn& c, bool want_write) {
    epoll_event ev{};
    ev.events = (c.paused && !c.write_wants_read ? 0u : uint32_t(EPOLLIN)) |
                (want_write || c.read_wants_write ? uint32_t(EPOLLOUT) : 0u);
    ev.data.u64 = c.id;
    epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, c.fd, &ev);
    c.want_write = want_write;
}

Conn* Core::online(int64_t account) {
    auto it = online_.find(account);
    if (it == online_.end()) return nullptr;
    auto c = conns_.find(it->second);
    return c == conns_.end() || c->second->dead ? nullptr : c->second.get();
}

void Core::send(Conn& c, const Packet& p) {
    if (c.dead || c.closing) return;
    auto now = Clock::now();
    std::string bytes = p.serialize();
    ++c.packets_sent;
    c.last_tx = now;
    c.awaiting_pong = p.command == "P";
    if (c.awaiting_pong) c.ping_sent = now;
    if (config_.faults.drop_after_packets && c.packets_sent >= config_.faults.drop_after_packets) c.closing = true;
    if (config_.faults.delay_ms) {
        c.delayed_bytes += bytes.size();
        c.delayed.emplace_back(now + std::chrono::milliseconds(config_.faults.delay_ms), std::move(bytes));
        ++delayed_;
        return;
    }
    c.out += bytes;
    if (c.out.size() - c.out_sent > config_.max_output) {
        close_conn(c);  // a reader this far behind is gone or hostile
        return;
    }
    if (!c.dirty) {
        c.dirty = true;
        dirty_.push_back(c.id);
    }
}

void Core::release_delayed(Conn& c, Clock::time_point now) {
    bool any = false;
    while (!c.delayed.empty() && c.delayed.front().first <= now) {
        c.out += c.delayed.front().second;
        c.delayed_bytes -= c.delayed.front().second.size();
        c.delayed.pop_front();
        --delayed_;
        any = true;
    }
    if (any && !c.dead && !c.dirty) {
        c.dirty = true;
        dirty_.push_back(c.id);
    }
}

void Core::respond(Conn& c, const Packet& request, int64_t code) {
    Packet r("RESPONSE");
    r.set_id("Mesg-Id", request.get_id("Mesg-Id"));
    uint32_t v = uint32_t(code);
    r.body = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    send(c, r);
}

void Core::flush(Conn& c) {
    for (bool blocked = false; !blocked;) {
        if (!c.backlog.empty()) pump(c);
        if (c.dead) return;
        while (c.out_sent < c.out.size()) {
            ssize_t n = write_some(c, c.out.data() + c.out_sent, c.out.size() - c.out_sent);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                blocked = true;
                break;
            }
            if (n <= 0) {
                close_conn(c);
                return;
            }
            c.out_sent += size_t(n);
        }
        if (c.out_sent == c.out.size()) {
            c.out.clear();
            c.out_sent = 0;
        }
        // Drained: go on with the backlog unless the delay fault holds it.
        if (c.backlog.empty() || c.closing || unsent(c) >= (64u << 10)) break;
    }
    bool pending = c.out_sent < c.out.size();
    if (!pending) {
        c.out.clear();
        c.out_sent = 0;
    } else if (c.out_sent > (1u << 20)) {
        c.out.erase(0, c.out_sent);
        c.out_sent = 0;
    }
    if (pending != c.want_write) watch(c, pending);
    // Drained enough: read the requests that waited, then the socket again.
    if (c.paused && !c.verifying && !c.closing && c.backlog.size() < kPauseBacklog / 2 && unsent(c) < output_budget() / 2) {
        c.paused = false;
        if (!take(c, "", 0) || c.dead) return;
        if (!c.paused) watch(c, c.want_write);
        if (!c.paused && c.ssl && SSL_has_pending(c.ssl)) readable_.push_back(c.id);
    }
    if (!pending && c.closing && c.delayed.empty()) {
        // Half-close and let the peer read what is left; closing with unread
        // input would reset the link and could lose the last packets.
        if (c.ssl) {
            ERR_clear_error();
            SSL_shutdown(c.ssl);  // close_notify; the answer is not waited for
            ERR_clear_error();
        }
        shutdown(c.fd, SHUT_WR);
        c.closing_since = Clock::now();
    }
}

void Core::close_conn(Conn& c) {
    if (c.dead) return;
    c.dead = true;
    delayed_ -= c.delayed.size();
    c.delayed.clear();
    c.delayed_bytes = 0;
    c.backlog.clear();
    epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, c.fd, nullptr);
    if (c.ssl) SSL_free(c.ssl);
    c.ssl = nullptr;
    close(c.fd);
    c.fd = -1;
    --open_conns_;
    if (auto it = conns_per_address_.find(c.address); it != conns_per_address_.end() && --it->second == 0)
        conns_per_address_.erase(it);
    bridging_->conn_gone(c.id);
    signed_out(c);
}

void Core::reap() {
    for (auto it = conns_.begin(); it != conns_.end();) {
        if (it->second->dead)
            it = conns_.erase(it);
        else
            ++it;
    }
}

void Core::tick(Clock::time_point now) {
    using std::chrono::milliseconds;
    if (now >= next_prune_) {
        tidy();
        next_prune_ = now + std::chrono::minutes(1);
    }
    for (auto& [id, cp] : conns_) {
        Conn& c = *cp;
        if (c.dead) continue;
        if (c.closing) {
            if (c.out.empty() && c.delayed.empty() && now - c.closing_since > kLinger) close_conn(c);
            continue;
        }
        if (!c.account) {
            if (now - c.connected_at > milliseconds(config_.sign_in_timeout_ms)) close_conn(c);
            continue;
        }
        // The client answers a "P" only after its interval passes without any
        // packet from us, so an unanswered ping is only overdue if nothing was
        // sent after it.
        if (c.awaiting_pong && now - c.ping_sent > milliseconds(c.interval_ms + config_.grace_ms)) {
            close_conn(c);
            continue;
        }
        if (!config_.faults.no_keepalive && !c.awaiting_pong &&
            now - c.last_tx >= milliseconds(c.interval_ms + config_.ping_margin_ms))
            send(c, Packet("P"));
    }
}

void Core::tidy() {
    int64_t now_us = next_time_us();
    store_.prune_group_inbox(now_us);
    store_.prune_message_keys(
        now_us - int64_t(std::min<uint64_t>(config_.keep_message_keys_seconds, INT64_MAX / 2000000)) * 1000000,
        config_.max_message_keys);
    if (config_.keep_private_seconds)
        store_.prune_private(now_us - int64_t(std::min<uint64_t>(config_.keep_private_seconds, INT64_MAX / 2000000)) * 1000000);
}

int64_t Core::next_time_us() {
    int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
    // Strictly increasing, so paging by time never skips or repeats a message.
    last_time_us_ = std::max(now, last_time_us_ + 1);
    return last_time_us_;
}

}  // namespace olvaro::server

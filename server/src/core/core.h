#pragma once
// The server's inside: one event loop thread owns the sockets, the sessions
// and the store; other threads reach it only through post().

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "bridges.h"
#include "olvaro_server/server.h"
#include "packet.h"
#include "password_checks.h"
#include "sign_in_throttle.h"
#include "store.h"

#include <sys/types.h>

struct ssl_st;
struct ssl_ctx_st;

namespace olvaro::server {

using Clock = std::chrono::steady_clock;

// Server time as the protocol writes it: "%d.%d", seconds and microseconds.
std::string format_time(int64_t us);
// The sender's name for a message across its restarts ("Mesg-Key", on the
// first chunk); one too long to be a client's is no name.
std::string message_key(const Packet& p);

// Roles of group members; the client reads the same bits.
enum Role : int32_t { kAdmin = 1, kModerator = 2, kBanned = 4, kSilenced = 8, kKicked = 16 };
constexpr int32_t kKnownRoles = kAdmin | kModerator | kBanned | kSilenced | kKicked;

// Response codes.
enum Code : int64_t {
    kOk = 0,
    kDone = 1,
    kNoSuch = 2,
    kDelivered = 4,
    kNothingOlder = 8,
    kTaken = 11,
    kAlreadyListed = 12,
    kDenied = 13,
    kNetworkClosed = 21,  // a bridge to a network that only runs simulated, in demo mode
    kTextOnly = 22,       // bridged networks carry text only
    kMissingField = 23,   // a bridge registration without its account fields
    kResend = 100,
};

// One stored or history message (or the answer that ends a request) queued
// for a connection; `payload` is read when its first chunk is due.
struct Backlog {
    StoredMessage message;
    bool is_message = true;
    bool history = false;
    bool mark = false;  // counts as delivered once its last chunk is out
    std::string payload;
    size_t off = 0;
    bool started = false;
    uint64_t respond_id = 0;  // !is_message: the "RESPONSE" to send
    int64_t code = 0;
};

struct Conn {
    uint64_t id = 0;
    int fd = -1;
    ssl_st* ssl = nullptr;        // on a TLS port
    bool read_wants_write = false;  // TLS: a read waits for the socket to take bytes
    bool write_wants_read = false;  // TLS: a write waits for bytes from the peer
    bool tls_started = false;       // TLS: the first bytes came and were a handshake
    std::string address;  // the caller's, as text
    PacketReader reader;
    std::string out;
    size_t out_sent = 0;
    bool want_write = false;  // EPOLLOUT armed
    bool dirty = false;       // queued for the end-of-round flush
    bool closing = false;     // close once the output is gone
    bool dead = false;
    bool paused = false;      // not read from until its answers drain
    bool verifying = false;   // a password of its (sign-in or group) is being checked

    int64_t account = 0;  // 0 until signed in
    bool ghosted = false; // replaced by a newer sign-in of the same account
    bool mobile = false;  // signed in from a phone
    int32_t presence = 0;
    int64_t signed_in_us = 0;
    uint64_t interval_ms = 0;
    Clock::time_point connected_at, last_tx;
    Clock::time_point ping_sent;  // valid while awaiting_pong
    Clock::time_point closing_since;
    bool awaiting_pong = false;
    uint64_t packets_sent = 0;
    std::deque<std::pair<Clock::time_point, std::string>> delayed;
    size_t delayed_bytes = 0;
    // Whole messages waiting to go out, fed into `out` as it drains so a long
    // backlog never counts as a stuck reader.
    std::deque<Backlog> backlog;

    explicit Conn(PacketReader::Limits l) : reader(l) {}
};

// A message whose last chunk has not come yet, keyed by sender and first id.
struct Inflight {
    int64_t row = 0;  // 0 for a copy
    // The sender's name for the message across its restarts ("Mesg-Key"),
    // if it gave one.
    std::string key;
    // A restarted copy of a message already held whole: its chunks are
    // answered as delivered and go nowhere.
    bool copy = false;
    int64_t target = 0;
    bool is_group = false;
    std::string content_type;
    int64_t time_us = 0;
    int32_t chunks = 0;
    size_t bytes = 0;
    uint64_t sender_conn = 0;
    uint64_t live_conn = 0;  // private: the recipient's connection that got the first chunk
    // Group: the members' connections that got the first chunk; only they
    // get the rest, the others get the message whole.
    std::vector<std::pair<int64_t, uint64_t>> live_members;
};

class Core {
public:
    explicit Core(Config config);
    ~Core();

    bool start(std::string* error);
    void stop();
    bool running() const { return running_; }
    std::vector<uint16_t> ports() const { return ports_; }
    std::vector<uint16_t> tls_ports() const { return tls_ports_; }

    // Driving the loop by hand, without its thread or sockets of its own (the
    // fuzzer): open_by_hand() instead of start(); adopt() takes a connected
    // descriptor as accept does (0 when the caps turn it away, closed; `tls`: it speaks TLS); receive() hands
    // it what its peer sent (none: the peer hung up), false and nothing read
    // while it is paused or gone; turn() runs what was posted and the end of
    // a loop round at `now`. stop() ends it as usual.
    bool open_by_hand(std::string* error);
    uint64_t adopt(int fd, const std::string& address, bool tls = false);
    bool receive(uint64_t conn, const char* data, size_t size);
    void turn(Clock::time_point now);

    // Runs `fn` on the loop thread and waits for it (directly when not running).
    void call(const std::function<void()>& fn);
    // Runs `fn` on the loop thread later, from any thread; dropped once the
    // loop has ended.
    void post(std::function<void()> fn);

    // Control operations, loop thread only.
    int64_t create_account(const NewAccount& account);
    bool push_setting(int64_t account, const std::string& name, const std::string& value);
    bool load_seed(const std::string& text, std::string* error);
    bool seed_demo();
    void list_contact(int64_t owner, int64_t contact) { store_.list(owner, contact); }
    int64_t create_group(const std::string& name, const std::string& desc, const std::string& password, int64_t admin);
    bool set_member(int64_t group, int64_t account, int32_t role);
    // Gives `owner` `contacts` listed contacts and `groups` groups of
    // `members` members (the owner administers them), in one transaction.
    bool seed_bulk(int64_t owner, int contacts, int groups, int members);
    Store& store() { return store_; }
    Config& config() { return config_; }
    size_t signed_in_count() const { return online_.size(); }
    Bridging& bridging() { return *bridging_; }
    void tidy();
    size_t queued() const {
        size_t n = 0;
        for (auto& [id, c] : conns_) n += c->backlog.size();
        return n;
    }

private:
    friend class Bridging;
    bool open_store(std::string* error);
    // Marks the loop running and returns the task lock, held, so the loop's
    // thread is named before any call can look for it.
    std::mutex& begin_loop();
    void run();
    int open_listener(uint16_t port, uint16_t* bound, std::string* error);
    void accept_all(size_t listener);
    void run_tasks();
    // After the events of a round: timers, the commit, the flushes.
    void end_round(Clock::time_point now);
    void on_readable(Conn& c);
    // recv and send, through TLS on a TLS port; -1 with errno EAGAIN when
    // the socket is not ready (TLS arranges the wait it needs itself).
    ssize_t read_some(Conn& c, char* buf, size_t size);
    ssize_t write_some(Conn& c, const char* data, size_t size);
    // Hands bytes (none: what the reader holds) to the packet handlers until
    // the connection is backed up; false when it had to be closed.
    bool take(Conn& c, const char* data, size_t size);
    bool backed_up(const Conn& c) const;
    void watch(Conn& c, bool want_write);
    void flush(Conn& c);
    void close_conn(Conn& c);
    void reap();
    void tick(Clock::time_point now);
    void release_delayed(Conn& c, Clock::time_point now);
    Clock::time_point next_wakeup(Clock::time_point now) const;

    // Sending.
    void send(Conn& c, const Packet& p);
    void respond(Conn& c, const Packet& request, int64_t code);
    Conn* online(int64_t account);

    // Session: sign-in and keep-alive.
    void on_packet(Conn& c, Packet& p);
    void on_logon(Conn& c, const Packet& p);
    void on_auth(Conn& c, const Packet& p);
    // Checks a password against its stored salt and hash on the checking
    // thread, then calls `then` on the loop if the connection still stands;
    // false (and no call) when too many checks wait.
    bool check_off_loop(Conn& c, const std::string& password, const std::pair<std::string, std::string>& secret,
                        std::function<void(Conn&, PasswordMatch, const std::string&)> then);
    struct SignIn {
        int64_t account = 0;
        int32_t presence = 0;
        std::string guessed;  // the address as given, for the throttle
    };
    void finish_sign_in(Conn& c, const SignIn& pending, PasswordMatch match, const std::string& rehash);
    void signed_in(Conn& c, const Account& account, int32_t presence);
    void refuse(Conn& c, const std::string& reason, int32_t retry);
    void on_ping(Conn& c, const Packet& p);
    void signed_out(Conn& c);

    // Contacts and presence.
    Packet contact_detail(const Account& a, int64_t viewer);
    int32_t visible_presence(int64_t account);
    void push_presence(int64_t account);
    void on_contact_detail(Conn& c, const Packet& p);
    void on_contact_add(Conn& c, const Packet& p);
    void on_contact_add_resp(Conn& c, const Packet& p);
    void on_contact_update(Conn& c, const Packet& p);
    void accept_request(int64_t source, int64_t target);

    // Groups.
    Packet group_detail(const Group& g);
    void to_members(int64_t group, const Packet& p, int64_t except = 0);
    void on_group_create(Conn& c, const Packet& p);
    void on_group_subscribe(Conn& c, const Packet& p);
    void finish_group_subscribe(Conn& c, const Packet& asked, PasswordMatch match, const std::string& rehash);
    void join_group(Conn& c, const Packet& p, const Group& g);
    void on_group_unsub(Conn& c, const Packet& p);
    void on_group_admin(Conn& c, const Packet& p);

    // Messages, stored messages and history.
    void on_mesg(Conn& c, const Packet& p);
    void forward_chunk(const Inflight& m, int64_t sender, const Packet& p, bool first);
    void finish_message(int64_t sender, Inflight& m, bool written);
    void replay(Conn& c, const StoredMessage& m, bool history, bool mark = false);
    void respond_later(Conn& c, uint64_t mesg_id, int64_t code);
    void pump(Conn& c);
    size_t unsent(const Conn& c) const { return c.out.size() - c.out_sent + c.delayed_bytes; }
    // Bytes of answers kept queued ahead of a slow reader's socket; well
    // below the stuck-reader limit, so a backlog never trips it.
    size_t output_budget() const { return std::min<size_t>(256u << 10, config_.max_output / 2); }
    void on_mesg_stored(Conn& c, const Packet& p);
    void on_mesg_hist(Conn& c, const Packet& p);
    void abandon_inflight(const Conn& sender);
    void bot_answer(int64_t bot, int64_t to, const StoredMessage& m);
    int64_t post_message(int64_t sender, int64_t target, const std::string& content_type, const std::string& body);
    int64_t next_time_us();

    Config config_;
    Store store_;
    std::unique_ptr<Bridging> bridging_;
    std::vector<int> listen_fds_;
    std::vector<bool> listen_tls_;
    std::vector<uint16_t> ports_, tls_ports_;
    ssl_ctx_st* tls_ctx_ = nullptr;
    // TLS connections whose library still holds input the socket no longer
    // shows, read again at the end of the round.
    std::vector<uint64_t> readable_;
    int epoll_fd_ = -1;
    int wake_fd_ = -1;
    int spare_fd_ = -1;  // given up to refuse a caller when descriptors run out
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stopping_{false};
    std::thread::id loop_id_;  // guarded by tasks_mu_

    std::mutex tasks_mu_;
    std::vector<std::function<void()>> tasks_;
    bool loop_alive_ = false;  // guarded by tasks_mu_
    std::mutex direct_mu_;     // serialises work done without the loop

    uint64_t next_conn_id_ = 1;
    std::unordered_map<uint64_t, std::unique_ptr<Conn>> conns_;
    size_t open_conns_ = 0;
    std::unordered_map<std::string, size_t> conns_per_address_;
    SignInThrottle throttle_;
    std::unique_ptr<PasswordChecks> password_checks_;
    std::unordered_map<int64_t, uint64_t> online_;  // account -> signed-in connection
    std::vector<uint64_t> dirty_;
    size_t delayed_ = 0;  // packets held back by the delay fault
    std::map<std::pair<int64_t, uint64_t>, Inflight> inflight_;
    std::vector<int64_t> bots_;
    int64_t last_time_us_ = 0;
    Clock::time_point next_tick_;
    Clock::time_point next_prune_;
};

}  // namespace olvaro::server

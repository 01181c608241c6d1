#pragma once
// The reference protocol server: an event loop on its own thread, with a small
// thread-safe control interface for tests, operators and the program.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace olvaro::server {

// Faults a test can switch on to see how the client copes.
struct Faults {
    bool lose_chunks = false;        // answer every message chunk with code 100, deliver nothing
    uint32_t drop_after_packets = 0; // close a connection once it has been sent this many packets (0: off)
    bool no_keepalive = false;       // never send "P"
    uint32_t delay_ms = 0;           // hold every outgoing packet this long
    bool refuse_sign_in = false;     // answer every sign-in with "LOGON FAILED"
    std::string refuse_reason;
    int32_t refuse_retry = 0;
};

struct Config {
    std::vector<uint16_t> ports{0};  // 0 picks a free port
    // Ports that speak TLS (0 picks a free one), with this certificate (the
    // chain may follow it) and key, in PEM.
    std::vector<uint16_t> tls_ports;
    std::string tls_cert_pem, tls_key_pem;
    // An IPv6 address listens on IPv6; "::" takes IPv4 callers as well.
    std::string bind_address = "127.0.0.1";
    std::string database = ":memory:";  // or a file name
    int word_size = 4;                  // width of ids in member lists: 4 or 8

    // Keep-alive. The client answers a "P" only after its interval of quiet,
    // so the server pings after interval + margin of its own silence and drops
    // a client that leaves a ping unanswered for interval + grace.
    uint32_t client_interval_ms = 30000;  // until the client announces "i"
    uint32_t ping_margin_ms = 15000;
    uint32_t grace_ms = 60000;
    uint32_t interval_unit_ms = 1000;     // one unit of the announced "i"
    uint32_t sign_in_timeout_ms = 60000;  // a connection must sign in by then

    size_t max_line = 8192;
    size_t max_headers = 64;
    size_t max_body = 1 << 20;
    size_t max_message = 32u << 20;  // whole message, over all its chunks
    size_t max_output = 16u << 20;   // unsent bytes before a reader counts as stuck

    bool demo = false;  // unknown addresses get an account at first sign-in

    // Connections at once, in all and from one address; callers past either
    // are closed at once.
    size_t max_connections = 20000;
    size_t max_connections_per_address = 256;

    // Quotas of one account; past one, the request is refused with 13.
    size_t max_groups_per_account = 1000;             // groups it is in
    size_t max_bridges_per_account = 16;
    size_t max_waiting_bytes_per_sender = 64u << 20;  // its private messages not yet delivered
    // Delivered private messages older than this are deleted, once a minute
    // (0 keeps them for ever).
    uint64_t keep_private_seconds = 365ull * 86400;
    // The names of completed messages, by which a copy the sender restarted
    // after losing the answers is acknowledged without being kept or
    // delivered again: kept this long, this many at most (the oldest go
    // first), pruned once a minute.
    uint64_t keep_message_keys_seconds = 2 * 86400;
    uint64_t max_message_keys = 500000;
    // Passwords are hashed at the cost the hashing library recommends for a
    // sign-in (about a tenth of a second); test servers may ask for the
    // least it allows instead.
    bool quick_password_hashes = false;

    // Bridged XMPP accounts: "domain=host:port" entries send a domain's
    // sessions to that address instead of the one its DNS names; plain
    // (unencrypted) XMPP links only when allowed.
    std::vector<std::string> xmpp_hosts;
    bool xmpp_allow_plain = false;
    // A CA certificate file trusted for XMPP links besides the system's.
    std::string xmpp_ca;
    // A bridged XMPP link is pinged this often; one ping unanswered until
    // the next ends the link.
    int xmpp_ping_ms = 20000;
    // A lost XMPP link is tried again, with growing pauses, for this long
    // before its bridge goes off.
    int64_t xmpp_give_up_ms = 3600000;
    // Distinct peer and chat addresses a bridge gives ids to in one run;
    // arrivals from further strangers are dropped, so a remote network
    // cannot grow the server without end.
    size_t bridge_peer_limit = 65536;
    Faults faults;
};

struct NewAccount {
    std::string email;
    std::string password;
    std::string nickname;
    std::string status;
    int32_t device_type = 0;  // 1 makes it the automated contact that answers every message
};

class Core;

// A new P-256 key and a certificate for `names` (the first is also the
// subject's common name; addresses become IP names), valid ten years: signed
// by the issuer given in PEM, else by itself; `authority` makes a CA.
bool make_certificate(const std::vector<std::string>& names, const std::string& issuer_cert_pem,
                      const std::string& issuer_key_pem, bool authority, std::string* cert_pem,
                      std::string* key_pem, std::string* error = nullptr);
// The SHA-256 of the certificate's public key (SubjectPublicKeyInfo, DER) in
// lower-case hex: what a client pins. Empty when the PEM holds no certificate.
std::string key_pin(const std::string& cert_pem);

class Server {
public:
    explicit Server(Config config);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Opens the database, listens and starts the loop thread.
    bool start(std::string* error = nullptr);
    void stop();
    bool running() const;
    std::vector<uint16_t> ports() const;
    std::vector<uint16_t> tls_ports() const;

    // Each call runs on the loop thread and waits for it. Ids are account ids;
    // 0 means refused (address taken, malformed, not found).
    int64_t create_account(const NewAccount& account);
    int64_t account_id(const std::string& email);
    // Lists `contact` in the owner's contact list, as if accepted.
    bool list_contact(int64_t owner, int64_t contact);
    int64_t create_group(const std::string& name, const std::string& description,
                         const std::string& password, int64_t admin);
    bool set_member(int64_t group, int64_t account, int32_t role);
    // Pushes a "SETTING" to the signed-in account; false when it is offline.
    bool push_setting(int64_t account, const std::string& name, const std::string& value);
    void set_faults(const Faults& faults);
    // Switches only the lost-chunk fault, leaving the others as they are.
    void set_lose_chunks(bool on);
    // Gives `owner` `contacts` new listed contacts and `groups` new groups of
    // `members` members each (the owner administers them), quickly: for
    // benchmarks. The new accounts have the password "seed".
    bool seed_bulk(int64_t owner, int contacts, int groups, int members);
    bool load_seed(const std::string& text, std::string* error = nullptr);
    bool seed_demo();
    size_t signed_in_count();
    // When the peer's device confirmed the bridged message the user sent
    // with this Mesg-Id (microseconds of server time); 0 before, or unknown.
    int64_t bridged_delivered_at(int64_t bridge, uint64_t mesg);
    // Messages and answers queued for all connections, not yet written out.
    size_t queued();
    // The tidy-up the server does once a minute (old inbox entries, old
    // delivered private messages), now.
    void tidy();

private:
    std::unique_ptr<Core> core_;
};

}  // namespace olvaro::server

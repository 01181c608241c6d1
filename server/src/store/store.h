#pragma once
// Everything the server keeps: accounts, contact lists, pending contact
// requests, groups and their members, and every message with its chunks.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "secrets.h"

struct sqlite3;
struct sqlite3_stmt;

namespace olvaro::server {

struct Account {
    int64_t id = 0;
    std::string email;
    std::string nickname;
    std::string status;
    int32_t device_type = 0;
    int64_t last_online = 0;  // seconds; 0 = never signed in
    int64_t created = 0;
};

struct ContactRequest {
    int64_t source = 0;
    std::string message;
};

struct Group {
    int64_t id = 0;
    std::string name;
    std::string description;
    bool has_password = false;
};

// An account's link to another network: its type and the fields given at
// registration (lower-case names, as they arrived).
struct BridgeRecord {
    int64_t id = 0;
    int64_t account = 0;
    int32_t type = 0;
    std::vector<std::pair<std::string, std::string>> fields;
    bool disabled = false;
    std::string field(const std::string& name) const {
        for (auto& [n, v] : fields)
            if (n == name) return v;
        return std::string();
    }
};

struct StoredMessage {
    int64_t id = 0;
    int64_t sender = 0;
    int64_t target = 0;
    bool is_group = false;
    uint64_t mesg_id = 0;
    std::string content_type;
    int64_t time_us = 0;  // server time in microseconds
};

class Statement;

class Store {
public:
    Store();
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // A database file gets its sealing key from the file beside it named
    // like it with ".key" added, made at the first start.
    bool open(const std::string& path, std::string* error);
    bool is_open() const { return db_ != nullptr; }
    // The work each new password hash costs (before open).
    void set_hash_cost(HashCost cost) { cost_ = cost; }
    // Writes are gathered into one transaction until commit().
    void commit();

    // Accounts. Ids stay below 2^31 so they fit every id field of the protocol.
    int64_t add_account(const std::string& email, const std::string& password, const std::string& nickname,
                        const std::string& status, int32_t device_type, int64_t now);
    std::optional<Account> account(int64_t id);
    std::optional<Account> account_by_email(const std::string& email);
    // An account's stored salt and hash, to check a password against away
    // from the store, and the new hash kept when the old one was stale.
    std::optional<std::pair<std::string, std::string>> password_of(int64_t id);
    void set_password_hash(int64_t id, const std::string& hash);
    void set_identity(int64_t id, const std::string* nickname, const std::string* status);
    void set_last_online(int64_t id, int64_t seconds);
    void set_device_type(int64_t id, int32_t type);
    std::vector<int64_t> bots();

    // Contact lists: the owner sees the contact (accepted).
    bool listed(int64_t owner, int64_t contact);
    void list(int64_t owner, int64_t contact);
    void unlist(int64_t owner, int64_t contact);
    std::vector<Account> contacts(int64_t owner);
    std::vector<int64_t> watchers(int64_t contact);

    // Requests waiting for the target's answer.
    // Whether `viewer` may learn `account`'s address: they list one another
    // (either way), share a group, or the viewer gave the address itself.
    bool may_see_address(int64_t viewer, int64_t account);
    void note_address_known(int64_t viewer, int64_t account);
    void put_request(int64_t source, int64_t target, const std::string& message);
    bool has_request(int64_t source, int64_t target);
    void drop_request(int64_t source, int64_t target);
    std::vector<ContactRequest> requests_to(int64_t target);
    // The accounts `source` asked to list and that have not answered yet.
    std::vector<Account> requested_by(int64_t source);

    // Groups and roles.
    int64_t add_group(const std::string& name, const std::string& description, const std::string& password);
    std::optional<Group> group(int64_t id);
    std::optional<Group> group_by_name(const std::string& name);
    // A group's stored salt and hash (an empty hash: no password), and the
    // new hash kept when the old one was stale.
    std::optional<std::pair<std::string, std::string>> group_password_of(int64_t id);
    void set_group_password_hash(int64_t id, const std::string& hash);
    std::optional<int32_t> role(int64_t group, int64_t account);
    void set_role(int64_t group, int64_t account, int32_t role);
    void remove_member(int64_t group, int64_t account);
    std::vector<std::pair<int64_t, int32_t>> members(int64_t group);
    std::vector<int64_t> groups_of(int64_t account);

    // Messages.
    int64_t add_message(int64_t sender, int64_t target, bool is_group, uint64_t mesg_id,
                        const std::string& content_type, int64_t time_us, bool complete = false,
                        bool delivered = false);
    void add_chunk(int64_t message, int32_t seq, const std::string& data);
    void complete_message(int64_t message, bool delivered);
    void mark_delivered(int64_t message);
    void delete_message(int64_t message);
    std::string payload(int64_t message);
    std::optional<StoredMessage> message(int64_t id);
    bool has_undelivered(int64_t account);
    // Private messages for the account not yet delivered, or sent in [from, until).
    std::vector<StoredMessage> stored_private(int64_t account, int64_t from_us, int64_t until_us, size_t limit);
    // Group messages kept for the member (it was offline, or the link may
    // have lost them): not yet delivered and sent from kept_from_us on, or
    // sent in [from_us, until_us).
    std::vector<StoredMessage> stored_group(int64_t account, int64_t from_us, int64_t kept_from_us, int64_t until_us,
                                            size_t limit);
    void add_group_inbox(int64_t account, int64_t message, int64_t time_us);
    void mark_group_delivered(int64_t account, int64_t message);
    std::vector<int64_t> group_inbox_waiting(int64_t message);
    void drop_group_inbox_before(int64_t account, int64_t time_us);
    // Delivered entries are kept only while a lost link could still ask for
    // them again; undelivered ones for a month.
    void prune_group_inbox(int64_t now_us);
    // Deletes delivered private messages from before `before_us`.
    void prune_private(int64_t before_us);
    // The names senders gave their completed messages ("Mesg-Key"), so a
    // restarted copy is known; kept from `before_us` on, the newest `keep` at most.
    void add_message_key(int64_t sender, const std::string& key, int64_t time_us);
    bool has_message_key(int64_t sender, const std::string& key);
    void prune_message_keys(int64_t before_us, uint64_t keep);
    // Bytes of the private messages `sender` has stored and not yet delivered.
    int64_t waiting_bytes_from(int64_t sender);
    // Newest first, strictly older than before_us; or oldest first, newer than after_us.
    std::vector<StoredMessage> history_private(int64_t a, int64_t b, int64_t before_us, size_t limit);
    std::vector<StoredMessage> history_group(int64_t group, int64_t before_us, size_t limit);
    std::vector<StoredMessage> later_private(int64_t a, int64_t b, int64_t after_us, size_t limit);
    std::vector<StoredMessage> later_group(int64_t group, int64_t after_us, size_t limit);
    int64_t newest_message_time();

    // Bridges.
    int64_t add_bridge(int64_t account, int32_t type, const std::vector<std::pair<std::string, std::string>>& fields);
    std::optional<BridgeRecord> bridge(int64_t id);
    std::vector<BridgeRecord> bridges_of(int64_t account);
    void set_bridge_disabled(int64_t id, bool disabled);
    void remove_bridge(int64_t id);

    // Bulk seeding for benchmarks: `owner` lists `contacts` new accounts and
    // administers `groups` new groups of `members` members each (the owner and
    // new accounts). Everything goes in with one statement each, in the
    // pending transaction. Returns false when the ids would run out.
    bool seed_bulk(int64_t owner, int contacts, int groups, int members, const std::string& password, int64_t now);

private:
    void seal_bridge_fields();
    Statement& stmt(const char* sql);
    void write();  // opens the pending transaction
    void exec(const char* sql);
    std::vector<StoredMessage> messages(Statement& s);
    std::vector<BridgeRecord> bridge_rows(Statement& s);

    sqlite3* db_ = nullptr;
    bool in_txn_ = false;
    HashCost cost_ = HashCost::interactive();
    SecretBox secrets_;
    std::unordered_map<const char*, std::unique_ptr<Statement>> cache_;
    // Accounts are read for nearly every packet; kept here once read.
    std::unordered_map<int64_t, Account> accounts_;
};

}  // namespace olvaro::server

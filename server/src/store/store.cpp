#include "store.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>

namespace olvaro::server {

class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &s_, nullptr) != SQLITE_OK) s_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(s_); }
    bool ok() const { return s_ != nullptr; }
    Statement& reset() {
        sqlite3_reset(s_);
        sqlite3_clear_bindings(s_);
        n_ = 0;
        return *this;
    }
    Statement& bind(int64_t v) {
        sqlite3_bind_int64(s_, ++n_, v);
        return *this;
    }
    Statement& bind(const std::string& v) {
        sqlite3_bind_text(s_, ++n_, v.data(), int(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& blob(const std::string& v) {
        sqlite3_bind_blob(s_, ++n_, v.data(), int(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    bool row() { return sqlite3_step(s_) == SQLITE_ROW; }
    void run() {
        while (row()) {}
    }
    int64_t i(int c) { return sqlite3_column_int64(s_, c); }
    std::string t(int c) {
        const void* p = sqlite3_column_blob(s_, c);
        return p ? std::string(static_cast<const char*>(p), size_t(sqlite3_column_bytes(s_, c))) : std::string();
    }

private:
    sqlite3_stmt* s_ = nullptr;
    int n_ = 0;
};

namespace {
const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS accounts(
  id INTEGER PRIMARY KEY, email TEXT NOT NULL UNIQUE COLLATE NOCASE, salt TEXT NOT NULL, digest TEXT NOT NULL,
  nickname TEXT NOT NULL, status TEXT NOT NULL, device_type INTEGER NOT NULL, last_online INTEGER NOT NULL,
  created INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS bridges(id INTEGER PRIMARY KEY, account INTEGER NOT NULL, type INTEGER NOT NULL,
  fields BLOB NOT NULL, disabled INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS bridges_by_account ON bridges(account);
CREATE TABLE IF NOT EXISTS contacts(owner INTEGER NOT NULL, contact INTEGER NOT NULL,
  PRIMARY KEY(owner, contact)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS contacts_by_contact ON contacts(contact, owner);
CREATE TABLE IF NOT EXISTS known_addresses(viewer INTEGER NOT NULL, account INTEGER NOT NULL,
  PRIMARY KEY(viewer, account)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS requests(source INTEGER NOT NULL, target INTEGER NOT NULL, message BLOB NOT NULL,
  PRIMARY KEY(target, source)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS chat_groups(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE COLLATE NOCASE,
  description TEXT NOT NULL, salt TEXT NOT NULL, digest TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS members(group_id INTEGER NOT NULL, account INTEGER NOT NULL, role INTEGER NOT NULL,
  PRIMARY KEY(group_id, account)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS members_by_account ON members(account, group_id);
CREATE TABLE IF NOT EXISTS messages(id INTEGER PRIMARY KEY, sender INTEGER NOT NULL, target INTEGER NOT NULL,
  is_group INTEGER NOT NULL, mesg_id INTEGER NOT NULL, content_type TEXT NOT NULL, time_us INTEGER NOT NULL,
  complete INTEGER NOT NULL, delivered INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS messages_to ON messages(is_group, target, time_us);
CREATE INDEX IF NOT EXISTS messages_from ON messages(sender, is_group, target, time_us);
CREATE INDEX IF NOT EXISTS messages_waiting ON messages(target, delivered) WHERE delivered = 0 AND is_group = 0;
CREATE INDEX IF NOT EXISTS messages_waiting_from ON messages(sender) WHERE delivered = 0 AND is_group = 0;
CREATE TABLE IF NOT EXISTS group_inbox(account INTEGER NOT NULL, message INTEGER NOT NULL, time_us INTEGER NOT NULL,
  delivered INTEGER NOT NULL, PRIMARY KEY(account, message)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS group_inbox_by_message ON group_inbox(message);
CREATE INDEX IF NOT EXISTS group_inbox_by_time ON group_inbox(time_us);
CREATE TABLE IF NOT EXISTS message_keys(sender INTEGER NOT NULL, key BLOB NOT NULL, time_us INTEGER NOT NULL,
  PRIMARY KEY(sender, key)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS message_keys_by_time ON message_keys(time_us);
CREATE TABLE IF NOT EXISTS chunks(message INTEGER NOT NULL, seq INTEGER NOT NULL, data BLOB NOT NULL,
  PRIMARY KEY(message, seq)) WITHOUT ROWID;
)";

}  // namespace

Store::Store() = default;

Store::~Store() {
    if (db_) {
        commit();
        cache_.clear();
        sqlite3_close(db_);
    }
}

bool Store::open(const std::string& path, std::string* error) {
    bool in_memory = path.empty() || path == ":memory:";
    if (in_memory) secrets_.make_ephemeral();
    else if (!secrets_.load_or_create(path + ".key", error)) return false;
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
        if (error) *error = db_ ? sqlite3_errmsg(db_) : "cannot open the database";
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    sqlite3_busy_timeout(db_, 2000);
    // Messages and password digests are nobody else's business.
    if (!in_memory) chmod(path.c_str(), 0600);
    char* msg = nullptr;
    std::string setup = std::string("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;") + kSchema;
    if (sqlite3_exec(db_, setup.c_str(), nullptr, nullptr, &msg) != SQLITE_OK) {
        if (error) *error = msg ? msg : "cannot set up the database";
        sqlite3_free(msg);
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    // Messages cut off by a stop can never be finished: their senders resend them.
    exec("DELETE FROM chunks WHERE message IN (SELECT id FROM messages WHERE complete = 0)");
    exec("DELETE FROM group_inbox WHERE message IN (SELECT id FROM messages WHERE complete = 0)");
    exec("DELETE FROM messages WHERE complete = 0");
    seal_bridge_fields();
    return true;
}

void Store::exec(const char* sql) { sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

void Store::write() {
    if (!in_txn_) {
        exec("BEGIN");
        in_txn_ = true;
    }
}

void Store::commit() {
    if (!db_) return;
    // A question left on its answer row keeps its read open, and while any
    // read is open the write-ahead log cannot start over: it would grow for
    // as long as the server runs.
    for (sqlite3_stmt* s = sqlite3_next_stmt(db_, nullptr); s; s = sqlite3_next_stmt(db_, s))
        if (sqlite3_stmt_busy(s)) sqlite3_reset(s);
    if (in_txn_) {
        exec("COMMIT");
        in_txn_ = false;
    }
}

Statement& Store::stmt(const char* sql) {
    auto it = cache_.find(sql);
    if (it == cache_.end()) it = cache_.emplace(sql, std::make_unique<Statement>(db_, sql)).first;
    return it->second->reset();
}

int64_t Store::add_account(const std::string& email, const std::string& password, const std::string& nickname,
                           const std::string& status, int32_t device_type, int64_t now) {
    if (account_by_email(email)) return 0;
    auto& top = stmt("SELECT IFNULL(MAX(id), 999) FROM accounts");
    int64_t id = top.row() ? top.i(0) + 1 : 1000;
    if (id > INT32_MAX) return 0;
    write();
    std::string hash = hash_password(password, cost_);
    if (hash.empty()) return 0;
    stmt("INSERT INTO accounts VALUES(?,?,?,?,?,?,?,0,?)")
        .bind(id).bind(email).bind(std::string()).bind(hash).bind(nickname).bind(status)
        .bind(device_type).bind(now).run();
    return id;
}

static Account read_account(Statement& s) {
    Account a;
    a.id = s.i(0);
    a.email = s.t(1);
    a.nickname = s.t(2);
    a.status = s.t(3);
    a.device_type = int32_t(s.i(4));
    a.last_online = s.i(5);
    a.created = s.i(6);
    return a;
}

#define ACCOUNT_COLUMNS "id, email, nickname, status, device_type, last_online, created"

std::optional<Account> Store::account(int64_t id) {
    if (auto it = accounts_.find(id); it != accounts_.end()) return it->second;
    auto& s = stmt("SELECT " ACCOUNT_COLUMNS " FROM accounts WHERE id = ?").bind(id);
    if (!s.row()) return std::nullopt;
    return accounts_[id] = read_account(s);
}

std::optional<Account> Store::account_by_email(const std::string& email) {
    auto& s = stmt("SELECT " ACCOUNT_COLUMNS " FROM accounts WHERE email = ?").bind(email);
    if (!s.row()) return std::nullopt;
    return read_account(s);
}

std::optional<std::pair<std::string, std::string>> Store::password_of(int64_t id) {
    auto& s = stmt("SELECT salt, digest FROM accounts WHERE id = ?").bind(id);
    if (!s.row()) return std::nullopt;
    return std::make_pair(s.t(0), s.t(1));
}

void Store::set_password_hash(int64_t id, const std::string& hash) {
    write();
    stmt("UPDATE accounts SET salt = '', digest = ? WHERE id = ?").bind(hash).bind(id).run();
}

void Store::set_identity(int64_t id, const std::string* nickname, const std::string* status) {
    write();
    if (nickname) stmt("UPDATE accounts SET nickname = ? WHERE id = ?").bind(*nickname).bind(id).run();
    if (status) stmt("UPDATE accounts SET status = ? WHERE id = ?").bind(*status).bind(id).run();
    accounts_.erase(id);
}

void Store::set_last_online(int64_t id, int64_t seconds) {
    write();
    stmt("UPDATE accounts SET last_online = ? WHERE id = ?").bind(seconds).bind(id).run();
    accounts_.erase(id);
}

void Store::set_device_type(int64_t id, int32_t type) {
    write();
    stmt("UPDATE accounts SET device_type = ? WHERE id = ?").bind(type).bind(id).run();
    accounts_.erase(id);
}

std::vector<int64_t> Store::bots() {
    std::vector<int64_t> r;
    auto& s = stmt("SELECT id FROM accounts WHERE device_type = 1");
    while (s.row()) r.push_back(s.i(0));
    return r;
}

bool Store::listed(int64_t owner, int64_t contact) {
    return stmt("SELECT 1 FROM contacts WHERE owner = ? AND contact = ?").bind(owner).bind(contact).row();
}

void Store::list(int64_t owner, int64_t contact) {
    write();
    stmt("INSERT OR IGNORE INTO contacts VALUES(?,?)").bind(owner).bind(contact).run();
}

void Store::unlist(int64_t owner, int64_t contact) {
    write();
    stmt("DELETE FROM contacts WHERE owner = ? AND contact = ?").bind(owner).bind(contact).run();
}

std::vector<Account> Store::contacts(int64_t owner) {
    std::vector<Account> r;
    auto& s = stmt("SELECT a.id, a.email, a.nickname, a.status, a.device_type, a.last_online, a.created "
                   "FROM contacts c JOIN accounts a ON a.id = c.contact WHERE c.owner = ? ORDER BY a.id")
                  .bind(owner);
    while (s.row()) r.push_back(read_account(s));
    return r;
}

std::vector<Account> Store::requested_by(int64_t source) {
    std::vector<Account> r;
    auto& s = stmt("SELECT a.id, a.email, a.nickname, a.status, a.device_type, a.last_online, a.created "
                   "FROM requests q JOIN accounts a ON a.id = q.target WHERE q.source = ? ORDER BY a.id")
                  .bind(source);
    while (s.row()) r.push_back(read_account(s));
    return r;
}

std::vector<int64_t> Store::watchers(int64_t contact) {
    std::vector<int64_t> r;
    auto& s = stmt("SELECT owner FROM contacts WHERE contact = ?").bind(contact);
    while (s.row()) r.push_back(s.i(0));
    return r;
}

void Store::note_address_known(int64_t viewer, int64_t account) {
    write();
    stmt("INSERT OR IGNORE INTO known_addresses VALUES(?,?)").bind(viewer).bind(account).run();
}

bool Store::may_see_address(int64_t viewer, int64_t account) {
    return viewer == account || listed(viewer, account) || listed(account, viewer) ||
           stmt("SELECT 1 FROM known_addresses WHERE viewer = ? AND account = ?").bind(viewer).bind(account).row() ||
           stmt("SELECT 1 FROM members a JOIN members b ON b.group_id = a.group_id AND b.account = ?"
                " WHERE a.account = ? LIMIT 1")
               .bind(account).bind(viewer).row();
}

void Store::put_request(int64_t source, int64_t target, const std::string& message) {
    write();
    stmt("INSERT OR REPLACE INTO requests VALUES(?,?,?)").bind(source).bind(target).blob(message).run();
}

bool Store::has_request(int64_t source, int64_t target) {
    return stmt("SELECT 1 FROM requests WHERE source = ? AND target = ?").bind(source).bind(target).row();
}

void Store::drop_request(int64_t source, int64_t target) {
    write();
    stmt("DELETE FROM requests WHERE source = ? AND target = ?").bind(source).bind(target).run();
}

std::vector<ContactRequest> Store::requests_to(int64_t target) {
    std::vector<ContactRequest> r;
    auto& s = stmt("SELECT source, message FROM requests WHERE target = ? ORDER BY source").bind(target);
    while (s.row()) r.push_back({s.i(0), s.t(1)});
    return r;
}

int64_t Store::add_group(const std::string& name, const std::string& description, const std::string& password) {
    if (group_by_name(name)) return 0;
    write();
    std::string digest = password.empty() ? std::string() : hash_password(password, cost_);
    if (!password.empty() && digest.empty()) return 0;
    stmt("INSERT INTO chat_groups(name, description, salt, digest) VALUES(?,?,?,?)")
        .bind(name).bind(description).bind(std::string()).bind(digest).run();
    return sqlite3_last_insert_rowid(db_);
}

std::optional<Group> Store::group(int64_t id) {
    auto& s = stmt("SELECT id, name, description, digest != '' FROM chat_groups WHERE id = ?").bind(id);
    if (!s.row()) return std::nullopt;
    return Group{s.i(0), s.t(1), s.t(2), s.i(3) != 0};
}

std::optional<Group> Store::group_by_name(const std::string& name) {
    auto& s = stmt("SELECT id, name, description, digest != '' FROM chat_groups WHERE name = ?").bind(name);
    if (!s.row()) return std::nullopt;
    return Group{s.i(0), s.t(1), s.t(2), s.i(3) != 0};
}

std::optional<std::pair<std::string, std::string>> Store::group_password_of(int64_t id) {
    auto& s = stmt("SELECT salt, digest FROM chat_groups WHERE id = ?").bind(id);
    if (!s.row()) return std::nullopt;
    return std::make_pair(s.t(0), s.t(1));
}

void Store::set_group_password_hash(int64_t id, const std::string& hash) {
    write();
    stmt("UPDATE chat_groups SET salt = '', digest = ? WHERE id = ?").bind(hash).bind(id).run();
}

std::optional<int32_t> Store::role(int64_t group, int64_t account) {
    auto& s = stmt("SELECT role FROM members WHERE group_id = ? AND account = ?").bind(group).bind(account);
    if (!s.row()) return std::nullopt;
    return int32_t(s.i(0));
}

void Store::set_role(int64_t group, int64_t account, int32_t role) {
    write();
    stmt("INSERT OR REPLACE INTO members VALUES(?,?,?)").bind(group).bind(account).bind(role).run();
}

void Store::remove_member(int64_t group, int64_t account) {
    write();
    stmt("DELETE FROM members WHERE group_id = ? AND account = ?").bind(group).bind(account).run();
}

std::vector<std::pair<int64_t, int32_t>> Store::members(int64_t group) {
    std::vector<std::pair<int64_t, int32_t>> r;
    auto& s = stmt("SELECT account, role FROM members WHERE group_id = ? ORDER BY account").bind(group);
    while (s.row()) r.emplace_back(s.i(0), int32_t(s.i(1)));
    return r;
}

std::vector<int64_t> Store::groups_of(int64_t account) {
    std::vector<int64_t> r;
    auto& s = stmt("SELECT group_id FROM members WHERE account = ? ORDER BY group_id").bind(account);
    while (s.row()) r.push_back(s.i(0));
    return r;
}

int64_t Store::add_message(int64_t sender, int64_t target, bool is_group, uint64_t mesg_id,
                           const std::string& content_type, int64_t time_us, bool complete, bool delivered) {
    write();
    stmt("INSERT INTO messages(sender, target, is_group, mesg_id, content_type, time_us, complete, delivered) "
         "VALUES(?,?,?,?,?,?,?,?)")
        .bind(sender).bind(target).bind(is_group ? 1 : 0).bind(int64_t(mesg_id)).bind(content_type).bind(time_us)
        .bind(complete ? 1 : 0).bind(delivered ? 1 : 0)
        .run();
    return sqlite3_last_insert_rowid(db_);
}

void Store::add_chunk(int64_t message, int32_t seq, const std::string& data) {
    write();
    stmt("INSERT OR REPLACE INTO chunks VALUES(?,?,?)").bind(message).bind(seq).blob(data).run();
}

void Store::complete_message(int64_t message, bool delivered) {
    write();
    stmt("UPDATE messages SET complete = 1, delivered = ? WHERE id = ?").bind(delivered ? 1 : 0).bind(message).run();
}

void Store::mark_delivered(int64_t message) {
    write();
    stmt("UPDATE messages SET delivered = 1 WHERE id = ?").bind(message).run();
}

void Store::delete_message(int64_t message) {
    write();
    stmt("DELETE FROM chunks WHERE message = ?").bind(message).run();
    stmt("DELETE FROM group_inbox WHERE message = ?").bind(message).run();
    stmt("DELETE FROM messages WHERE id = ?").bind(message).run();
}

std::string Store::payload(int64_t message) {
    std::string r;
    auto& s = stmt("SELECT data FROM chunks WHERE message = ? ORDER BY seq").bind(message);
    while (s.row()) r += s.t(0);
    return r;
}

#define MESSAGE_COLUMNS "id, sender, target, is_group, mesg_id, content_type, time_us"

// Fields are kept as name NUL value NUL pairs, so any text fits.
namespace {
std::string pack_fields(const std::vector<std::pair<std::string, std::string>>& fields) {
    std::string out;
    for (auto& [n, v] : fields) {
        out += n;
        out += '\0';
        out += v;
        out += '\0';
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> unpack_fields(const std::string& packed) {
    std::vector<std::pair<std::string, std::string>> out;
    size_t at = 0;
    while (at < packed.size()) {
        size_t name_end = packed.find('\0', at);
        if (name_end == std::string::npos) break;
        size_t value_end = packed.find('\0', name_end + 1);
        if (value_end == std::string::npos) break;
        out.emplace_back(packed.substr(at, name_end - at), packed.substr(name_end + 1, value_end - name_end - 1));
        at = value_end + 1;
    }
    return out;
}
}  // namespace

int64_t Store::add_bridge(int64_t account, int32_t type, const std::vector<std::pair<std::string, std::string>>& fields) {
    write();
    stmt("INSERT INTO bridges(account, type, fields) VALUES(?,?,?)")
        .bind(account).bind(int64_t(type)).blob(secrets_.seal(pack_fields(fields))).run();
    return sqlite3_last_insert_rowid(db_);
}

std::vector<BridgeRecord> Store::bridge_rows(Statement& s) {
    std::vector<BridgeRecord> r;
    while (s.row()) {
        std::string stored = s.t(3);
        std::optional<std::string> plain = secrets_.open(stored);
        r.push_back({s.i(0), s.i(1), int32_t(s.i(2)), unpack_fields(plain ? *plain : stored), s.i(4) != 0});
    }
    return r;
}

std::optional<BridgeRecord> Store::bridge(int64_t id) {
    auto r = bridge_rows(stmt("SELECT id, account, type, fields, disabled FROM bridges WHERE id = ?").bind(id));
    if (r.empty()) return std::nullopt;
    return r.front();
}

std::vector<BridgeRecord> Store::bridges_of(int64_t account) {
    return bridge_rows(stmt("SELECT id, account, type, fields, disabled FROM bridges WHERE account = ? ORDER BY id").bind(account));
}

// Rows an earlier version of the server kept in clear are sealed once, at
// the start.
void Store::seal_bridge_fields() {
    std::vector<std::pair<int64_t, std::string>> clear;
    auto& s = stmt("SELECT id, fields FROM bridges");
    while (s.row())
        if (std::string stored = s.t(1); !secrets_.open(stored)) clear.emplace_back(s.i(0), std::move(stored));
    if (clear.empty()) return;
    write();
    for (auto& [id, fields] : clear)
        stmt("UPDATE bridges SET fields = ? WHERE id = ?").blob(secrets_.seal(fields)).bind(id).run();
    commit();
}

void Store::set_bridge_disabled(int64_t id, bool disabled) {
    write();
    stmt("UPDATE bridges SET disabled = ? WHERE id = ?").bind(int64_t(disabled ? 1 : 0)).bind(id).run();
}

void Store::remove_bridge(int64_t id) {
    write();
    stmt("DELETE FROM bridges WHERE id = ?").bind(id).run();
}

std::vector<StoredMessage> Store::messages(Statement& s) {
    std::vector<StoredMessage> r;
    while (s.row())
        r.push_back({s.i(0), s.i(1), s.i(2), s.i(3) != 0, uint64_t(s.i(4)), s.t(5), s.i(6)});
    return r;
}

std::optional<StoredMessage> Store::message(int64_t id) {
    auto r = messages(stmt("SELECT " MESSAGE_COLUMNS " FROM messages WHERE id = ?").bind(id));
    if (r.empty()) return std::nullopt;
    return r.front();
}

bool Store::has_undelivered(int64_t account) {
    return stmt("SELECT 1 FROM messages WHERE target = ? AND delivered = 0 AND is_group = 0 AND complete = 1")
        .bind(account)
        .row();
}

std::vector<StoredMessage> Store::stored_private(int64_t account, int64_t from_us, int64_t until_us, size_t limit) {
    return messages(stmt("SELECT " MESSAGE_COLUMNS " FROM messages WHERE is_group = 0 AND target = ? AND complete = 1"
                         " AND (delivered = 0 OR (time_us >= ? AND time_us < ?)) ORDER BY time_us LIMIT ?")
                        .bind(account).bind(from_us).bind(until_us).bind(int64_t(limit)));
}

std::vector<StoredMessage> Store::stored_group(int64_t account, int64_t from_us, int64_t kept_from_us,
                                              int64_t until_us, size_t limit) {
    // Only while still a member in good standing.
    return messages(stmt("SELECT m.id, m.sender, m.target, m.is_group, m.mesg_id, m.content_type, m.time_us"
                         " FROM group_inbox i JOIN messages m ON m.id = i.message"
                         " JOIN members g ON g.group_id = m.target AND g.account = i.account"
                         " WHERE i.account = ? AND m.complete = 1 AND (g.role & 20) = 0 AND i.time_us < ?"
                         " AND ((i.delivered = 0 AND i.time_us >= ?) OR i.time_us >= ?) ORDER BY i.time_us LIMIT ?")
                        .bind(account).bind(until_us).bind(kept_from_us).bind(from_us).bind(int64_t(limit)));
}

void Store::add_group_inbox(int64_t account, int64_t message, int64_t time_us) {
    write();
    stmt("INSERT OR REPLACE INTO group_inbox VALUES(?,?,?,0)").bind(account).bind(message).bind(time_us).run();
}

void Store::mark_group_delivered(int64_t account, int64_t message) {
    write();
    stmt("UPDATE group_inbox SET delivered = 1 WHERE account = ? AND message = ?").bind(account).bind(message).run();
}

std::vector<int64_t> Store::group_inbox_waiting(int64_t message) {
    std::vector<int64_t> r;
    auto& s = stmt("SELECT account FROM group_inbox WHERE message = ? AND delivered = 0").bind(message);
    while (s.row()) r.push_back(s.i(0));
    return r;
}

void Store::drop_group_inbox_before(int64_t account, int64_t time_us) {
    write();
    stmt("DELETE FROM group_inbox WHERE account = ? AND time_us < ?").bind(account).bind(time_us).run();
}

void Store::prune_group_inbox(int64_t now_us) {
    const int64_t hour = 3600ll * 1000000, month = 30 * 24 * hour;
    write();
    stmt("DELETE FROM group_inbox WHERE time_us < ? AND (delivered = 1 OR time_us < ?)")
        .bind(now_us - hour).bind(now_us - month).run();
}

void Store::prune_private(int64_t before_us) {
    write();
    stmt("DELETE FROM chunks WHERE message IN (SELECT id FROM messages WHERE is_group = 0 AND delivered = 1"
         " AND time_us < ?)")
        .bind(before_us).run();
    stmt("DELETE FROM messages WHERE is_group = 0 AND delivered = 1 AND time_us < ?").bind(before_us).run();
}

void Store::add_message_key(int64_t sender, const std::string& key, int64_t time_us) {
    write();
    stmt("INSERT OR REPLACE INTO message_keys(sender, key, time_us) VALUES(?, ?, ?)")
        .bind(sender).blob(key).bind(time_us).run();
}

bool Store::has_message_key(int64_t sender, const std::string& key) {
    auto& s = stmt("SELECT 1 FROM message_keys WHERE sender = ? AND key = ?").bind(sender).blob(key);
    bool found = s.row();
    s.reset();
    return found;
}

void Store::prune_message_keys(int64_t before_us, uint64_t keep) {
    write();
    stmt("DELETE FROM message_keys WHERE time_us < ?").bind(before_us).run();
    // Past the count, the oldest go first.
    auto& newest = stmt("SELECT time_us FROM message_keys ORDER BY time_us DESC LIMIT 1 OFFSET ?");
    if (newest.bind(int64_t(std::min<uint64_t>(keep, INT64_MAX))).row()) {
        int64_t kept_from = newest.i(0);
        newest.reset();
        stmt("DELETE FROM message_keys WHERE time_us <= ?").bind(kept_from).run();
    }
}

int64_t Store::waiting_bytes_from(int64_t sender) {
    // Through the index of undelivered messages alone: asked at every
    // message sent, it must not grow with the sender's history.
    auto& s = stmt("SELECT IFNULL(SUM(LENGTH(c.data)), 0) FROM messages m INDEXED BY messages_waiting_from"
                   " JOIN chunks c ON c.message = m.id"
                   " WHERE m.sender = ? AND m.is_group = 0 AND m.delivered = 0");
    return s.bind(sender).row() ? s.i(0) : 0;
}

std::vector<StoredMessage> Store::history_private(int64_t a, int64_t b, int64_t before_us, size_t limit) {
    return messages(stmt("SELECT " MESSAGE_COLUMNS " FROM messages WHERE is_group = 0 AND complete = 1"
                         " AND ((sender = ? AND target = ?) OR (sender = ? AND target = ?)) AND time_us < ?"
                         " ORDER BY time_us DESC LIMIT ?")
                        .bind(a).bind(b).bind(b).bind(a).bind(before_us).bind(int64_t(limit)));
}

std::vector<StoredMessage> Store::history_group(int64_t group, int64_t before_us, size_t limit) {
    return messages(stmt("SELECT " MESSAGE_COLUMNS " FROM messages WHERE is_group = 1 AND target = ? AND complete = 1"
                         " AND time_us < ? ORDER BY time_us DESC LIMIT ?")
                        .bind(group).bind(before_us).bind(int64_t(limit)));
}

std::vector<StoredMessage> Store::later_private(int64_t a, int64_t b, int64_t after_us, size_t limit) {
    return messages(stmt("SELECT " MESSAGE_COLUMNS " FROM messages WHERE is_group = 0 AND complete = 1"
                         " AND ((sender = ? AND target = ?) OR (sender = ? AND target = ?)) AND time_us > ?"
                         " ORDER BY time_us LIMIT ?")
                        .bind(a).bind(b).bind(b).bind(a).bind(after_us).bind(int64_t(limit)));
}

std::vector<StoredMessage> Store::later_group(int64_t group, int64_t after_us, size_t limit) {
    return messages(stmt("SELECT " MESSAGE_COLUMNS " FROM messages WHERE is_group = 1 AND target = ? AND complete = 1"
                         " AND time_us > ? ORDER BY time_us LIMIT ?")
                        .bind(group).bind(after_us).bind(int64_t(limit)));
}

bool Store::seed_bulk(int64_t owner, int contacts, int groups, int members, const std::string& password,
                      int64_t now) {
    if (contacts < 0 || groups < 0 || members < 0) return false;
    // Members beyond the owner come from the new contacts, with more new
    // accounts when the contacts are fewer.
    int64_t people = std::max<int64_t>(contacts, members > 1 ? members - 1 : 0);
    auto& top = stmt("SELECT IFNULL(MAX(id), 999) FROM accounts");
    int64_t first = top.row() ? top.i(0) + 1 : 1000;
    if (first + people > INT32_MAX) return false;
    auto& gtop = stmt("SELECT IFNULL(MAX(id), 0) FROM chat_groups");
    int64_t first_group = gtop.row() ? gtop.i(0) + 1 : 1;
    write();
    // One hash for all: it is computed once, not per account.
    std::string salt;
    std::string digest = hash_password(password, cost_);
    if (digest.empty()) return false;
    auto& add = stmt("INSERT OR IGNORE INTO accounts VALUES(?,?,?,?,?,?,0,0,?)");
    for (int64_t i = 0; i < people; ++i) {
        int64_t id = first + i;
        add.reset().bind(id).bind("seed" + std::to_string(id) + "@seed.olvaro").bind(salt).bind(digest)
            .bind("Seed " + std::to_string(id)).bind(std::string("seeded")).bind(now).run();
    }
    auto& listed = stmt("INSERT OR IGNORE INTO contacts VALUES(?,?)");
    for (int64_t i = 0; i < contacts; ++i) listed.reset().bind(owner).bind(first + i).run();
    auto& group = stmt("INSERT OR IGNORE INTO chat_groups VALUES(?,?,?,?,'')");
    auto& member = stmt("INSERT OR REPLACE INTO members VALUES(?,?,?)");
    int64_t next = 0;
    for (int64_t g = 0; g < groups; ++g) {
        int64_t id = first_group + g;
        group.reset().bind(id).bind("Seed group " + std::to_string(id)).bind(std::string("seeded")).bind(salt).run();
        member.reset().bind(id).bind(owner).bind(1).run();
        for (int k = 1; k < members && people; ++k, ++next)
            member.reset().bind(id).bind(first + next % people).bind(0).run();
    }
    return true;
}

int64_t Store::newest_message_time() {
    auto& s = stmt("SELECT IFNULL(MAX(time_us), 0) FROM messages");
    return s.row() ? s.i(0) : 0;
}

}  // namespace olvaro::server

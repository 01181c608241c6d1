// Message routing chunk by chunk, stored messages, history, and the
// automated contact's answers.
#include <algorithm>

#include "core.h"

namespace olvaro::server {

namespace {
constexpr size_t kChunk = 512;
constexpr size_t kMaxStored = 1000;
constexpr int32_t kMaxHistory = 200;
constexpr size_t kMaxOpenMessages = 16;      // unfinished messages one sender may have

// "%d.%d": seconds, then microseconds as a plain number (".5" is 5 us).
int64_t parse_time(const std::string& text, int64_t absent) {
    if (text.empty()) return absent;
    size_t dot = text.find('.');
    int64_t sec = std::clamp<int64_t>(parse_atoi(text.substr(0, dot)), 0, INT64_MAX / 2000000);
    int64_t usec = dot == std::string::npos ? 0 : std::clamp<int64_t>(parse_atoi(text.substr(dot + 1)), 0, 999999);
    return sec * 1000000 + usec;
}

int64_t id_of(const Packet& p, const char* name) { return int64_t(p.get_id(name) & 0x7fffffffffffffffull); }
}  // namespace

std::string message_key(const Packet& p) {
    const std::string& key = p.get("Mesg-Key");
    return key.size() <= 64 ? key : std::string();
}

void Core::on_mesg(Conn& c, const Packet& p) {
    uint64_t corr = p.get_id("Correlation-Id");
    if (config_.faults.lose_chunks) {
        auto it = inflight_.find({c.account, corr});
        if (corr && it != inflight_.end()) {
            store_.delete_message(it->second.row);
            inflight_.erase(it);
        }
        return respond(c, p, kResend);
    }
    bool last = p.has("Last");
    // What this sender has on its way, so unfinished messages cannot pile up.
    size_t open_count = 0, open_bytes = 0;
    for (auto it = inflight_.lower_bound({c.account, 0}); it != inflight_.end() && it->first.first == c.account; ++it) {
        ++open_count;
        open_bytes += it->second.bytes;
    }
    if (corr == 0) {
        uint64_t mesg_id = p.get_id("Mesg-Id");
        auto key = std::make_pair(c.account, mesg_id);
        if (auto old = inflight_.find(key); old != inflight_.end()) {
            // The sender started over under the same id.
            if (!old->second.copy) store_.delete_message(old->second.row);
            open_count -= 1;
            open_bytes -= old->second.bytes;
            inflight_.erase(old);
        }
        std::string name = message_key(p);
        if (!name.empty()) {
            // A restart of a message still on its way: the copy replaces it.
            for (auto it = inflight_.lower_bound({c.account, 0});
                 it != inflight_.end() && it->first.first == c.account; ++it) {
                if (it->second.key != name) continue;
                if (!it->second.copy) store_.delete_message(it->second.row);
                open_count -= 1;
                open_bytes -= it->second.bytes;
                inflight_.erase(it);
                break;
            }
            // Held whole already (the answers were lost with the link):
            // answered as the sender expects, kept and delivered once.
            if (store_.has_message_key(c.account, name)) {
                if (!last) {
                    if (open_count >= kMaxOpenMessages) return respond(c, p, kDenied);
                    Inflight copy;
                    copy.copy = true;
                    copy.key = std::move(name);
                    copy.sender_conn = c.id;
                    inflight_.emplace(key, std::move(copy));
                }
                return respond(c, p, kDelivered);
            }
        }
        Inflight m;
        m.key = std::move(name);
        m.target = id_of(p, "Target-Id");
        m.is_group = p.get_int("Mesg-Target") == 1;
        if (m.is_group) {
            auto role = store_.role(m.target, c.account);
            if (!role) return respond(c, p, store_.group(m.target) ? kDenied : kNoSuch);
            if (*role & (kBanned | kKicked | kSilenced)) return respond(c, p, kDenied);
        } else if (!store_.account(m.target)) {
            return respond(c, p, kNoSuch);
        }
        if (p.body.size() > config_.max_message) return respond(c, p, kDenied);
        if (!last && (open_count >= kMaxOpenMessages || open_bytes + p.body.size() > config_.max_message))
            return respond(c, p, kDenied);
        // What waits for offline people is kept on disk: each sender gets so much.
        if (!m.is_group && store_.waiting_bytes_from(c.account) + int64_t(p.body.size()) >
                               int64_t(config_.max_waiting_bytes_per_sender))
            return respond(c, p, kDenied);
        m.content_type = p.get("Content-Type");
        m.time_us = next_time_us();
        m.sender_conn = c.id;
        forward_chunk(m, c.account, p, true);
        m.row = store_.add_message(c.account, m.target, m.is_group, mesg_id, m.content_type, m.time_us, last,
                                   m.is_group);
        store_.add_chunk(m.row, m.chunks++, p.body);
        m.bytes = p.body.size();
        if (m.is_group)
            for (auto [account, role] : store_.members(m.target))
                if (account != c.account && !(role & (kBanned | kKicked)) &&
                    std::find(bots_.begin(), bots_.end(), account) == bots_.end())  // it never asks
                    store_.add_group_inbox(account, m.row, m.time_us);
        if (last)
            finish_message(c.account, m, true);
        else
            inflight_.emplace(key, std::move(m));
    } else {
        auto it = inflight_.find({c.account, corr});
        // Nothing to continue (lost to a restart, or never begun): ask for all of it again.
        if (it == inflight_.end()) return respond(c, p, kResend);
        Inflight& m = it->second;
        if (m.copy) {
            if (last) inflight_.erase(it);
            return respond(c, p, kDelivered);
        }
        if (m.bytes + p.body.size() > config_.max_message || open_bytes + p.body.size() > config_.max_message) {
            store_.delete_message(m.row);
            inflight_.erase(it);
            return respond(c, p, kDenied);
        }
        store_.add_chunk(m.row, m.chunks++, p.body);
        m.bytes += p.body.size();
        forward_chunk(m, c.account, p, false);
        if (last) {
            finish_message(c.account, m, false);
            inflight_.erase(it);
        }
    }
    respond(c, p, kDelivered);
}

void Core::forward_chunk(const Inflight& m, int64_t sender, const Packet& p, bool first) {
    Packet out("MESG");
    out.set_id("Mesg-Id", p.get_id("Mesg-Id"));
    out.set_id("Source-Id", uint64_t(sender));
    out.set("Content-Type", m.content_type);
    out.set("Timestamp", format_time(m.time_us));
    if (!first) out.set_id("Correlation-Id", p.get_id("Correlation-Id"));
    if (p.has("Total-Length")) out.set_id("Total-Length", p.get_id("Total-Length"));
    if (p.has("Last")) out.set_int("Last", 1);
    if (first)
        if (auto a = store_.account(sender)) out.set("Name", a->nickname);
    out.body = p.body;
    auto& live = const_cast<Inflight&>(m);
    if (m.is_group) {
        out.set_id("Target-Id", uint64_t(m.target));
        if (first) {
            for (auto [account, role] : store_.members(m.target)) {
                if (account == sender || (role & (kBanned | kKicked))) continue;
                if (Conn* c = online(account)) {
                    send(*c, out);
                    live.live_members.emplace_back(account, c->id);
                }
            }
            return;
        }
        // A member that missed the first chunk could not place the rest.
        for (auto [account, conn] : m.live_members) {
            auto it = conns_.find(conn);
            if (it != conns_.end() && !it->second->dead) send(*it->second, out);
        }
        return;
    }
    Conn* t = online(m.target);
    if (!t) return;
    if (first) {
        live.live_conn = t->id;
        send(*t, out);
    } else if (t->id == m.live_conn) {
        send(*t, out);
    }
}

void Core::finish_message(int64_t sender, Inflight& m, bool written) {
    // In the same transaction as the message, so a restart cannot keep one
    // without the other.
    if (!m.key.empty()) store_.add_message_key(sender, m.key, next_time_us());
    if (m.is_group) {
        if (!written) store_.complete_message(m.row, true);
        std::vector<uint64_t> got_all;
        for (auto [account, conn] : m.live_members) {
            auto it = conns_.find(conn);
            if (it == conns_.end() || it->second->dead || it->second->closing) continue;
            store_.mark_group_delivered(account, m.row);
            got_all.push_back(conn);
        }
        auto stored = store_.message(m.row);
        if (!stored) return;
        // Members who came online while it was on its way get it whole now;
        // the rest find it kept for them.
        for (int64_t account : store_.group_inbox_waiting(m.row)) {
            Conn* t = online(account);
            if (t && std::find(got_all.begin(), got_all.end(), t->id) == got_all.end())
                replay(*t, *stored, false, true);
        }
        return;
    }
    Conn* t = online(m.target);
    bool delivered = t && t->id == m.live_conn;
    if (!written || delivered) store_.complete_message(m.row, delivered);
    if (delivered) return;
    auto stored = store_.message(m.row);
    if (!stored) return;
    // The recipient came online while the message was on its way: send it whole.
    if (t) return replay(*t, *stored, false, true);
    if (std::find(bots_.begin(), bots_.end(), m.target) != bots_.end()) {
        store_.mark_delivered(m.row);
        bot_answer(m.target, sender, *stored);
    }
}

void Core::replay(Conn& c, const StoredMessage& m, bool history, bool mark) {
    Backlog b;
    b.message = m;
    b.history = history;
    b.mark = mark;
    c.backlog.push_back(std::move(b));
    pump(c);
}

void Core::respond_later(Conn& c, uint64_t mesg_id, int64_t code) {
    Backlog b;
    b.is_message = false;
    b.respond_id = mesg_id;
    b.code = code;
    c.backlog.push_back(std::move(b));
    pump(c);
}

void Core::pump(Conn& c) {
    const size_t budget = output_budget();
    while (!c.backlog.empty() && !c.dead && !c.closing && unsent(c) < budget) {
        Backlog& b = c.backlog.front();
        if (!b.is_message) {
            Packet request;
            request.set_id("Mesg-Id", b.respond_id);
            int64_t code = b.code;
            c.backlog.pop_front();
            respond(c, request, code);
            continue;
        }
        const StoredMessage& m = b.message;
        bool first = !b.started;
        if (first) {
            b.payload = store_.payload(m.id);
            b.started = true;
        }
        uint64_t id = m.mesg_id ? m.mesg_id : uint64_t(m.id);
        size_t len = std::min(kChunk, b.payload.size() - b.off);
        Packet q("MESG");
        q.set_id("Mesg-Id", id);
        q.set_id("Source-Id", uint64_t(m.sender));
        q.set("Content-Type", m.content_type);
        q.set("Timestamp", format_time(m.time_us));
        if (m.is_group) q.set_id("Target-Id", uint64_t(m.target));
        if (b.history) q.set_int("Hist", 1);
        if (first) {
            if (auto sender = store_.account(m.sender)) q.set("Name", sender->nickname);
            if (b.payload.size() > kChunk) q.set_id("Total-Length", b.payload.size());
        } else {
            q.set_id("Correlation-Id", id);
        }
        q.body = b.payload.substr(b.off, len);
        b.off += len;
        bool done = b.off == b.payload.size();
        if (done) q.set_int("Last", 1);
        send(c, q);
        if (c.dead) return;  // closing it emptied the backlog
        if (!done) continue;
        if (b.mark) {
            if (m.is_group)
                store_.mark_group_delivered(c.account, m.id);
            else if (m.target == c.account)
                store_.mark_delivered(m.id);
        }
        c.backlog.pop_front();
    }
}

void Core::on_mesg_stored(Conn& c, const Packet& p) {
    int32_t count = p.get_int("Count");
    size_t limit = count > 0 ? std::min<size_t>(size_t(count), kMaxStored) : kMaxStored;
    std::vector<StoredMessage> list;
    // Each kind only when asked for: the client asks for group messages only
    // after it lost a link, from the time its last one came.
    if (p.has("From-Private"))
        list = store_.stored_private(c.account, parse_time(p.get("From-Private"), INT64_MAX), c.signed_in_us, limit);
    if (p.has("From-Group")) {
        int64_t from = parse_time(p.get("From-Group"), INT64_MAX);
        // Whole seconds travel, and the client asks from one past its last:
        // a kept message of that same second still counts.
        int64_t kept_from = from - std::min<int64_t>(from, 1000000);
        auto more = store_.stored_group(c.account, from, kept_from, c.signed_in_us, limit);
        store_.drop_group_inbox_before(c.account, kept_from);
        list.insert(list.end(), more.begin(), more.end());
        std::sort(list.begin(), list.end(), [](auto& a, auto& b) { return a.time_us < b.time_us; });
        if (list.size() > limit) list.resize(limit);
    }
    for (const StoredMessage& m : list) replay(c, m, false, true);
    respond_later(c, p.get_id("Mesg-Id"), kDone);
}

void Core::on_mesg_hist(Conn& c, const Packet& p) {
    int32_t count = p.get_int("Count");
    if (count == 0) count = -20;
    count = std::clamp(count, -kMaxHistory, kMaxHistory);
    size_t want = size_t(count < 0 ? -count : count);
    bool group = p.has("From-Group");
    int64_t source = id_of(p, "Source-Id");
    int64_t from = parse_time(p.get(group ? "From-Group" : "From-Private"), count < 0 ? INT64_MAX : 0);
    if (group) {
        auto role = store_.role(source, c.account);
        if (!role) return respond(c, p, store_.group(source) ? kDenied : kNoSuch);
        if (*role & (kBanned | kKicked)) return respond(c, p, kDenied);
    } else if (!store_.account(source)) {
        return respond(c, p, kNoSuch);
    }
    respond(c, p, kOk);
    std::vector<StoredMessage> list;
    if (count < 0)
        list = group ? store_.history_group(source, from, want + 1) : store_.history_private(c.account, source, from, want + 1);
    else
        list = group ? store_.later_group(source, from, want + 1) : store_.later_private(c.account, source, from, want + 1);
    bool more = list.size() > want;
    if (more) list.resize(want);
    for (const StoredMessage& m : list) replay(c, m, true);
    respond_later(c, p.get_id("Mesg-Id"), more ? kDone : kNothingOlder);
}

void Core::abandon_inflight(const Conn& sender) {
    for (auto it = inflight_.lower_bound({sender.account, 0});
         it != inflight_.end() && it->first.first == sender.account;) {
        if (it->second.sender_conn == sender.id) {
            if (!it->second.copy) store_.delete_message(it->second.row);
            it = inflight_.erase(it);
        } else {
            ++it;
        }
    }
}

int64_t Core::post_message(int64_t sender, int64_t target, const std::string& content_type, const std::string& body) {
    int64_t row = store_.add_message(sender, target, false, 0, content_type, next_time_us());
    store_.add_chunk(row, 0, body);
    store_.complete_message(row, false);
    if (Conn* t = online(target))
        if (auto m = store_.message(row)) replay(*t, *m, false, true);
    return row;
}

void Core::bot_answer(int64_t bot, int64_t to, const StoredMessage& m) {
    std::string payload = store_.payload(m.id);
    if (m.content_type != "text/plain") {
        // Photos and voice come back as they went, so one person can see and
        // hear every kind.
        post_message(bot, to, m.content_type, payload);
        return;
    }
    if (payload.size() > 400) payload = payload.substr(0, 400) + "...";
    post_message(bot, to, "text/plain", "You said: " + payload);
}

}  // namespace olvaro::server

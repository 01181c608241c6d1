// Message routing chunk by chunk, stored messages, history, and the
// automated contact's answers.
#include <algorithm>

#include "core.h"

namespace olvaro::server {

namespace {
constexpr size_t kChunk = 512;
constexpr size_t kMaxStored = 1000;
constexpr int32_t kMaxHistory = 200;

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
    if (corr == 0) {
        Inflight m;
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
        uint64_t mesg_id = p.get_id("Mesg-Id");
        auto key = std::make_pair(c.account, mesg_id);
        if (auto old = inflight_.find(key); old != inflight_.end()) {
            store_.delete_message(old->second.row);  // the sender started over under the same id
            inflight_.erase(old);
        }
        m.content_type = p.get("Content-Type");
        m.time_us = next_time_us();
        m.sender_conn = c.id;
        forward_chunk(m, c.account, p, true);
        // A message in one chunk is written once, already complete.
        bool delivered = last && (m.is_group || m.live_conn != 0);
        m.row = store_.add_message(c.account, m.target, m.is_group, mesg_id, m.content_type, m.time_us, last,
                                   delivered);
        store_.add_chunk(m.row, m.chunks++, p.body);
        m.bytes = p.body.size();
        if (last)
            finish_message(c.account, m, true);
        else
            inflight_.emplace(key, std::move(m));
    } else {
        auto it = inflight_.find({c.account, corr});
        // Nothing to continue (lost to a restart, or never begun): ask for all of it again.
        if (it == inflight_.end()) return respond(c, p, kResend);
        Inflight& m = it->second;
        if (m.bytes + p.body.size() > config_.max_message) {
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
    if (m.is_group) {
        out.set_id("Target-Id", uint64_t(m.target));
        return to_members(m.target, out, sender);
    }
    Conn* t = online(m.target);
    if (!t) return;
    if (first) {
        const_cast<Inflight&>(m).live_conn = t->id;
        send(*t, out);
    } else if (t->id == m.live_conn) {
        send(*t, out);
    }
}

void Core::finish_message(int64_t sender, Inflight& m, bool written) {
    Conn* t = m.is_group ? nullptr : online(m.target);
    bool delivered = m.is_group || (t && t->id == m.live_conn);
    if (!written) store_.complete_message(m.row, delivered);
    if (delivered) return;
    auto stored = store_.message(m.row);
    if (!stored) return;
    // The recipient came online while the message was on its way: send it whole.
    if (t) {
        replay(*t, *stored, false);
        store_.mark_delivered(m.row);
        return;
    }
    if (std::find(bots_.begin(), bots_.end(), m.target) != bots_.end()) {
        store_.mark_delivered(m.row);
        bot_answer(m.target, sender, *stored);
    }
}

void Core::replay(Conn& c, const StoredMessage& m, bool history) {
    std::string payload = store_.payload(m.id);
    auto sender = store_.account(m.sender);
    uint64_t id = m.mesg_id ? m.mesg_id : uint64_t(m.id);
    size_t off = 0;
    do {
        size_t len = std::min(kChunk, payload.size() - off);
        Packet q("MESG");
        q.set_id("Mesg-Id", id);
        q.set_id("Source-Id", uint64_t(m.sender));
        q.set("Content-Type", m.content_type);
        q.set("Timestamp", format_time(m.time_us));
        if (m.is_group) q.set_id("Target-Id", uint64_t(m.target));
        if (history) q.set_int("Hist", 1);
        if (off == 0) {
            if (sender) q.set("Name", sender->nickname);
            if (payload.size() > kChunk) q.set_id("Total-Length", payload.size());
        } else {
            q.set_id("Correlation-Id", id);
        }
        q.body = payload.substr(off, len);
        off += len;
        if (off == payload.size()) q.set_int("Last", 1);
        send(c, q);
    } while (off < payload.size());
}

void Core::on_mesg_stored(Conn& c, const Packet& p) {
    int32_t count = p.get_int("Count");
    size_t limit = count > 0 ? std::min<size_t>(size_t(count), kMaxStored) : kMaxStored;
    int64_t from = parse_time(p.get("From-Private"), INT64_MAX);
    auto list = store_.stored_private(c.account, from, c.signed_in_us, limit);
    if (p.has("From-Group")) {
        auto more = store_.stored_group(c.account, parse_time(p.get("From-Group"), INT64_MAX), c.signed_in_us, limit);
        list.insert(list.end(), more.begin(), more.end());
        std::sort(list.begin(), list.end(), [](auto& a, auto& b) { return a.time_us < b.time_us; });
        if (list.size() > limit) list.resize(limit);
    }
    for (const StoredMessage& m : list) {
        replay(c, m, false);
        if (!m.is_group) store_.mark_delivered(m.id);
    }
    respond(c, p, kDone);
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
    respond(c, p, more ? kDone : kNothingOlder);
}

void Core::abandon_inflight(const Conn& sender) {
    for (auto it = inflight_.lower_bound({sender.account, 0});
         it != inflight_.end() && it->first.first == sender.account;) {
        if (it->second.sender_conn == sender.id) {
            store_.delete_message(it->second.row);
            it = inflight_.erase(it);
        } else {
            ++it;
        }
    }
}

int64_t Core::post_message(int64_t sender, int64_t target, const std::string& content_type, const std::string& body) {
    int64_t row = store_.add_message(sender, target, false, 0, content_type, next_time_us());
    store_.add_chunk(row, 0, body);
    Conn* t = online(target);
    store_.complete_message(row, t != nullptr);
    if (t)
        if (auto m = store_.message(row)) replay(*t, *m, false);
    return row;
}

void Core::bot_answer(int64_t bot, int64_t to, const StoredMessage& m) {
    std::string reply;
    if (m.content_type == "text/plain") {
        std::string text = store_.payload(m.id);
        if (text.size() > 400) text = text.substr(0, 400) + "...";
        reply = "You said: " + text;
    } else {
        reply = "Thanks! I got your " + (m.content_type.empty() ? std::string("message") : m.content_type) + " (" +
                std::to_string(store_.payload(m.id).size()) + " bytes).";
    }
    post_message(bot, to, "text/plain", reply);
}

}  // namespace olvaro::server

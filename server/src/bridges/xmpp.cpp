// A bridged XMPP account: a libstrophe client session on its own thread.
// libstrophe runs its own event loop, so the session thread turns it and runs
// the user's requests queued from the server's loop; everything it learns
// goes back to the server's loop through `post`. Nothing here logs: the
// library's log lines may carry the password.
#include <pthread.h>
#include <signal.h>
#include <strophe.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <chrono>
#include <cstring>
#include <deque>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bridge_network.h"
#include "xml_text.h"

namespace olvaro::server {
namespace {

constexpr const char* kRosterNs = "jabber:iq:roster";
constexpr const char* kMucNs = "http://jabber.org/protocol/muc";
constexpr const char* kMucUserNs = "http://jabber.org/protocol/muc#user";
constexpr const char* kPingNs = "urn:xmpp:ping";
constexpr const char* kDiscoInfoNs = "http://jabber.org/protocol/disco#info";
constexpr const char* kVersionNs = "jabber:iq:version";
constexpr const char* kReceiptsNs = "urn:xmpp:receipts";
constexpr const char* kNickNs = "http://jabber.org/protocol/nick";
constexpr const char* kPubsubNs = "http://jabber.org/protocol/pubsub";
constexpr const char* kPubsubEventNs = "http://jabber.org/protocol/pubsub#event";
constexpr const char* kCapsNs = "http://jabber.org/protocol/caps";
constexpr const char* kInvisibleNs = "urn:xmpp:invisible:0";
constexpr const char* kPrivacyNs = "jabber:iq:privacy";
constexpr const char* kHideList = "olvaro-invisible";
constexpr size_t kMaxRooms = 64;
// Bytes of text in one message stanza; escaping may grow it fourfold.
constexpr size_t kMaxPart = 16 * 1024;
// Pauses before trying a lost link again: doubling from the first to the last.
constexpr int64_t kFirstRetryMs = 2000, kMaxRetryMs = 300000;

using Clock = std::chrono::steady_clock;

// What a feature query about us is told, and our presence announces by its
// hash; "+notify" has contacts' servers send us their nickname changes.
constexpr const char* kFeatures[] = {kDiscoInfoNs, kPingNs, kVersionNs, kReceiptsNs,
                                     "http://jabber.org/protocol/nick+notify"};

std::once_flag g_init;

class XmppNetwork;
// The session whose thread this is: the library's certificate callback
// carries no user data, and each session turns its library on its own thread.
thread_local XmppNetwork* t_session = nullptr;

// A string the library allocated, freed with its context.
struct LibText {
    xmpp_ctx_t* ctx;
    char* p;
    LibText(xmpp_ctx_t* c, char* text) : ctx(c), p(text) {}
    ~LibText() {
        if (p) xmpp_free(ctx, p);
    }
    std::string str() const { return p ? std::string(p) : std::string(); }
};

std::string attr(xmpp_stanza_t* s, const char* name) {
    const char* v = s ? xmpp_stanza_get_attribute(s, name) : nullptr;
    return v ? v : "";
}

// An XMPP time ("2002-09-10T23:41:07.123Z", or with "+02:00") in
// microseconds since 1970; 0 when it is not one.
int64_t delay_stamp(const std::string& stamp) {
    tm t{};
    const char* rest = strptime(stamp.c_str(), "%Y-%m-%dT%H:%M:%S", &t);
    if (!rest) return 0;
    int64_t us = 0;
    if (*rest == '.') {
        int64_t scale = 100000;
        for (++rest; *rest >= '0' && *rest <= '9'; ++rest, scale /= 10) us += (*rest - '0') * scale;
    }
    int64_t offset = 0;
    if (*rest == '+' || *rest == '-') {
        int hours = 0, minutes = 0;
        if (sscanf(rest + 1, "%2d:%2d", &hours, &minutes) != 2) return 0;
        offset = (*rest == '+' ? 1 : -1) * (hours * 3600 + minutes * 60);
    } else if (*rest != 'Z') {
        return 0;
    }
    time_t secs = timegm(&t);
    if (secs <= 0) return 0;
    return (int64_t(secs) - offset) * 1000000 + us;
}

std::string bare(const std::string& jid) { return jid.substr(0, jid.find('/')); }

std::string child_text(xmpp_ctx_t* ctx, xmpp_stanza_t* s, const char* name) {
    xmpp_stanza_t* c = s ? xmpp_stanza_get_child_by_name(s, name) : nullptr;
    return c ? LibText(ctx, xmpp_stanza_get_text(c)).str() : std::string();
}

int32_t presence_of(xmpp_ctx_t* ctx, xmpp_stanza_t* presence) {
    std::string show = child_text(ctx, presence, "show");
    if (show == "away" || show == "xa") return 2;
    if (show == "dnd") return 5;
    return 1;
}

// A text on its way: its parts as (stanza id, body), and the stanza count
// its last part brought the session to.
struct Text {
    std::string to;
    bool chat = false;
    std::vector<std::pair<std::string, std::string>> parts;
    uint64_t token = 0;
    uint64_t upto = 0;
};

class XmppNetwork final : public Network {
public:
    XmppNetwork(std::string jid, std::string password, std::string host, unsigned short port,
                const XmppOptions& options, NetworkSink& sink, Post post)
        : jid_(std::move(jid)), host_(std::move(host)), ca_file_(options.ca_file), port_(port),
          allow_plain_(options.allow_plain), ping_ms_(options.ping_ms > 0 ? options.ping_ms : 20000),
          give_up_ms_(options.give_up_ms > 0 ? options.give_up_ms : 3600000),
          password_(std::move(password)), sink_(&sink), post_(std::move(post)), random_(std::random_device{}()) {
        domain_ = bare(jid_).substr(bare(jid_).find('@') + 1);
        nick_ = bare(jid_).substr(0, bare(jid_).find('@'));
        thread_ = std::thread([this] { run(); });
    }
    ~XmppNetwork() override {
        stop_ = true;
        thread_.join();
    }

    void set_presence(int32_t status) override {
        wanted_ = status;  // also what a link made from now on starts with
        queue([this, status] {
            status_ = status;
            send_presence();
        });
    }
    void send_text(const std::string& to, bool chat, const std::string& text, uint64_t token) override {
        // Servers limit a stanza's size: a long text goes in parts.
        std::vector<std::string> parts = text_parts(xml_safe_text(text), kMaxPart);
        bool queued = queue([this, to, chat, parts = std::move(parts), token] {
            Text text{to, chat, {}, token, 0};
            for (const std::string& part : parts) text.parts.emplace_back("olv" + std::to_string(++message_ids_), part);
            unacked_.push_back(std::move(text));
            put(unacked_.back());
        });
        NetworkSink* s = sink_;
        if (!queued) post_([s, token] { s->net_sent(token, false); });
    }
    void add_contact(const std::string& address, const std::string& message) override {
        queue([this, address, message] {
            xmpp_stanza_t* iq = xmpp_iq_new(ctx_, "set", "roster-add");
            xmpp_stanza_t* query = element("query", kRosterNs);
            xmpp_stanza_t* item = element("item", nullptr);
            xmpp_stanza_set_attribute(item, "jid", address.c_str());
            xmpp_stanza_add_child_ex(query, item, 0);
            xmpp_stanza_add_child_ex(iq, query, 0);
            send(iq);
            xmpp_stanza_release(iq);
            presence_to(address, "subscribe", message);
        });
    }
    void answer_request(const std::string& address, bool accepted) override {
        queue([this, address, accepted] {
            presence_to(address, accepted ? "subscribed" : "unsubscribed", std::string());
        });
    }

private:
    bool queue(std::function<void()> fn) {
        std::lock_guard lock(mu_);
        if (tasks_.size() >= 4096) return false;
        tasks_.push_back(std::move(fn));
        return true;
    }

    // Everything below runs on the session's thread.

    // Every stanza goes out here, so that the count matches the server's
    // count of stanzas it has handled (stream management's "h").
    void send(xmpp_stanza_t* st) {
        xmpp_send(conn_, st);
        ++sent_;
    }
    // A text's parts, under the ids they keep when sent again. It is
    // delivered once the server has every stanza up to its last part: with
    // stream management when the server acknowledges that many, without it
    // when a ping sent after it is answered (a stream is handled in order).
    void put(Text& text) {
        for (auto& [id, part] : text.parts) {
            xmpp_stanza_t* m =
                xmpp_message_new(ctx_, text.chat ? "groupchat" : "chat", text.to.c_str(), id.c_str());
            xmpp_message_set_body(m, part.c_str());
            if (!text.chat) ask_receipt(m, id, text.to, text.token);
            send(m);
            xmpp_stanza_release(m);
        }
        text.upto = sent_;
        if (sm_) return;
        std::string id = "ack-" + std::to_string(sent_);
        xmpp_stanza_t* iq = xmpp_iq_new(ctx_, "get", id.c_str());
        xmpp_stanza_set_to(iq, domain_.c_str());
        xmpp_stanza_add_child_ex(iq, element("ping", kPingNs), 0);
        uint64_t upto = sent_;
        send(iq);
        xmpp_stanza_release(iq);
        barriers_[id] = upto;
        xmpp_id_handler_add(conn_, &XmppNetwork::on_barrier, id.c_str(), this);
    }
    void acked(uint64_t handled) {
        NetworkSink* s = sink_;
        while (!unacked_.empty() && unacked_.front().upto <= handled) {
            uint64_t token = unacked_.front().token;
            unacked_.pop_front();
            post_([s, token] { s->net_sent(token, true); });
        }
    }
    // An error came back for a part, from where it was sent: the text is
    // not delivered, though the server took it (the client may send it
    // again).
    void bounced(const std::string& id, const std::string& from) {
        for (auto it = unacked_.begin(); it != unacked_.end(); ++it) {
            if (bare(from) != bare(it->to)) continue;
            for (auto& part : it->parts) {
                if (part.first != id) continue;
                NetworkSink* s = sink_;
                uint64_t token = it->token;
                unacked_.erase(it);
                post_([s, token] { s->net_sent(token, false); });
                return;
            }
        }
    }
    static int on_barrier(xmpp_conn_t*, xmpp_stanza_t* st, void* user) {
        auto* self = static_cast<XmppNetwork*>(user);
        auto it = self->barriers_.find(attr(st, "id"));
        if (it == self->barriers_.end()) return 0;
        uint64_t upto = it->second;
        self->barriers_.erase(it);
        if (attr(st, "type") == "result") self->acked(upto);
        return 0;
    }
    // Stream management: enabled, or an acknowledgement of `h` stanzas.
    static int on_sm(xmpp_conn_t*, xmpp_stanza_t* st, void* user) {
        auto* self = static_cast<XmppNetwork*>(user);
        const char* name = xmpp_stanza_get_name(st);
        if (!name) return 1;
        if (!strcmp(name, "enabled")) self->sm_ = true;
        if (!strcmp(name, "failed")) self->sm_ = false;
        // Counts are trusted only on a session known to be numbered as
        // ours is (enabled on it, or resumed); else pings tell.
        if (!strcmp(name, "a") && self->sm_) self->acked(strtoull(attr(st, "h").c_str(), nullptr, 10));
        return 1;
    }
    void run() {
        // The library writes to sockets the server may have closed: such a
        // write must fail, not end the process.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        std::call_once(g_init, [] { xmpp_initialize(); });
        t_session = this;
        xmpp_log_t log{&XmppNetwork::on_log, this};
        ctx_ = xmpp_ctx_new(nullptr, &log);
        connect();
        while (!stop_ && !ended_) {
            if (retry_at_ && Clock::now() >= *retry_at_) {
                retry_at_.reset();
                connect();
            }
            xmpp_run_once(ctx_, 50);
            if (!connected_ && !link_dead_ && sign_in_by_ && Clock::now() > *sign_in_by_) {
                // A server that takes the connection but never signs us in.
                link_dead_ = true;
                link_down("Could not connect to the XMPP server " + domain_ + ".", true);
            }
            if (!connected_) continue;  // requests wait for the link
            std::deque<std::function<void()>> tasks;
            {
                std::lock_guard lock(mu_);
                tasks.swap(tasks_);
            }
            for (auto& t : tasks) t();
        }
        if (connected_ && !ended_) {
            // Switched off: leave politely, for a moment at most.
            quitting_ = true;
            xmpp_disconnect(conn_);
            for (int i = 0; i < 20 && !ended_; ++i) xmpp_run_once(ctx_, 50);
        }
        drop_conn();
        xmpp_ctx_free(ctx_);
        std::fill(password_.begin(), password_.end(), '\0');
    }

    void drop_conn() {
        if (!conn_) return;
        xmpp_conn_t* old = conn_;
        conn_ = nullptr;  // its last events are not ours any more
        xmpp_conn_release(old);
    }
    // The stream management state of the link that ended, for resuming
    // its session. A link given up by the keep-alive is still open: its
    // socket is cut (no closing of the stream, which would end the session
    // on the server) and the library left to notice.
    xmpp_sm_state_t* take_sm_state() {
        if (!conn_) return nullptr;
        if (!xmpp_conn_is_disconnected(conn_) && socket_ >= 0) {
            shutdown(socket_, SHUT_RDWR);
            for (int i = 0; i < 40 && !xmpp_conn_is_disconnected(conn_); ++i) xmpp_run_once(ctx_, 50);
        }
        socket_ = -1;
        return xmpp_conn_is_disconnected(conn_) ? xmpp_conn_get_sm_state(conn_) : nullptr;
    }
    static int on_socket(xmpp_conn_t*, void* socket) {
        if (t_session) t_session->socket_ = *static_cast<int*>(socket);
        return 0;
    }
    void connect() {
        xmpp_sm_state_t* carried = take_sm_state();
        drop_conn();
        conn_ = xmpp_conn_new(ctx_);
        resuming_ = resumed_ = false;
        if (carried) {
            resuming_ = xmpp_conn_set_sm_state(conn_, carried) == XMPP_EOK;
            if (!resuming_) xmpp_free_sm_state(carried);
        }
        xmpp_conn_set_sockopt_callback(conn_, &XmppNetwork::on_socket);
        // TLS whenever the server offers it, its certificate checked (the
        // system's CAs and ours); a failed check ends the attempt, never
        // continuing in the clear.
        xmpp_conn_set_flags(conn_, allow_plain_ ? 0 : XMPP_CONN_FLAG_MANDATORY_TLS);
        if (!ca_file_.empty()) xmpp_conn_set_cafile(conn_, ca_file_.c_str());
        xmpp_conn_set_certfail_handler(conn_, &XmppNetwork::on_certfail);
        std::string full = jid_.find('/') == std::string::npos ? jid_ + "/Olvaro" : jid_;
        xmpp_conn_set_jid(conn_, full.c_str());
        xmpp_conn_set_pass(conn_, password_.c_str());
        xmpp_handler_add(conn_, &XmppNetwork::on_message, nullptr, "message", nullptr, this);
        xmpp_handler_add(conn_, &XmppNetwork::on_presence, nullptr, "presence", nullptr, this);
        xmpp_handler_add(conn_, &XmppNetwork::on_iq, nullptr, "iq", nullptr, this);
        xmpp_handler_add(conn_, &XmppNetwork::on_sm, XMPP_NS_SM, nullptr, nullptr, this);
        xmpp_timed_handler_add(conn_, &XmppNetwork::on_tick, static_cast<unsigned long>(ping_ms_), this);
        auth_refused_ = link_dead_ = ping_waiting_ = false;
        cert_problem_.reset();
        sign_in_by_ = Clock::now() + std::chrono::milliseconds(3 * int64_t(ping_ms_));
        if (xmpp_connect_client(conn_, host_.empty() ? nullptr : host_.c_str(), port_, &XmppNetwork::on_conn, this) !=
            XMPP_EOK)
            link_down("Could not connect to the XMPP server " + domain_ + ".", true);
    }

    // The link ended. A first sign-in that fails, refused credentials and
    // a session taken elsewhere end the bridge; a link that worked is tried
    // again after a growing, jittered pause until `give_up_ms` without one.
    void link_down(const std::string& reason, bool may_retry) {
        bool was = connected_;
        connected_ = false;
        ping_waiting_ = false;
        barriers_.clear();
        // Texts the server has not acknowledged wait for the next link:
        // resumed, it says which it had; else they go again. Rooms and
        // presence are kept until the next link shows whether the session
        // was resumed (all kept) or is new (rooms joined again).
        if (!may_retry || !ever_connected_ || stop_) return finish(reason);
        auto now = Clock::now();
        if (was || !lost_since_) lost_since_ = now;
        if (now - *lost_since_ >= std::chrono::milliseconds(give_up_ms_))
            return finish("The link to the XMPP server " + domain_ + " was lost and could not be made again.");
        if (was) retries_ = 0;
        int64_t delay = std::min<int64_t>(kMaxRetryMs, kFirstRetryMs << std::min(retries_++, 10));
        std::uniform_int_distribution<int64_t> jitter(delay * 3 / 4, delay * 5 / 4);
        retry_at_ = now + std::chrono::milliseconds(jitter(random_));
    }

    // The session is over; the user hears why unless we ended it.
    void finish(const std::string& reason) {
        if (ended_) return;
        ended_ = true;
        connected_ = false;
        if (quitting_ || stop_) return;
        NetworkSink* s = sink_;
        post_([s, reason] { s->net_offline(reason); });
    }

    xmpp_stanza_t* element(const char* name, const char* ns) {
        xmpp_stanza_t* e = xmpp_stanza_new(ctx_);
        xmpp_stanza_set_name(e, name);
        if (ns) xmpp_stanza_set_ns(e, ns);
        return e;
    }
    void add_text_child(xmpp_stanza_t* parent, const char* name, const std::string& text) {
        xmpp_stanza_t* e = element(name, nullptr);
        xmpp_stanza_t* t = xmpp_stanza_new(ctx_);
        xmpp_stanza_set_text(t, text.c_str());
        xmpp_stanza_add_child_ex(e, t, 0);
        xmpp_stanza_add_child_ex(parent, e, 0);
    }
    void presence_to(const std::string& to, const char* type, const std::string& status) {
        xmpp_stanza_t* p = xmpp_presence_new(ctx_);
        xmpp_stanza_set_to(p, to.c_str());
        if (type) xmpp_stanza_set_type(p, type);
        if (!status.empty()) add_text_child(p, "status", status);
        send(p);
        xmpp_stanza_release(p);
    }
    // A receipt asked for with each private text; the recent ones are kept
    // to know whose receipt is whose.
    void ask_receipt(xmpp_stanza_t* m, const std::string& id, const std::string& to, uint64_t token) {
        xmpp_stanza_add_child_ex(m, element("request", kReceiptsNs), 0);
        receipts_[id] = {bare(to), token};
        receipt_order_.push_back(id);
        if (receipt_order_.size() > 1024) {
            receipts_.erase(receipt_order_.front());
            receipt_order_.pop_front();
        }
    }
    // A receipt, only from the one the text went to; true when `st` is one.
    bool take_receipt(xmpp_stanza_t* st) {
        xmpp_stanza_t* received = xmpp_stanza_get_child_by_name_and_ns(st, "received", kReceiptsNs);
        if (!received) return false;
        auto it = receipts_.find(attr(received, "id"));
        if (it == receipts_.end() || it->second.first != bare(attr(st, "from"))) return true;
        uint64_t token = it->second.second;
        receipts_.erase(it);
        NetworkSink* s = sink_;
        post_([s, token] { s->net_receipt(token); });
        return true;
    }

    // Our features, hashed as an available presence carries them.
    void add_caps(xmpp_stanza_t* presence) {
        if (caps_ver_.empty()) {
            std::vector<std::string> features(std::begin(kFeatures), std::end(kFeatures));
            std::sort(features.begin(), features.end());
            std::string text = "client/pc//Olvaro<";
            for (const std::string& f : features) text += f + "<";
            unsigned char digest[XMPP_SHA1_DIGEST_SIZE];
            xmpp_sha1_digest(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
            caps_ver_ = LibText(ctx_, xmpp_base64_encode(ctx_, digest, sizeof digest)).str();
        }
        xmpp_stanza_t* c = element("c", kCapsNs);
        xmpp_stanza_set_attribute(c, "hash", "sha-1");
        xmpp_stanza_set_attribute(c, "node", "urn:olvaro:client");
        xmpp_stanza_set_attribute(c, "ver", caps_ver_.c_str());
        xmpp_stanza_add_child_ex(presence, c, 0);
    }

    // Our presence for status_. Invisible keeps the session available, so
    // that the server hands it chats at once instead of holding them, while
    // no contact sees it: by the server's invisible command where offered,
    // else by an active privacy list that withholds our presence from all
    // who are subscribed to it (rooms still get theirs). A server with
    // neither gets unavailable presence: staying hidden comes first.
    void send_presence() {
        if (hidden_ == Hidden::asking) return;  // on_hidden goes on
        if (status_ == 3) return hide();
        if (hidden_ != Hidden::no) unhide();
        xmpp_stanza_t* p = xmpp_presence_new(ctx_);
        if (status_ == 2) add_text_child(p, "show", "away");
        if (status_ == 5) add_text_child(p, "show", "dnd");
        add_caps(p);
        send(p);
        xmpp_stanza_release(p);
        seen_online_ = true;
        ready();
    }
    // The bridge is on once our first presence is out: from then on the
    // server hands chats to this session (one sent earlier would be held
    // or refused as to someone offline).
    void ready() {
        if (ready_) return;
        ready_ = true;
        NetworkSink* s = sink_;
        post_([s] { s->net_online(); });
    }
    void hide() {
        if (!features_known_ || hidden_ != Hidden::no) return;
        if (can_invisible_ || can_privacy_) {
            xmpp_stanza_t* iq = xmpp_iq_new(ctx_, "set", "hide");
            if (can_invisible_) {
                hide_way_ = Hidden::command;
                xmpp_stanza_t* inv = element("invisible", kInvisibleNs);
                xmpp_stanza_set_attribute(inv, "probe", "false");
                xmpp_stanza_add_child_ex(iq, inv, 0);
            } else {
                hide_way_ = Hidden::list;
                // Who saw us online sees us leave, while the session stays
                // available: a broadcast "unavailable" would end that.
                if (seen_online_)
                    for (const std::string& who : subscribers_) presence_to(who, "unavailable", std::string());
                xmpp_stanza_t* set = xmpp_iq_new(ctx_, "set", "hide-list");
                xmpp_stanza_t* query = element("query", kPrivacyNs);
                xmpp_stanza_t* list = element("list", nullptr);
                xmpp_stanza_set_attribute(list, "name", kHideList);
                int order = 1;
                for (const char* sub : {"both", "from"}) {
                    xmpp_stanza_t* item = element("item", nullptr);
                    xmpp_stanza_set_attribute(item, "type", "subscription");
                    xmpp_stanza_set_attribute(item, "value", sub);
                    xmpp_stanza_set_attribute(item, "action", "deny");
                    xmpp_stanza_set_attribute(item, "order", std::to_string(order++).c_str());
                    xmpp_stanza_add_child_ex(item, element("presence-out", nullptr), 0);
                    xmpp_stanza_add_child_ex(list, item, 0);
                }
                xmpp_stanza_add_child_ex(query, list, 0);
                xmpp_stanza_add_child_ex(set, query, 0);
                send(set);
                xmpp_stanza_release(set);
                query = element("query", kPrivacyNs);
                xmpp_stanza_t* active = element("active", nullptr);
                xmpp_stanza_set_attribute(active, "name", kHideList);
                xmpp_stanza_add_child_ex(query, active, 0);
                xmpp_stanza_add_child_ex(iq, query, 0);
            }
            hidden_ = Hidden::asking;
            xmpp_id_handler_add(conn_, &XmppNetwork::on_hidden, "hide", this);
            send(iq);
            xmpp_stanza_release(iq);
            return;
        }
        xmpp_stanza_t* p = xmpp_presence_new(ctx_);
        xmpp_stanza_set_type(p, "unavailable");
        send(p);
        xmpp_stanza_release(p);
        seen_online_ = false;
        ready();
    }
    void unhide() {
        xmpp_stanza_t* iq = xmpp_iq_new(ctx_, "set", "unhide");
        if (hidden_ == Hidden::command) {
            xmpp_stanza_add_child_ex(iq, element("visible", kInvisibleNs), 0);
        } else {
            xmpp_stanza_t* query = element("query", kPrivacyNs);
            xmpp_stanza_add_child_ex(query, element("active", nullptr), 0);  // no list in force
            xmpp_stanza_add_child_ex(iq, query, 0);
        }
        send(iq);
        xmpp_stanza_release(iq);
        hidden_ = Hidden::no;
    }
    // The server hides us (then we are available, to no one), or refused:
    // the next way, or unavailable.
    static int on_hidden(xmpp_conn_t*, xmpp_stanza_t* st, void* user) {
        auto* self = static_cast<XmppNetwork*>(user);
        bool ok = attr(st, "type") == "result";
        self->hidden_ = ok ? self->hide_way_ : Hidden::no;
        if (!ok) (self->hide_way_ == Hidden::command ? self->can_invisible_ : self->can_privacy_) = false;
        if (ok && self->status_ == 3) {
            xmpp_stanza_t* p = xmpp_presence_new(self->ctx_);
            self->add_caps(p);
            self->send(p);
            xmpp_stanza_release(p);
            self->ready();
        } else {
            self->send_presence();
        }
        return 0;
    }
    // What the server offers decides how we become invisible; our first
    // presence waits for it when that is what the user asked for.
    void begin_presence() {
        status_ = wanted_;
        hidden_ = Hidden::no;
        features_known_ = can_invisible_ = can_privacy_ = seen_online_ = ready_ = false;
        xmpp_stanza_t* iq = xmpp_iq_new(ctx_, "get", "server-features");
        xmpp_stanza_set_to(iq, domain_.c_str());
        xmpp_stanza_add_child_ex(iq, element("query", kDiscoInfoNs), 0);
        xmpp_id_handler_add(conn_, &XmppNetwork::on_features, "server-features", this);
        send(iq);
        xmpp_stanza_release(iq);
        send_presence();
    }
    static int on_features(xmpp_conn_t*, xmpp_stanza_t* st, void* user) {
        auto* self = static_cast<XmppNetwork*>(user);
        xmpp_stanza_t* query = xmpp_stanza_get_child_by_name_and_ns(st, "query", kDiscoInfoNs);
        for (xmpp_stanza_t* c = query ? xmpp_stanza_get_children(query) : nullptr; c; c = xmpp_stanza_get_next(c)) {
            std::string var = attr(c, "var");
            if (var == kInvisibleNs) self->can_invisible_ = true;
            if (var == kPrivacyNs) self->can_privacy_ = true;
        }
        self->features_known_ = true;
        if (self->status_ == 3) self->send_presence();
        return 0;
    }
    void join(const std::string& room, const std::string& nick) {
        if (room.empty() || rooms_.count(room) || rooms_.size() >= kMaxRooms) return;
        if (!joined_.count(room) && joined_.size() >= kMaxRooms) return;
        joined_[room] = nick;
        rooms_[room];
        // Our own occupant is known by the nickname we joined with.
        std::string own = nick.empty() ? nick_ : nick;
        own_nick_[room] = own;
        xmpp_stanza_t* p = xmpp_presence_new(ctx_);
        std::string to = room + "/" + own;
        xmpp_stanza_set_to(p, to.c_str());
        xmpp_stanza_t* x = element("x", kMucNs);
        xmpp_stanza_t* history = element("history", nullptr);
        xmpp_stanza_set_attribute(history, "maxstanzas", "0");
        xmpp_stanza_add_child_ex(x, history, 0);
        xmpp_stanza_add_child_ex(p, x, 0);
        send(p);
        xmpp_stanza_release(p);
    }

    // The link went: its rooms are joined again on the next one, and their
    // members are kept until it shows who is still there.
    void rooms_lost() {
        for (auto& [room, members] : rooms_)
            if (joined_.count(room)) stale_[room].insert(members.begin(), members.end());
        rooms_.clear();
        own_nick_.clear();
    }
    void rejoin_rooms() {
        auto rooms = joined_;
        for (auto& [room, nick] : rooms) join(room, nick);
    }
    // Our own presence ends a join, after everyone present: who was there
    // before the link went and is no more has left.
    void room_joined(const std::string& room) {
        auto was = stale_.find(room);
        if (was == stale_.end()) return;
        const auto& now = rooms_[room];
        for (auto& [nick, address] : was->second)
            if (!now.count(nick)) post_member(this, room, address, false);
        stale_.erase(was);
    }
    void forget_room(const std::string& room) {
        for (auto* table : {&rooms_, &stale_}) {
            auto it = table->find(room);
            if (it == table->end()) continue;
            for (auto& [nick, address] : it->second) post_member(this, room, address, false);
            table->erase(it);
        }
        own_nick_.erase(room);
        joined_.erase(room);
    }

    void on_connected() {
        connected_ = true;
        ever_connected_ = true;
        sign_in_by_.reset();
        lost_since_.reset();
        if (resumed_) {
            // The server kept the old session (presence, rooms, roster) and
            // counts on from it; the library sends again what it did not
            // acknowledge. Only a status changed meanwhile goes out.
            sm_ = true;
            send_presence();
            return;
        }
        // A new session: its count starts now, its rooms are joined again,
        // and the texts the old one left unacknowledged go again after the
        // sign-in stanzas.
        sm_ = false;
        sent_ = 0;
        presence_.clear();
        rooms_lost();
        // The roster first: contacts' presence, which our own brings, is
        // kept only for roster entries.
        xmpp_stanza_t* iq = xmpp_iq_new(ctx_, "get", "roster");
        xmpp_stanza_t* query = element("query", kRosterNs);
        xmpp_stanza_add_child_ex(iq, query, 0);
        send(iq);
        xmpp_stanza_release(iq);
        begin_presence();
        rejoin_rooms();
        // Bookmarked rooms (private storage), joined when marked autojoin.
        iq = xmpp_iq_new(ctx_, "get", "bookmarks");
        query = element("query", "jabber:iq:private");
        xmpp_stanza_t* storage = element("storage", "storage:bookmarks");
        xmpp_stanza_add_child_ex(query, storage, 0);
        xmpp_stanza_add_child_ex(iq, query, 0);
        send(iq);
        xmpp_stanza_release(iq);
        for (Text& text : unacked_) put(text);
    }

    void roster_item(xmpp_stanza_t* item) {
        std::string jid = bare(attr(item, "jid"));
        if (jid.empty()) return;
        std::string sub = attr(item, "subscription");
        NetworkSink* s = sink_;
        if (sub == "remove") {
            roster_.erase(jid);
            nicks_.erase(jid);
            presence_.erase(jid);
            subscribers_.erase(jid);
            post_([s, jid] { s->net_contact_gone(jid); });
            return;
        }
        if (sub == "both" || sub == "from") subscribers_.insert(jid);
        else subscribers_.erase(jid);
        std::string name = attr(item, "name");
        roster_[jid] = name;
        if (name.empty() && !nicks_.count(jid)) ask_nick(jid);
        name = display_name(jid);
        int32_t presence = best_presence(jid);
        post_([s, jid, name, presence] { s->net_contact(jid, name, presence); });
    }

    // A contact is called what the user named it, else what it calls
    // itself; empty leaves its address.
    std::string display_name(const std::string& jid) const {
        auto named = roster_.find(jid);
        if (named != roster_.end() && !named->second.empty()) return named->second;
        auto nick = nicks_.find(jid);
        return nick != nicks_.end() ? nick->second : std::string();
    }
    // The nickname a contact publishes (its personal eventing node).
    void ask_nick(const std::string& jid) {
        xmpp_stanza_t* iq = xmpp_iq_new(ctx_, "get", "nick");
        xmpp_stanza_set_to(iq, jid.c_str());
        xmpp_stanza_t* pubsub = element("pubsub", kPubsubNs);
        xmpp_stanza_t* items = element("items", nullptr);
        xmpp_stanza_set_attribute(items, "node", kNickNs);
        xmpp_stanza_set_attribute(items, "max_items", "1");
        xmpp_stanza_add_child_ex(pubsub, items, 0);
        xmpp_stanza_add_child_ex(iq, pubsub, 0);
        send(iq);
        xmpp_stanza_release(iq);
    }
    // The nickname in a node's <items> (a query's answer or an event).
    std::string nick_in_items(xmpp_stanza_t* items) {
        if (!items || attr(items, "node") != kNickNs) return std::string();
        xmpp_stanza_t* item = xmpp_stanza_get_child_by_name(items, "item");
        xmpp_stanza_t* nick = item ? xmpp_stanza_get_child_by_name_and_ns(item, "nick", kNickNs) : nullptr;
        return nick ? LibText(ctx_, xmpp_stanza_get_text(nick)).str() : std::string();
    }
    // A roster contact's own nickname, from its presence, its published
    // node or an event about it; the contact is told again if it changes
    // what the user sees.
    void take_nick(const std::string& jid, const std::string& nick) {
        if (nick.empty() || !roster_.count(jid)) return;
        std::string kept = text_parts(nick, 256).front();
        std::string before = display_name(jid);
        nicks_[jid] = kept;
        std::string name = display_name(jid);
        if (name == before) return;
        int32_t presence = best_presence(jid);
        NetworkSink* s = sink_;
        post_([s, jid, name, presence] { s->net_contact(jid, name, presence); });
    }

    static int on_iq(xmpp_conn_t*, xmpp_stanza_t* st, void* user) {
        auto* self = static_cast<XmppNetwork*>(user);
        std::string type = xmpp_stanza_get_type(st) ? xmpp_stanza_get_type(st) : "";
        xmpp_stanza_t* query = xmpp_stanza_get_child_by_name(st, "query");
        const char* ns = query ? xmpp_stanza_get_ns(query) : nullptr;
        if (query && ns && !strcmp(ns, kRosterNs) && (type == "result" || type == "set")) {
            // A push must come from our own account.
            std::string from = attr(st, "from");
            if (type == "set" && !from.empty() && bare(from) != bare(self->jid_)) return 1;
            for (xmpp_stanza_t* i = xmpp_stanza_get_children(query); i; i = xmpp_stanza_get_next(i))
                if (xmpp_stanza_get_name(i) && !strcmp(xmpp_stanza_get_name(i), "item")) self->roster_item(i);
            if (type == "set") {
                xmpp_stanza_t* r = xmpp_iq_new(self->ctx_, "result", xmpp_stanza_get_id(st));
                self->send(r);
                xmpp_stanza_release(r);
            }
            return 1;
        }
        xmpp_stanza_t* pubsub = xmpp_stanza_get_child_by_name_and_ns(st, "pubsub", kPubsubNs);
        if (pubsub && type == "result") {
            xmpp_stanza_t* items = xmpp_stanza_get_child_by_name(pubsub, "items");
            self->take_nick(bare(attr(st, "from")), self->nick_in_items(items));
        }
        if (query && ns && !strcmp(ns, "jabber:iq:private") && type == "result") {
            xmpp_stanza_t* storage = xmpp_stanza_get_child_by_name(query, "storage");
            for (xmpp_stanza_t* c = storage ? xmpp_stanza_get_children(storage) : nullptr; c;
                 c = xmpp_stanza_get_next(c)) {
                if (!xmpp_stanza_get_name(c) || strcmp(xmpp_stanza_get_name(c), "conference")) continue;
                std::string autojoin = attr(c, "autojoin");
                if (autojoin == "true" || autojoin == "1")
                    self->join(bare(attr(c, "jid")), child_text(self->ctx_, c, "nick"));
            }
        }
        std::string to = attr(st, "to");
        if ((type == "get" || type == "set") && (to.empty() || bare(to) == bare(self->jid_))) self->answer(st, type);
        return 1;
    }

    // Requests to us: what every client answers, and an error for the rest,
    // since servers drop a client that leaves them unanswered.
    void answer(xmpp_stanza_t* st, const std::string& type) {
        xmpp_stanza_t* q = xmpp_stanza_get_children(st);
        while (q && !xmpp_stanza_is_tag(q)) q = xmpp_stanza_get_next(q);
        const char* ns = q ? xmpp_stanza_get_ns(q) : nullptr;
        std::string name = q && xmpp_stanza_get_name(q) ? xmpp_stanza_get_name(q) : "";
        std::string from = attr(st, "from");
        xmpp_stanza_t* r = nullptr;
        if (type == "get" && ns && (!strcmp(ns, kPingNs) || !strcmp(ns, kDiscoInfoNs) || !strcmp(ns, kVersionNs))) {
            r = xmpp_iq_new(ctx_, "result", xmpp_stanza_get_id(st));
            if (!from.empty()) xmpp_stanza_set_to(r, from.c_str());
            if (!strcmp(ns, kDiscoInfoNs)) {
                xmpp_stanza_t* query = element("query", kDiscoInfoNs);
                std::string node = attr(q, "node");
                if (!node.empty()) xmpp_stanza_set_attribute(query, "node", node.c_str());
                xmpp_stanza_t* id = element("identity", nullptr);
                xmpp_stanza_set_attribute(id, "category", "client");
                xmpp_stanza_set_attribute(id, "type", "pc");
                xmpp_stanza_set_attribute(id, "name", "Olvaro");
                xmpp_stanza_add_child_ex(query, id, 0);
                for (const char* f : kFeatures) {
                    xmpp_stanza_t* feature = element("feature", nullptr);
                    xmpp_stanza_set_attribute(feature, "var", f);
                    xmpp_stanza_add_child_ex(query, feature, 0);
                }
                xmpp_stanza_add_child_ex(r, query, 0);
            } else if (!strcmp(ns, kVersionNs)) {
                xmpp_stanza_t* query = element("query", kVersionNs);
                add_text_child(query, "name", "Olvaro");
                add_text_child(query, "version", "1.0");
                xmpp_stanza_add_child_ex(r, query, 0);
            }
        } else {
            r = xmpp_stanza_reply_error(st, "cancel", "service-unavailable", nullptr);
        }
        if (!r) return;
        send(r);
        xmpp_stanza_release(r);
    }

    // Keep-alive: a ping to our server each period; one still unanswered at
    // the next means the link is dead, though the socket may not know yet.
    static int on_tick(xmpp_conn_t*, void* user) {
        auto* self = static_cast<XmppNetwork*>(user);
        if (!self->connected_) return 1;
        if (self->ping_waiting_) {
            self->link_dead_ = true;
            self->link_down("The link to the XMPP server was lost.", true);
            return 0;
        }
        std::string id = "keepalive-" + std::to_string(++self->pings_);
        xmpp_stanza_t* iq = xmpp_iq_new(self->ctx_, "get", id.c_str());
        xmpp_stanza_set_to(iq, self->domain_.c_str());
        xmpp_stanza_add_child_ex(iq, self->element("ping", kPingNs), 0);
        self->ping_waiting_ = true;
        xmpp_id_handler_add(self->conn_, &XmppNetwork::on_pong, id.c_str(), self);
        self->send(iq);
        xmpp_stanza_release(iq);
        return 1;
    }
    static int on_pong(xmpp_conn_t*, xmpp_stanza_t*, void* user) {
        static_cast<XmppNetwork*>(user)->ping_waiting_ = false;
        return 0;
    }

    static int on_presence(xmpp_conn_t*, xmpp_stanza_t* st, void* user) {
        auto* self = static_cast<XmppNetwork*>(user);
        std::string from = attr(st, "from");
        std::string who = bare(from);
        if (who.empty()) return 1;
        std::string type = xmpp_stanza_get_type(st) ? xmpp_stanza_get_type(st) : "";
        NetworkSink* s = self->sink_;
        auto room = self->rooms_.find(who);
        if (room != self->rooms_.end()) {
            std::string nick = from.size() > who.size() ? from.substr(who.size() + 1) : "";
            if (nick.empty()) return 1;
            bool own = nick == self->own_nick_[who];
            if (type == "error" || (own && type == "unavailable")) {
                // Refused, left or sent out: not joined again.
                if (own) self->forget_room(who);
                return 1;
            }
            bool joined = type != "unavailable";
            if (own) {
                self->room_joined(who);
                return 1;
            }
            // A room that shows real addresses names the member by it, so
            // a roster contact is the same contact in the chat.
            xmpp_stanza_t* x = xmpp_stanza_get_child_by_name_and_ns(st, "x", kMucUserNs);
            std::string real = bare(attr(x ? xmpp_stanza_get_child_by_name(x, "item") : nullptr, "jid"));
            auto& members = room->second;
            std::string address = !real.empty() ? real : from;
            if (joined && members.size() < 1024) members[nick] = address;
            if (!joined) {
                auto known = members.find(nick);
                if (known != members.end()) address = known->second;
                members.erase(nick);
            }
            post_member(self, who, address, joined);
            return 1;
        }
        if (type == "subscribe") {
            std::string status = child_text(self->ctx_, st, "status");
            std::string nick = child_text(self->ctx_, st, "nick");
            self->post_([s, who, nick, status] { s->net_request(who, nick, status); });
            return 1;
        }
        if (!type.empty() && type != "unavailable") return 1;
        // Kept per resource, for roster contacts only (so the table is as
        // big as the roster); the contact shows its best resource.
        auto known = self->roster_.find(who);
        if (known == self->roster_.end()) return 1;
        std::string resource = from.size() > who.size() ? from.substr(who.size() + 1) : "";
        auto& resources = self->presence_[who];
        if (type == "unavailable") {
            resources.erase(resource);
        } else if (resources.size() < 64 || resources.count(resource)) {
            int priority = atoi(child_text(self->ctx_, st, "priority").c_str());
            resources[resource] = {presence_of(self->ctx_, st), priority};
        }
        xmpp_stanza_t* nick_element = xmpp_stanza_get_child_by_name_and_ns(st, "nick", kNickNs);
        std::string nick = nick_element ? LibText(self->ctx_, xmpp_stanza_get_text(nick_element)).str() : "";
        if (!nick.empty()) self->nicks_[who] = text_parts(nick, 256).front();
        int32_t presence = self->best_presence(who);
        std::string name = self->display_name(who);
        self->post_([s, who, name, presence] { s->net_contact(who, name, presence); });
        return 1;
    }

    // Online over busy over away, then the higher priority; 0 with none.
    int32_t best_presence(const std::string& who) const {
        auto it = presence_.find(who);
        if (it == presence_.end()) return 0;
        auto rank = [](int32_t p) { return p == 1 ? 3 : p == 5 ? 2 : p == 2 ? 1 : 0; };
        int32_t best = 0;
        int best_priority = 0;
        for (auto& [resource, entry] : it->second) {
            auto [p, priority] = entry;
            if (best == 0 || rank(p) > rank(best) || (rank(p) == rank(best) && priority > best_priority)) {
                best = p;
                best_priority = priority;
            }
        }
        return best;
    }

    static void post_member(XmppNetwork* self, const std::string& room, const std::string& occupant, bool joined) {
        NetworkSink* s = self->sink_;
        self->post_([s, room, occupant, joined] { s->net_chat_member(room, occupant, joined); });
    }

    static int on_message(xmpp_conn_t*, xmpp_stanza_t* st, void* user) {
        auto* self = static_cast<XmppNetwork*>(user);
        std::string from = attr(st, "from");
        std::string type = xmpp_stanza_get_type(st) ? xmpp_stanza_get_type(st) : "";
        NetworkSink* s = self->sink_;
        // An invitation to a room: taken, by joining it, from a roster
        // contact; a stranger's is ignored.
        xmpp_stanza_t* x = xmpp_stanza_get_child_by_name_and_ns(st, "x", kMucUserNs);
        xmpp_stanza_t* invite = x ? xmpp_stanza_get_child_by_name(x, "invite") : nullptr;
        if (invite) {
            if (self->roster_.count(bare(attr(invite, "from")))) self->join(bare(from), std::string());
            return 1;
        }
        xmpp_stanza_t* direct = xmpp_stanza_get_child_by_name_and_ns(st, "x", "jabber:x:conference");
        if (direct) {
            if (self->roster_.count(bare(from))) self->join(bare(attr(direct, "jid")), std::string());
            return 1;
        }
        if (type == "error") {
            self->bounced(attr(st, "id"), from);
            return 1;
        }
        if (self->take_receipt(st)) return 1;
        if (xmpp_stanza_t* event = xmpp_stanza_get_child_by_name_and_ns(st, "event", kPubsubEventNs)) {
            self->take_nick(bare(from), self->nick_in_items(xmpp_stanza_get_child_by_name(event, "items")));
            return 1;
        }
        std::string body = LibText(self->ctx_, xmpp_message_get_body(st)).str();
        if (body.empty()) return 1;
        if (type == "groupchat") {
            std::string room = bare(from);
            auto known = self->rooms_.find(room);
            if (known == self->rooms_.end()) return 1;
            std::string nick = from.size() > room.size() ? from.substr(room.size() + 1) : "";
            // Our own lines come back, and the room's replay of old ones.
            if (nick.empty() || nick == self->own_nick_[room] || xmpp_stanza_get_child_by_name(st, "delay")) return 1;
            auto member = known->second.find(nick);
            std::string sender = member != known->second.end() ? member->second : from;
            self->post_([s, sender, room, body] { s->net_message(sender, room, body, 0); });
            return 1;
        }
        std::string who = bare(from);
        if (who.empty()) return 1;
        // The sender asks to hear that it arrived.
        std::string id = attr(st, "id");
        if (xmpp_stanza_get_child_by_name_and_ns(st, "request", kReceiptsNs) && !id.empty()) {
            xmpp_stanza_t* r = xmpp_message_new(self->ctx_, nullptr, from.c_str(), nullptr);
            xmpp_stanza_t* received = self->element("received", kReceiptsNs);
            xmpp_stanza_set_attribute(received, "id", id.c_str());
            xmpp_stanza_add_child_ex(r, received, 0);
            self->send(r);
            xmpp_stanza_release(r);
        }
        // Kept for us while we were away: its time is when it was sent.
        int64_t sent = delay_stamp(attr(xmpp_stanza_get_child_by_name_and_ns(st, "delay", "urn:xmpp:delay"), "stamp"));
        self->post_([s, who, body, sent] { s->net_message(who, std::string(), body, sent); });
        return 1;
    }

    static void on_conn(xmpp_conn_t* conn, xmpp_conn_event_t event, int error, xmpp_stream_error_t* stream_error,
                        void* user) {
        auto* self = static_cast<XmppNetwork*>(user);
        if (conn != self->conn_ || self->link_dead_) return;  // a link already given up
        if (event == XMPP_CONN_CONNECT) return self->on_connected();
        if (event == XMPP_CONN_RAW_CONNECT) return;
        // A certificate that fails now will fail again: no retrying.
        bool final = self->auth_refused_ || self->cert_problem_ ||
                     (stream_error && (stream_error->type == XMPP_SE_NOT_AUTHORIZED || stream_error->type == XMPP_SE_CONFLICT));
        self->link_down(self->reason(conn, error, stream_error), !final);
    }

    // Why the session ended, from the server's stream error, or before
    // sign-in from how far it came.
    std::string reason(xmpp_conn_t* conn, int error, xmpp_stream_error_t* stream_error) const {
        if (stream_error) {
            switch (stream_error->type) {
                case XMPP_SE_NOT_AUTHORIZED:
                    return "The XMPP server did not accept the user name or password.";
                case XMPP_SE_CONFLICT:
                    return "This XMPP account signed in somewhere else.";
                case XMPP_SE_SYSTEM_SHUTDOWN:
                    return "The XMPP server " + domain_ + " shut down.";
                default:
                    break;
            }
            std::string condition;
            for (xmpp_stanza_t* c = stream_error->stanza ? xmpp_stanza_get_children(stream_error->stanza) : nullptr;
                 c && condition.empty(); c = xmpp_stanza_get_next(c))
                if (xmpp_stanza_is_tag(c) && xmpp_stanza_get_name(c) && strcmp(xmpp_stanza_get_name(c), "text"))
                    condition = xmpp_stanza_get_name(c);
            return "The XMPP server ended the session" + (condition.empty() ? "" : " (" + condition + ")") + ".";
        }
        if (connected_ || link_dead_) return "The link to the XMPP server was lost.";
        if (auth_refused_) return "The XMPP server did not accept the user name or password.";
        if (cert_problem_)
            return "The certificate of the XMPP server " + domain_ + " is not trusted" +
                   (cert_problem_->empty() ? "" : " (" + *cert_problem_ + ")") + ".";
        if (error == 0 && !allow_plain_ && !xmpp_conn_is_secured(conn))
            return "The XMPP server " + domain_ + " offers no encrypted link.";
        return "Could not connect to the XMPP server " + domain_ + ".";
    }

    // The TLS library could not verify the server's certificate: the
    // attempt ends, and its reason is kept (the TLS library's words).
    static int on_certfail(const xmpp_tlscert_t*, const char* error) {
        // The certificate names no connection here; this thread's is the one.
        XmppNetwork* self = t_session;
        if (self && self->conn_) self->cert_problem_ = error ? std::string(error).substr(0, 200) : std::string();
        return 0;
    }

    // libstrophe keeps the SASL failure to itself (no handler sees stanzas
    // before sign-in) and reports it only as an error of its "auth" area;
    // that event, by area and level and only during sign-in, is all that
    // is taken from here, never the text, which can carry anyone's words.
    // Likewise, whether a session was resumed is only said in its log,
    // by a fixed line of its own.
    static void on_log(void* user, xmpp_log_level_t level, const char* area, const char* text) {
        auto* self = static_cast<XmppNetwork*>(user);
        if (self->connected_) return;
        if (level == XMPP_LEVEL_ERROR && area && !strcmp(area, "auth")) self->auth_refused_ = true;
        if (self->resuming_ && level == XMPP_LEVEL_DEBUG && text && !strcmp(text, "Session resumed successfully."))
            self->resumed_ = true;
    }

    std::string jid_, host_, ca_file_, domain_, nick_;
    unsigned short port_;
    bool allow_plain_;
    int ping_ms_;
    int64_t give_up_ms_;
    std::string password_;
    NetworkSink* sink_;
    Post post_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mu_;
    std::deque<std::function<void()>> tasks_;

    // The session thread's own.
    xmpp_ctx_t* ctx_ = nullptr;
    xmpp_conn_t* conn_ = nullptr;
    bool connected_ = false, ended_ = false, quitting_ = false;
    bool auth_refused_ = false, link_dead_ = false, ping_waiting_ = false;
    std::optional<std::string> cert_problem_;  // why the certificate failed
    uint64_t pings_ = 0, message_ids_ = 0;
    // Stanzas sent since sign-in, and the texts not yet acknowledged: the
    // count their last part brought it to, and their token.
    uint64_t sent_ = 0;
    bool ever_connected_ = false;
    std::optional<Clock::time_point> lost_since_, retry_at_;
    int retries_ = 0;
    std::optional<Clock::time_point> sign_in_by_;
    std::mt19937_64 random_;
    bool sm_ = false;
    // Resuming the last link's session, and whether the server took it.
    bool resuming_ = false, resumed_ = false;
    int socket_ = -1;
    std::deque<Text> unacked_;
    std::map<std::string, uint64_t> barriers_;
    std::map<std::string, std::pair<std::string, uint64_t>> receipts_;  // stanza id -> (peer, token)
    std::deque<std::string> receipt_order_;
    int32_t status_ = 1;
    std::atomic<int32_t> wanted_{1};
    // How this link keeps us invisible; "asking" while the server decides.
    enum class Hidden { no, asking, command, list };
    Hidden hidden_ = Hidden::no, hide_way_ = Hidden::no;
    bool features_known_ = false, can_invisible_ = false, can_privacy_ = false;
    bool seen_online_ = false;  // contacts were sent our being online on this link
    bool ready_ = false;        // the user was told the link is up
    std::set<std::string> subscribers_;  // roster contacts who get our presence
    std::map<std::string, std::string> roster_;  // bare JID -> name
    std::string caps_ver_;
    std::map<std::string, std::string> nicks_;   // roster contacts' own nicknames
    // Roster contacts' resources: bare JID -> resource -> (presence, priority).
    std::map<std::string, std::map<std::string, std::pair<int32_t, int>>> presence_;
    // Joined rooms: each member's nickname -> the address it is known by.
    std::map<std::string, std::map<std::string, std::string>> rooms_;
    std::map<std::string, std::string> own_nick_;  // room -> our nickname there
    // Rooms to be in on every link (the nickname asked for, empty for our
    // own), and the members a lost link left unconfirmed.
    std::map<std::string, std::string> joined_;
    std::map<std::string, std::map<std::string, std::string>> stale_;
};

}  // namespace

std::unique_ptr<Network> make_xmpp_network(const BridgeRecord& bridge, const XmppOptions& options, NetworkSink& sink,
                                           Post post, std::string* error) {
    std::string user = bridge.field("username");
    std::string server = bridge.field("server");
    std::string password = bridge.field("password");
    std::string jid = user.find('@') == std::string::npos ? user + "@" + server : user;
    if (user.empty() || jid.back() == '@' || password.empty()) {
        if (error) *error = "The XMPP account needs a user name, a server and a password.";
        return nullptr;
    }
    std::string resource = bridge.field("resource");
    std::string domain = jid.substr(jid.find('@') + 1);
    if (!resource.empty()) jid += "/" + resource;
    std::string host;
    unsigned long port = 0;
    for (const std::string& entry : options.hosts) {
        size_t eq = entry.find('='), colon = entry.rfind(':');
        if (eq == std::string::npos || colon == std::string::npos || colon < eq) continue;
        if (entry.substr(0, eq) != domain) continue;
        host = entry.substr(eq + 1, colon - eq - 1);
        port = strtoul(entry.c_str() + colon + 1, nullptr, 10);
        if (port > 65535) port = 0;
    }
    return std::make_unique<XmppNetwork>(jid, password, host, static_cast<unsigned short>(port), options, sink,
                                         std::move(post));
}

}  // namespace olvaro::server

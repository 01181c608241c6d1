// Sign-in, ghosting, keep-alive and sign-out.
#include <algorithm>
#include <cctype>
#include <chrono>

#include "core.h"

namespace olvaro::server {

namespace {
bool valid_presence(int32_t s) { return s == 1 || s == 2 || s == 3 || s == 5; }

int64_t now_seconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}
}  // namespace

std::string format_time(int64_t us) { return std::to_string(us / 1000000) + "." + std::to_string(us % 1000000); }

void Core::on_packet(Conn& c, Packet& p) {
    c.awaiting_pong = false;
    const std::string& cmd = p.command;
    if (cmd == "P") return on_ping(c, p);
    if (cmd.empty()) return;
    if (!c.account) {
        if (cmd == "LOGON") return on_logon(c, p);
        if (cmd == "AUTH") return on_auth(c, p);
        close_conn(c);  // nothing else means anything before sign-in
        return;
    }
    using Handler = void (Core::*)(Conn&, const Packet&);
    static const std::map<std::string, Handler, std::less<>> handlers = {
        {"CONTACT DETAIL", &Core::on_contact_detail},
        {"CONTACT ADD", &Core::on_contact_add},
        {"CONTACT ADD RESP", &Core::on_contact_add_resp},
        {"CONTACT UPDATE", &Core::on_contact_update},
        {"GROUP CREATE", &Core::on_group_create},
        {"GROUP SUBSCRIBE", &Core::on_group_subscribe},
        {"GROUP UNSUB", &Core::on_group_unsub},
        {"GROUP ADMIN", &Core::on_group_admin},
        {"MESG", &Core::on_mesg},
        {"MESG STORED", &Core::on_mesg_stored},
        {"MESG HIST", &Core::on_mesg_hist},
    };
    auto it = handlers.find(cmd);
    if (it != handlers.end()) return (this->*(it->second))(c, p);
    if (cmd.rfind("BRIDGE ", 0) == 0) return bridging_->on_packet(c, p);
    // A request we do not serve still gets its answer, so nothing waits forever.
    if (p.has("Mesg-Id")) respond(c, p, kDone);
}

void Core::on_logon(Conn& c, const Packet& p) {
    // Remembered for the device icon other users see.
    const std::string& app = p.get("App-Type");
    c.mobile = app == "PocketPC" || app == "SmartPhone";
    Packet auth("AUTH");
    auth.set_int("Auth-Target", 0);
    auth.set_int("Word-Size", config_.word_size);
    send(c, auth);
}

void Core::refuse(Conn& c, const std::string& reason, int32_t retry) {
    Packet f("LOGON FAILED");
    f.set("reason", reason);
    f.set_int("retry", retry);
    send(c, f);
    c.closing = true;
}

void Core::on_auth(Conn& c, const Packet& p) {
    if (p.get_int("Auth-Target") != 0) return;
    if (config_.faults.refuse_sign_in) return refuse(c, config_.faults.refuse_reason, config_.faults.refuse_retry);
    if (p.get_int("Encryption-Type") != 0) return refuse(c, "This server accepts only plain passwords.", 0);
    const std::string& name = p.get("Name");
    // Addresses are matched without regard to case; so are the guesses at one.
    std::string guessed = name;
    for (char& ch : guessed) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    auto now = Clock::now();
    if (int64_t wait = throttle_.wait(c.address, guessed, now); wait > 0)
        return refuse(c, "Too many wrong passwords were given from this address. Try again in " +
                             std::to_string(wait) + " seconds.",
                      int32_t(wait));
    auto account = store_.account_by_email(name);
    if (!account && config_.demo && name.find('@') != std::string::npos && !p.body.empty()) {
        // Demo: a newcomer gets an account, and the demo people as contacts.
        NewAccount fresh{name, p.body, name.substr(0, name.find('@')), "", 0};
        if (int64_t id = create_account(fresh)) {
            for (int64_t bot : bots_) {
                store_.list(id, bot);
                store_.list(bot, id);
            }
            if (auto lounge = store_.group_by_name("Lounge")) store_.set_role(lounge->id, id, 0);
            account = store_.account(id);
        }
    }
    auto secret = account ? store_.password_of(account->id) : std::nullopt;
    if (!secret) {
        throttle_.failed(c.address, guessed, now);
        return refuse(c, "The e-mail address or the password is wrong.", 0);
    }
    // The hash is checked off the loop; the connection is not read from
    // until the answer is in.
    SignIn pending{account->id, p.get_int("Online-Status"), guessed};
    c.paused = true;
    bool queued = check_off_loop(c, p.body, *secret, [this, pending](Conn& c, PasswordMatch match, const std::string& rehash) {
        finish_sign_in(c, pending, match, rehash);
    });
    if (!queued) {
        c.paused = false;
        refuse(c, "The server is busy. Try again in a few seconds.", 5);
    }
}

bool Core::check_off_loop(Conn& c, const std::string& password, const std::pair<std::string, std::string>& secret,
                          std::function<void(Conn&, PasswordMatch, const std::string&)> then) {
    c.verifying = true;
    uint64_t conn = c.id;
    bool queued = password_checks_->check(password, secret.first, secret.second,
                                          [this, conn, then = std::move(then)](PasswordMatch match, std::string rehash) {
                                              post([this, conn, then, match, rehash = std::move(rehash)] {
                                                  auto found = conns_.find(conn);
                                                  if (found == conns_.end() || found->second->dead) return;
                                                  found->second->verifying = false;
                                                  then(*found->second, match, rehash);
                                              });
                                          });
    if (!queued) c.verifying = false;
    return queued;
}

void Core::finish_sign_in(Conn& c, const SignIn& pending, PasswordMatch match, const std::string& rehash) {
    c.paused = false;
    if (match == PasswordMatch::kWrong) {
        throttle_.failed(c.address, pending.guessed, Clock::now());
        return refuse(c, "The e-mail address or the password is wrong.", 0);
    }
    throttle_.succeeded(c.address, pending.guessed);
    if (!rehash.empty()) store_.set_password_hash(pending.account, rehash);
    auto account = store_.account(pending.account);
    if (!account) return refuse(c, "The e-mail address or the password is wrong.", 0);
    signed_in(c, *account, pending.presence);
    // What the client sent meanwhile is read now.
    if (!c.dead && !c.closing && take(c, "", 0) && !c.dead && !c.paused) watch(c, c.want_write);
}

void Core::signed_in(Conn& c, const Account& account, int32_t presence) {
    int64_t id = account.id;
    if (Conn* old = online(id)) {
        Packet g("GHOSTED");
        send(*old, g);
        old->ghosted = true;
        old->closing = true;
        online_.erase(id);
    }
    int32_t device = c.mobile ? 3 : account.device_type == 3 ? 0 : account.device_type;
    if (device != account.device_type) store_.set_device_type(id, device);
    c.presence = valid_presence(presence) ? presence : 1;
    c.account = id;
    c.signed_in_us = next_time_us();

    for (const Account& a : store_.contacts(id)) send(c, contact_detail(a, id));
    for (const Account& a : store_.requested_by(id)) send(c, contact_detail(a, id));
    for (int64_t g : store_.groups_of(id)) {
        auto role = store_.role(g, id);
        if (role && (*role & (kBanned | kKicked))) continue;
        if (auto group = store_.group(g)) send(c, group_detail(*group));
    }
    Packet ok("LOGON SUCCESSFUL");
    ok.set_id("Sub-Id", uint64_t(id));
    ok.set("Nickname", account.nickname);
    ok.set("Status", account.status);
    ok.set("Timestamp", format_time(c.signed_in_us));
    // Without "Last-Online" the client does not ask for stored messages, so a
    // first sign-in with messages waiting still names a time.
    int64_t last = account.last_online;
    if (!last && store_.has_undelivered(id)) last = account.created;
    if (last) ok.set_int("Last-Online", last);
    send(c, ok);
    store_.set_last_online(id, now_seconds());
    online_[id] = c.id;
    push_presence(id);
    bridging_->announce(c);
    for (const ContactRequest& r : store_.requests_to(id)) {
        auto from = store_.account(r.source);
        if (!from) continue;
        Packet add("CONTACT ADD");
        add.set_id("Source-Id", uint64_t(r.source));
        add.set("Name", from->email);
        add.body = r.message;
        send(c, add);
    }
}

void Core::on_ping(Conn& c, const Packet& p) {
    if (!p.has("i")) return;
    int64_t units = std::clamp<int64_t>(p.get_int("i"), 1, 3600);
    c.interval_ms = uint64_t(units) * config_.interval_unit_ms;
}

void Core::signed_out(Conn& c) {
    if (!c.account) return;
    abandon_inflight(c);
    if (c.ghosted) return;  // the account lives on in its newer connection
    auto it = online_.find(c.account);
    if (it != online_.end() && it->second == c.id) online_.erase(it);
    bridging_->signed_out(c.account);
    store_.set_last_online(c.account, now_seconds());
    push_presence(c.account);
}

}  // namespace olvaro::server

// Contact lists, contact requests, presence and identity.
#include "core.h"

namespace olvaro::server {

int32_t Core::visible_presence(int64_t account) {
    for (int64_t b : bots_)
        if (b == account) return 1;  // the automated contact never sleeps
    Conn* c = online(account);
    if (!c || c->presence == 3) return 0;  // invisible looks offline to others
    return c->presence;
}

Packet Core::contact_detail(const Account& a, int64_t viewer) {
    Packet p("CONTACT DETAIL");
    p.set_id("Contact-Id", uint64_t(a.id));
    // An id is easy to guess; an address is not, and is given only to those
    // who know the account already.
    if (store_.may_see_address(viewer, a.id)) p.set("Name", a.email);
    p.set("Nickname", a.nickname);
    p.set("Status", a.status);
    // "State": bit 0 listed, bit 1 accepted. A contact the viewer asked for
    // is listed as waiting (1), and its presence stays hidden until it says yes.
    bool listed = store_.listed(viewer, a.id);
    bool waiting = !listed && store_.has_request(viewer, a.id);
    p.set_int("Online-Status", listed ? visible_presence(a.id) : 0);
    p.set_int("State", listed ? 3 : waiting ? 1 : 0);
    p.set_int("Device-Type", a.device_type);
    return p;
}

void Core::push_presence(int64_t account) {
    auto a = store_.account(account);
    if (!a) return;
    for (int64_t w : store_.watchers(account))
        if (Conn* wc = online(w)) send(*wc, contact_detail(*a, w));
}

void Core::on_contact_detail(Conn& c, const Packet& p) {
    if (p.has("Contact-Id")) return;  // only our own details are ours to set
    bool changed = false;
    if (p.has("Online-Status")) {
        int32_t s = p.get_int("Online-Status");
        if ((s == 1 || s == 2 || s == 3 || s == 5) && s != c.presence) {
            c.presence = s;
            changed = true;
        }
    }
    const std::string* nickname = p.has("Nickname") && !p.get("Nickname").empty() ? &p.get("Nickname") : nullptr;
    const std::string* status = p.has("Status") ? &p.get("Status") : nullptr;
    if (nickname || status) {
        store_.set_identity(c.account, nickname, status);
        changed = true;
    }
    if (changed) push_presence(c.account);
}

void Core::on_contact_add(Conn& c, const Packet& p) {
    std::optional<Account> target;
    if (p.has("Target-Id"))
        target = store_.account(int64_t(p.get_id("Target-Id") & 0x7fffffffffffffffull));
    else if (p.has("Name"))
        target = store_.account_by_email(p.get("Name"));
    if (!target || target->id == c.account) return respond(c, p, kNoSuch);
    if (!p.has("Target-Id")) store_.note_address_known(c.account, target->id);
    if (store_.listed(c.account, target->id)) return respond(c, p, kAlreadyListed);
    store_.put_request(c.account, target->id, p.body.substr(0, 4096));
    respond(c, p, kOk);
    if (target->device_type == 1) return accept_request(c.account, target->id);
    send(c, contact_detail(*target, c.account));  // on the list, waiting
    if (Conn* t = online(target->id)) {
        auto me = store_.account(c.account);
        Packet add("CONTACT ADD");
        add.set_id("Source-Id", uint64_t(c.account));
        add.set("Name", me ? me->email : std::string());
        add.body = p.body.substr(0, 4096);
        send(*t, add);
    }
}

void Core::accept_request(int64_t source, int64_t target) {
    store_.drop_request(source, target);
    store_.list(source, target);
    auto s = store_.account(source);
    auto t = store_.account(target);
    if (!s || !t) return;
    if (Conn* sc = online(source)) send(*sc, contact_detail(*t, source));
    // The accepting side learns who it let in; bit 0 of "State" says whether
    // it lists the requester itself.
    if (Conn* tc = online(target)) send(*tc, contact_detail(*s, target));
}

void Core::on_contact_add_resp(Conn& c, const Packet& p) {
    int64_t source = int64_t(p.get_id("Source-Id") & 0x7fffffffffffffffull);
    if (!store_.has_request(source, c.account)) return respond(c, p, kNoSuch);
    if (p.get_int("Accepted") != 0)
        accept_request(source, c.account);
    else
        store_.drop_request(source, c.account);
    respond(c, p, kOk);
}

void Core::on_contact_update(Conn& c, const Packet& p) {
    if (p.get_int("Remove") != 0) {
        int64_t id = int64_t(p.get_id("Contact-Id") & 0x7fffffffffffffffull);
        store_.unlist(c.account, id);
        store_.drop_request(c.account, id);
    }
    respond(c, p, kOk);
}

}  // namespace olvaro::server

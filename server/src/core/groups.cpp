// Chat groups: creation, joining with a password, leaving, and roles.
#include "core.h"

namespace olvaro::server {

Packet Core::group_detail(const Group& g) {
    Packet p("GROUP DETAIL");
    p.set_id("Group-ID", uint64_t(g.id));
    p.set("Name", g.name);
    p.set("Desc", g.description);
    std::string admin;
    for (auto [account, role] : store_.members(g.id)) {
        if (role & kKicked) continue;
        uint64_t v = uint64_t(account);
        for (int i = config_.word_size - 1; i >= 0; --i) p.body += char((v >> (8 * i)) & 0xff);
        if (role) admin += std::to_string(account) + "|" + std::to_string(role) + ",";
    }
    if (!admin.empty()) admin.pop_back();
    p.set("Admin", admin);
    return p;
}

void Core::to_members(int64_t group, const Packet& p, int64_t except) {
    for (auto [account, role] : store_.members(group)) {
        if (account == except || (role & (kBanned | kKicked))) continue;
        if (Conn* c = online(account)) send(*c, p);
    }
}

static Packet membership(int64_t group, int64_t account, int type) {
    Packet u("GROUP UPDATE");
    u.set_id("Group-ID", uint64_t(group));
    u.set_id("Contact-Id", uint64_t(account));
    u.set_int("Type", type);
    return u;
}

void Core::on_group_create(Conn& c, const Packet& p) {
    const std::string& name = p.get("Name");
    if (name.empty() || name.size() > 128) return respond(c, p, kDenied);
    if (store_.group_by_name(name)) return respond(c, p, kTaken);
    if (store_.groups_of(c.account).size() >= config_.max_groups_per_account) return respond(c, p, kDenied);
    int64_t id = store_.add_group(name, p.get("Desc"), p.body);
    if (!id) return respond(c, p, kDenied);
    store_.set_role(id, c.account, kAdmin);
    if (auto g = store_.group(id)) send(c, group_detail(*g));
    respond(c, p, kOk);
}

void Core::on_group_subscribe(Conn& c, const Packet& p) {
    auto g = store_.group_by_name(p.get("Name"));
    if (!g) return respond(c, p, kNoSuch);
    if (auto role = store_.role(g->id, c.account)) return respond(c, p, (*role & kBanned) ? kDenied : kTaken);
    auto secret = store_.group_password_of(g->id);
    if (!secret) return respond(c, p, kNoSuch);
    if (secret->second.empty()) return join_group(c, p, *g);
    // The hash is checked off the loop, as a sign-in's is; one at a time.
    if (c.verifying) return respond(c, p, kDenied);
    bool queued = check_off_loop(c, p.body, *secret, [this, asked = p](Conn& c, PasswordMatch match, const std::string& rehash) {
        finish_group_subscribe(c, asked, match, rehash);
    });
    if (!queued) respond(c, p, kDenied);
}

void Core::finish_group_subscribe(Conn& c, const Packet& asked, PasswordMatch match, const std::string& rehash) {
    auto g = store_.group_by_name(asked.get("Name"));
    if (!g) return respond(c, asked, kNoSuch);
    if (match == PasswordMatch::kWrong) return respond(c, asked, kDenied);
    if (!rehash.empty()) store_.set_group_password_hash(g->id, rehash);
    if (store_.role(g->id, c.account)) return respond(c, asked, kTaken);  // joined meanwhile
    join_group(c, asked, *g);
}

void Core::join_group(Conn& c, const Packet& p, const Group& g) {
    if (store_.groups_of(c.account).size() >= config_.max_groups_per_account) return respond(c, p, kDenied);
    store_.set_role(g.id, c.account, 0);
    send(c, group_detail(g));
    respond(c, p, kOk);
    to_members(g.id, membership(g.id, c.account, 0), c.account);
}

void Core::on_group_unsub(Conn& c, const Packet& p) {
    int64_t gid = int64_t(p.get_id("Group-Id") & 0x7fffffffffffffffull);
    auto role = store_.role(gid, c.account);
    if (!role) return respond(c, p, kNoSuch);
    // A ban outlives leaving, or leaving and coming back would lift it.
    if (!(*role & kBanned)) store_.remove_member(gid, c.account);
    respond(c, p, kOk);
    // The leaver too: its own id tells its client the group is gone.
    Packet left = membership(gid, c.account, 1);
    to_members(gid, left, c.account);
    send(c, left);
}

void Core::on_group_admin(Conn& c, const Packet& p) {
    int64_t gid = int64_t(p.get_id("Group-Id") & 0x7fffffffffffffffull);
    int64_t target = int64_t(p.get_id("Target-Id") & 0x7fffffffffffffffull);
    int32_t action = p.get_int("Action");
    auto mine = store_.role(gid, c.account);
    auto theirs = store_.role(gid, target);
    if (!mine || !theirs) return respond(c, p, kNoSuch);
    bool admin = (*mine & kAdmin) && !(*mine & (kBanned | kKicked));
    bool moderator = (*mine & kModerator) && !(*mine & (kBanned | kKicked | kSilenced));
    // Administrators may set any role. Moderators may silence, kick or ban
    // plain members, and undo a silence (role 0 for a silenced member).
    bool moderated = action == kBanned || action == kSilenced || action == kKicked ||
                     (action == 0 && *theirs == kSilenced);
    bool allowed = (action & ~kKnownRoles) == 0 &&
                   (admin || (moderator && moderated && !(*theirs & (kAdmin | kModerator))));
    if (!allowed) return respond(c, p, kDenied);

    Packet echo("GROUP ADMIN");
    echo.set_id("Group-ID", uint64_t(gid));
    echo.set_id("Target-ID", uint64_t(target));
    echo.set_id("Source-ID", uint64_t(c.account));
    echo.set_int("Action", action);
    to_members(gid, echo);
    respond(c, p, kOk);

    Conn* t = online(target);
    if (action & kKicked) {
        store_.remove_member(gid, target);
        to_members(gid, membership(gid, target, 1));
        if (t) send(*t, membership(gid, target, 1));
    } else if (action & kBanned) {
        store_.set_role(gid, target, action);
        if (t) send(*t, membership(gid, target, 1));
    } else if (*theirs & kBanned) {
        // Lifting a ban lets the member join again; it is not a member now.
        store_.remove_member(gid, target);
        to_members(gid, membership(gid, target, 1));
    } else {
        store_.set_role(gid, target, action);
    }
}

}  // namespace olvaro::server

// Accounts, groups and seed files: what operators and tests set up.
#include <chrono>
#include <sstream>

#include "core.h"

namespace olvaro::server {

namespace {
bool clean(const std::string& s) {
    for (char c : s)
        if (c == '\n' || c == '\r' || c == '\0') return false;
    return true;
}

std::vector<std::string> split(const std::string& line, char sep) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : line) {
        if (c == sep) {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts.push_back(cur);
    return parts;
}
}  // namespace

int64_t Core::create_account(const NewAccount& account) {
    const std::string& email = account.email;
    if (email.empty() || account.password.empty() || email.find_first_of(" \t") != std::string::npos ||
        !clean(email) || !clean(account.nickname) || !clean(account.status))
        return 0;
    int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    std::string nickname = account.nickname.empty() ? email.substr(0, email.find('@')) : account.nickname;
    int64_t id = store_.add_account(email, account.password, nickname, account.status, account.device_type, now);
    if (id && account.device_type == 1) bots_.push_back(id);
    return id;
}

int64_t Core::create_group(const std::string& name, const std::string& desc, const std::string& password,
                           int64_t admin) {
    if (name.empty() || !clean(name) || !clean(desc)) return 0;
    int64_t id = store_.add_group(name, desc, password);
    if (id && admin && store_.account(admin)) store_.set_role(id, admin, kAdmin);
    return id;
}

bool Core::set_member(int64_t group, int64_t account, int32_t role) {
    if (!store_.group(group) || !store_.account(account) || (role & ~kKnownRoles)) return false;
    store_.set_role(group, account, role);
    return true;
}

bool Core::seed_bulk(int64_t owner, int contacts, int groups, int members) {
    if (!store_.account(owner) || contacts < 0 || groups < 0 || members < 0 || contacts > 1000000 ||
        groups > 100000 || members > 100000)
        return false;
    int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    return store_.seed_bulk(owner, contacts, groups, members, "seed", now);
}

bool Core::push_setting(int64_t account, const std::string& name, const std::string& value) {
    Conn* c = online(account);
    if (!c || name.empty() || !clean(name) || !clean(value) || name.find(':') != std::string::npos) return false;
    Packet s("SETTING");
    s.set("Name", name);
    s.set("Value", value);
    send(*c, s);
    return true;
}

// One record a line, fields separated by "|"; "#" starts a comment line:
//   account|email|password|nickname|status
//   bot|email|password|nickname|status
//   contact|owner email|contact email        (the owner lists the contact)
//   mutual|email|email                       (each lists the other)
//   group|name|description|password
//   member|group name|email|role
bool Core::load_seed(const std::string& text, std::string* error) {
    std::istringstream in(text);
    std::string line;
    int number = 0;
    auto fail = [&](const std::string& why) {
        if (error) *error = "line " + std::to_string(number) + ": " + why;
        return false;
    };
    auto find = [&](const std::string& email) -> int64_t {
        auto a = store_.account_by_email(email);
        return a ? a->id : 0;
    };
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        auto f = split(line, '|');
        f.resize(std::max<size_t>(f.size(), 5));
        const std::string& kind = f[0];
        if (kind == "account" || kind == "bot") {
            if (find(f[1])) continue;  // seeding twice keeps what is there
            if (!create_account({f[1], f[2], f[3], f[4], kind == "bot" ? 1 : 0})) return fail("bad account");
        } else if (kind == "contact" || kind == "mutual") {
            int64_t a = find(f[1]), b = find(f[2]);
            if (!a || !b) return fail("unknown account");
            store_.list(a, b);
            if (kind == "mutual") store_.list(b, a);
        } else if (kind == "group") {
            if (store_.group_by_name(f[1])) continue;
            if (!create_group(f[1], f[2], f[3], 0)) return fail("bad group");
        } else if (kind == "member") {
            auto g = store_.group_by_name(f[1]);
            int64_t a = find(f[2]);
            if (!g || !a) return fail("unknown group or account");
            if (!set_member(g->id, a, int32_t(parse_atoi(f[3])))) return fail("bad role");
        } else {
            return fail("unknown record \"" + kind + "\"");
        }
    }
    return true;
}

bool Core::seed_demo() {
    static const char* kDemo =
        "account|alice@olvaro.demo|demo|Alice|Around all day\n"
        "account|bob@olvaro.demo|demo|Bob|Busy building\n"
        "account|carol@olvaro.demo|demo|Carol|\n"
        "bot|echo@olvaro.demo|demo|Echo|I answer every message\n"
        "mutual|alice@olvaro.demo|bob@olvaro.demo\n"
        "mutual|alice@olvaro.demo|carol@olvaro.demo\n"
        "mutual|bob@olvaro.demo|carol@olvaro.demo\n"
        "mutual|alice@olvaro.demo|echo@olvaro.demo\n"
        "mutual|bob@olvaro.demo|echo@olvaro.demo\n"
        "mutual|carol@olvaro.demo|echo@olvaro.demo\n"
        "group|Lounge|Everyone is welcome|\n"
        "member|Lounge|alice@olvaro.demo|1\n"
        "member|Lounge|bob@olvaro.demo|2\n"
        "member|Lounge|carol@olvaro.demo|0\n"
        "member|Lounge|echo@olvaro.demo|0\n"
        "group|Back Room|Password: demo|demo\n"
        "member|Back Room|alice@olvaro.demo|1\n";
    config_.demo = true;
    return load_seed(kDemo, nullptr);
}

}  // namespace olvaro::server

#include "olvaro_server/server.h"

#include "core.h"

namespace olvaro::server {

Server::Server(Config config) : core_(std::make_unique<Core>(std::move(config))) {}
Server::~Server() { core_->stop(); }

void Server::tidy() { core_->call([&] { core_->tidy(); }); }

size_t Server::queued() {
    size_t n = 0;
    core_->call([&] { n = core_->queued(); });
    return n;
}

bool Server::start(std::string* error) { return core_->start(error); }
void Server::stop() { core_->stop(); }
bool Server::running() const { return core_->running(); }
std::vector<uint16_t> Server::ports() const { return core_->ports(); }
std::vector<uint16_t> Server::tls_ports() const { return core_->tls_ports(); }

int64_t Server::create_account(const NewAccount& account) {
    int64_t id = 0;
    core_->call([&] { id = core_->create_account(account); });
    return id;
}

int64_t Server::account_id(const std::string& email) {
    int64_t id = 0;
    core_->call([&] {
        if (auto a = core_->store().account_by_email(email)) id = a->id;
    });
    return id;
}

bool Server::list_contact(int64_t owner, int64_t contact) {
    bool ok = false;
    core_->call([&] {
        ok = owner != contact && core_->store().account(owner) && core_->store().account(contact);
        if (ok) core_->list_contact(owner, contact);
    });
    return ok;
}

int64_t Server::create_group(const std::string& name, const std::string& description, const std::string& password,
                             int64_t admin) {
    int64_t id = 0;
    core_->call([&] { id = core_->create_group(name, description, password, admin); });
    return id;
}

bool Server::set_member(int64_t group, int64_t account, int32_t role) {
    bool ok = false;
    core_->call([&] { ok = core_->set_member(group, account, role); });
    return ok;
}

bool Server::push_setting(int64_t account, const std::string& name, const std::string& value) {
    bool ok = false;
    core_->call([&] { ok = core_->push_setting(account, name, value); });
    return ok;
}

void Server::set_faults(const Faults& faults) {
    core_->call([&] { core_->config().faults = faults; });
}

void Server::set_lose_chunks(bool on) {
    core_->call([&] { core_->config().faults.lose_chunks = on; });
}

bool Server::seed_bulk(int64_t owner, int contacts, int groups, int members) {
    bool ok = false;
    core_->call([&] { ok = core_->seed_bulk(owner, contacts, groups, members); });
    return ok;
}

bool Server::load_seed(const std::string& text, std::string* error) {
    bool ok = false;
    core_->call([&] { ok = core_->load_seed(text, error); });
    return ok;
}

bool Server::seed_demo() {
    bool ok = false;
    core_->call([&] { ok = core_->seed_demo(); });
    return ok;
}

int64_t Server::bridged_delivered_at(int64_t bridge, uint64_t mesg) {
    int64_t at = 0;
    core_->call([&] { at = core_->bridging().delivered_at(bridge, mesg); });
    return at;
}

size_t Server::signed_in_count() {
    size_t n = 0;
    core_->call([&] { n = core_->signed_in_count(); });
    return n;
}

}  // namespace olvaro::server

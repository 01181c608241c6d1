#include "password_checks.h"

#include <sodium.h>

namespace olvaro::server {

PasswordChecks::PasswordChecks(HashCost cost, size_t most_waiting)
    : cost_(cost), most_waiting_(most_waiting), thread_([this] { run(); }) {}

PasswordChecks::~PasswordChecks() {
    {
        std::lock_guard lock(mu_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

bool PasswordChecks::check(std::string password, std::string salt, std::string stored, Done done) {
    {
        std::lock_guard lock(mu_);
        if (jobs_.size() >= most_waiting_) return false;
        jobs_.push_back({std::move(password), std::move(salt), std::move(stored), std::move(done)});
    }
    wake_.notify_one();
    return true;
}

void PasswordChecks::run() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mu_);
            wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
            if (stopping_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        PasswordMatch match = match_password(job.password, job.salt, job.stored, cost_);
        std::string rehash = match == PasswordMatch::kRightButStale ? hash_password(job.password, cost_) : std::string();
        sodium_memzero(job.password.data(), job.password.size());
        job.done(match, std::move(rehash));
    }
}

}  // namespace olvaro::server

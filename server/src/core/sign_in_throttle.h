#pragma once
// Slows guessing: after a few wrong passwords from one address, further
// sign-ins from it wait a growing time, answered at once with a refusal that
// says when to come back, without the password being tried. The wait is
// kept per address and per address and account pair, so a stranger's wrong
// guesses never keep an account's owner out from anywhere else.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

namespace olvaro::server {

class SignInThrottle {
public:
    using Clock = std::chrono::steady_clock;
    struct Limits {
        int free_per_pair = 3;                    // wrong passwords for one account before any wait
        int free_per_address = 20;                // ... for any accounts (an address may be shared)
        std::chrono::seconds longest{300};        // the wait stops growing here
        std::chrono::minutes forget{15};          // failures this old no longer count
        size_t most_remembered = 100000;          // addresses and pairs kept at most
    };

    SignInThrottle() = default;
    explicit SignInThrottle(Limits limits) : limits_(limits) {}

    // Whole seconds before `address` may try `account` again; 0: now.
    int64_t wait(const std::string& address, const std::string& account, Clock::time_point now);
    void failed(const std::string& address, const std::string& account, Clock::time_point now);
    void succeeded(const std::string& address, const std::string& account);

private:
    struct Failures {
        int count = 0;
        Clock::time_point last;
    };
    using Table = std::unordered_map<std::string, Failures>;
    Clock::duration delay(const Failures& f, int free) const;
    int64_t wait_in(const Table& table, const std::string& key, int free, Clock::time_point now) const;
    void count(Table& table, const std::string& key, Clock::time_point now);
    static std::string pair(const std::string& address, const std::string& account) {
        return address + '\n' + account;
    }

    Limits limits_;
    Table by_address_;  // an address guessing at many accounts
    Table by_pair_;     // an address guessing at one
};

}  // namespace olvaro::server

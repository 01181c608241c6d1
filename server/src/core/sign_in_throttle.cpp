#include "sign_in_throttle.h"

#include <algorithm>

namespace olvaro::server {

SignInThrottle::Clock::duration SignInThrottle::delay(const Failures& f, int free) const {
    int over = f.count - free;
    if (over <= 0) return Clock::duration::zero();
    // 1 s, 2 s, 4 s ... up to the longest wait.
    auto grown = std::chrono::seconds(int64_t(1) << std::min(over - 1, 20));
    return std::min<Clock::duration>(grown, limits_.longest);
}

int64_t SignInThrottle::wait_in(const Table& table, const std::string& key, int free, Clock::time_point now) const {
    auto it = table.find(key);
    if (it == table.end() || now - it->second.last >= limits_.forget) return 0;
    auto left = it->second.last + delay(it->second, free) - now;
    if (left <= Clock::duration::zero()) return 0;
    return std::chrono::ceil<std::chrono::seconds>(left).count();
}

int64_t SignInThrottle::wait(const std::string& address, const std::string& account, Clock::time_point now) {
    return std::max(wait_in(by_address_, address, limits_.free_per_address, now),
                    wait_in(by_pair_, pair(address, account), limits_.free_per_pair, now));
}

void SignInThrottle::count(Table& table, const std::string& key, Clock::time_point now) {
    if (table.size() >= limits_.most_remembered && !table.contains(key)) {
        std::erase_if(table, [&](const auto& entry) { return now - entry.second.last >= limits_.forget; });
        // Still full of fresh failures: the oldest memory goes, never the server.
        if (table.size() >= limits_.most_remembered) table.erase(table.begin());
    }
    Failures& f = table[key];
    if (now - f.last >= limits_.forget) f.count = 0;
    ++f.count;
    f.last = now;
}

void SignInThrottle::failed(const std::string& address, const std::string& account, Clock::time_point now) {
    count(by_address_, address, now);
    count(by_pair_, pair(address, account), now);
}

// Only the pair is forgiven: a right password for one's own account must
// not clear an address's guesses at others.
void SignInThrottle::succeeded(const std::string& address, const std::string& account) {
    by_pair_.erase(pair(address, account));
}

}  // namespace olvaro::server

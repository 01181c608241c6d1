#pragma once
// A password hash costs a tenth of a second by design. Sign-ins check theirs
// on a thread of their own, so the loop goes on serving everyone else; the
// answer comes back through a callback on that thread.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "secrets.h"

namespace olvaro::server {

class PasswordChecks {
public:
    // `rehash`: a new hash to keep when the stored one was right but stale.
    using Done = std::function<void(PasswordMatch match, std::string rehash)>;

    PasswordChecks(HashCost cost, size_t most_waiting);
    ~PasswordChecks();
    PasswordChecks(const PasswordChecks&) = delete;
    PasswordChecks& operator=(const PasswordChecks&) = delete;

    // False, and no call, when too many checks wait already.
    bool check(std::string password, std::string salt, std::string stored, Done done);

private:
    struct Job {
        std::string password, salt, stored;
        Done done;
    };
    void run();

    HashCost cost_;
    size_t most_waiting_;
    std::mutex mu_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace olvaro::server

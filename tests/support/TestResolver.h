#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/net/HostResolver.h"

namespace dovrel::test {

// Answers each name from its table (no address for a name it does not hold). Held, every lookup waits
// until release(), as a resolver that never answers does.
class TestResolver final : public HostResolver {
public:
    explicit TestResolver(std::map<std::string, std::vector<std::string>> table, bool held = false)
        : table_(std::move(table)), held_(held) {}

    std::vector<std::string> addressesOf(const std::string& host) override {
        std::unique_lock lk(lock_);
        ++asked_;
        mostAtOnce = std::max(mostAtOnce.load(), ++inside_);
        changed_.notify_all();
        changed_.wait(lk, [this] { return !held_; });
        --inside_;
        const auto found = table_.find(host);
        return found == table_.end() ? std::vector<std::string>() : found->second;
    }

    void release() {
        const std::lock_guard g(lock_);
        held_ = false;
        changed_.notify_all();
    }

    // Until `count` lookups have begun.
    bool waitForAsked(int count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock lk(lock_);
        return changed_.wait_for(lk, timeout, [&] { return asked_ >= count; });
    }

    std::atomic<int> mostAtOnce = 0;

private:
    const std::map<std::string, std::vector<std::string>> table_;
    std::mutex lock_;
    std::condition_variable changed_;
    bool held_;
    int asked_ = 0;
    int inside_ = 0;
};

} // namespace dovrel::test

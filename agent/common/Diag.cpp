#include "agent/common/Diag.h"

#include <array>
#include <mutex>

namespace dovrel::agent::Diag {

namespace {

struct State {
    std::mutex lock;
    std::array<int64_t, 8> counters{};
    std::array<Instant, 3> stamps{};
};

State& state() {
    static State s;
    return s;
}

} // namespace

void add(Counter c, int64_t n) {
    auto& s = state();
    const std::lock_guard guard(s.lock);
    s.counters[static_cast<std::size_t>(c)] += n;
}

void stamp(Stamp which, Instant at) {
    auto& s = state();
    const std::lock_guard guard(s.lock);
    s.stamps[static_cast<std::size_t>(which)] = at;
}

Instant stampOf(Stamp which) {
    auto& s = state();
    const std::lock_guard guard(s.lock);
    return s.stamps[static_cast<std::size_t>(which)];
}

Tick tick() {
    auto& s = state();
    const std::lock_guard guard(s.lock);
    const auto& c = s.counters;
    const Tick t{c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]};
    s.counters.fill(0);
    return t;
}

} // namespace dovrel::agent::Diag

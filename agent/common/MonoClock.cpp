#include "agent/common/MonoClock.h"

#include <ctime>

namespace dovrel::agent::MonoClock {

namespace {
uint64_t nowNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ULL + static_cast<uint64_t>(ts.tv_nsec);
}
} // namespace

uint64_t base() {
    static const uint64_t b = nowNs();
    return b;
}

uint64_t micros() {
    const uint64_t start = base();
    return (nowNs() - start) / 1000;
}

uint32_t wireMicros() { return static_cast<uint32_t>(micros()); }

} // namespace dovrel::agent::MonoClock

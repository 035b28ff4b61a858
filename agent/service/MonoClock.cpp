#include "agent/service/MonoClock.h"

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

uint32_t wireMicros() {
    const uint64_t start = base();
    return static_cast<uint32_t>((nowNs() - start) / 1000);
}

} // namespace dovrel::agent::MonoClock

#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace dovrel::controller {

// Whether a machine answers at all: a plain TCP connection attempt to one port, where both an
// accepted and a refused connection count as reachable and silence until the time-out does not.
class ReachabilityProbe {
public:
    virtual ~ReachabilityProbe() = default;
    // `done` runs exactly once, on the thread that called probe(), unless the probe is destroyed first.
    virtual void probe(const std::string& host, uint16_t port, std::chrono::milliseconds timeout,
                       std::function<void(bool reachable)> done) = 0;
};

} // namespace dovrel::controller

#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace dovrel::controller {

// What a machine said to one TCP connection attempt on one port.
enum class ProbeAnswer {
    accepted, // something there takes connections on the port
    refused,  // the computer is up, but nothing there listens on the port
    silent,   // no answer before the time-out, or no way to it at all
};

// Whether a machine answers, and whether anything takes connections on the port it is asked about.
class ReachabilityProbe {
public:
    virtual ~ReachabilityProbe() = default;
    // `done` runs exactly once, on the thread that called probe(), unless the probe is destroyed first.
    virtual void probe(const std::string& host, uint16_t port, std::chrono::milliseconds timeout,
                       std::function<void(ProbeAnswer)> done) = 0;
};

} // namespace dovrel::controller

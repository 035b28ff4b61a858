#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "agent/core/RelayEndpoint.h"
#include "agent/core/RelayRegions.h"

namespace dovrel::agent {

// One race for the nearest relay region, on a worker thread of its own (each probe blocks up to its
// time-out), so that start-up and the relay link never wait for it. Create and destroy it on one thread.
class RegionProbe {
public:
    static constexpr double timeoutSeconds = 2.5;

    // `regions` may not be null.
    explicit RegionProbe(std::unique_ptr<RelayRegions> regions) : regions_(std::move(regions)) {}
    ~RegionProbe() { stop(); }
    RegionProbe(const RegionProbe&) = delete;
    RegionProbe& operator=(const RegionProbe&) = delete;

    bool ready() const { return regions_ != nullptr; }
    // Races `endpoints`; `onNearest` gets the first that answers, on the probe's thread, unless nothing
    // answered in time or stop() came first. Once.
    void start(std::vector<RelayEndpoint> endpoints, std::function<void(const RelayEndpoint&)> onNearest);
    // Waits for the race to end, at most about its time-out; its winner is then not reported.
    void stop();

private:
    std::unique_ptr<RelayRegions> regions_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace dovrel::agent

#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "agent/core/RelayEndpoint.h"
#include "agent/core/RelayRegions.h"
#include "runtime/net/HostLookups.h"

namespace dovrel::agent {

// Makes sure a probe reports exactly one result, whichever of its reporters (connected, failed, its
// time-out, a cancel from the race) comes first.
class ProbeLatch {
public:
    // True for the first caller only.
    bool take() {
        const std::lock_guard guard(lock_);
        if (taken_) return false;
        taken_ = true;
        return true;
    }

private:
    std::mutex lock_;
    bool taken_ = false;
};

// Which relay region answers first. Each probe is a plain TCP connection (no TLS) made on a thread of
// its own, "dovrel.regionprobe." followed by the host, with a Qt event loop; the caller blocks. A host
// given by name is looked up through the picker's few lookup threads (HostLookups), and its addresses
// are tried in turn, each within its share of the time left, so that a first address that swallows
// packets (often an IPv6 one) leaves time for the others.
//
// Both calls block until every probe they started has ended, at most about `timeoutSeconds`. Call them
// from a worker thread: never from a probe thread, and not from a thread whose event loop must keep
// running meanwhile (the main thread, "dovrel.net"). The agent runs the race on a background thread and
// hands the winner to the transport, which re-points its relay link on its own queue. A Qt application
// object must exist.
class RegionPicker final : public RelayRegions {
public:
    explicit RegionPicker(std::shared_ptr<HostResolver> resolver);

    // Endpoints with an empty host are dropped. None left: nothing. One left: that one, without a probe.
    // Otherwise all are probed at once and the first whose connection is ready wins; the others are then
    // cancelled. Nothing when no probe connected in time.
    std::optional<RelayEndpoint> nearest(const std::vector<RelayEndpoint>& endpoints, double timeoutSeconds) override;

    // The endpoint when a TCP connection to it is ready within the time-out, else nothing. The connection
    // attempts themselves give up after the whole seconds of the time-out (2 for 2.5); the exact time-out
    // ends the probe in any case.
    std::optional<RelayEndpoint> probe(const RelayEndpoint& endpoint, double timeoutSeconds);

private:
    std::optional<RelayEndpoint> race(const std::vector<RelayEndpoint>& endpoints, double timeoutSeconds);

    HostLookups lookups_;
};

// The agent's region race, on the system's resolver.
std::unique_ptr<RelayRegions> makeRegionPicker();

} // namespace dovrel::agent

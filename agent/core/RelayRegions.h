#pragma once

#include <optional>
#include <vector>

#include "agent/core/RelayEndpoint.h"

namespace dovrel::agent {

// Which relay region answers first. Blocks until every probe it started has ended, at most about
// `timeoutSeconds`: the agent calls it from a worker thread of its own.
class RelayRegions {
public:
    virtual ~RelayRegions() = default;
    // Nothing when no region answered in time.
    virtual std::optional<RelayEndpoint> nearest(const std::vector<RelayEndpoint>& regions, double timeoutSeconds) = 0;
};

} // namespace dovrel::agent

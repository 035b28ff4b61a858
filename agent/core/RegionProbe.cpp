#include "agent/core/RegionProbe.h"

#include "runtime/SignalStack.h"

namespace dovrel::agent {

void RegionProbe::start(std::vector<RelayEndpoint> endpoints, std::function<void(const RelayEndpoint&)> onNearest) {
    thread_ = std::thread([this, endpoints = std::move(endpoints), onNearest = std::move(onNearest)] {
        armSignalStack();
        const std::optional<RelayEndpoint> nearest = regions_->nearest(endpoints, timeoutSeconds);
        if (!nearest || stopping_) return;
        onNearest(*nearest);
    });
}

void RegionProbe::stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
}

} // namespace dovrel::agent

#pragma once

#include <optional>
#include <string>

#include "agent/shell/AppModel.h"

namespace dovrel::agent {

// What the application delegate samples every 2 s and when the window is shown: the model's samples
// and the primary local address. Every call may be slow; the delegate makes them off the main thread.
class RefreshSource : public AppModelSampler {
public:
    // The primary local IPv4 address (the default route's); nothing when there is no network.
    virtual std::optional<std::string> primaryLANIP() = 0;
};

} // namespace dovrel::agent

#pragma once

#include <string>

#include "runtime/ThrottledLog.h"

namespace dovrel::agent {

// The shared throttle (runtime/ThrottledLog.h) writing to the agent's log: for the lines a stranger can
// repeat at will (refused frames, unauthenticated connections and Hellos).
class LogThrottle : public dovrel::ThrottledLog {
public:
    LogThrottle(Scheduler& scheduler, std::string what, int perSecond = 8);
};

} // namespace dovrel::agent

#include "agent/common/LogThrottle.h"

#include "agent/common/AgentLog.h"

namespace dovrel::agent {

LogThrottle::LogThrottle(Scheduler& scheduler, std::string what, int perSecond)
    : dovrel::ThrottledLog(scheduler, std::move(what), perSecond, [](const std::string& line) { agent::print(line); }) {
}

} // namespace dovrel::agent

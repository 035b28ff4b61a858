#pragma once

#include <functional>
#include <string>

#include "agent/common/AgentLog.h"

namespace dovrel::agent {

// Where the shell's services write their log lines, one call per line. Empty: the agent's own
// time-stamped print. Tests hand in a sink that keeps the lines.
using LogSink = std::function<void(const std::string&)>;

inline void logLine(const LogSink& sink, const std::string& line) {
    if (sink)
        sink(line);
    else
        print(line);
}

} // namespace dovrel::agent

#include "agent/common/FatalExit.h"

#include <cstdio>
#include <string>
#include <unistd.h>

#include "agent/common/AgentLog.h"

namespace dovrel::agent {

void exitFatally(std::string_view what) {
    print("!! FATAL: the agent stopped: " + std::string(what));
    print("   exiting so the supervisor starts a fresh one — see " + AgentLog::path());
    std::fflush(stdout);
    std::fflush(stderr);
    ::fsync(STDOUT_FILENO);
    ::_exit(fatalExitStatus);
}

} // namespace dovrel::agent

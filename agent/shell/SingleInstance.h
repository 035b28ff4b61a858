#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "agent/common/UniqueFd.h"
#include "agent/shell/LogSink.h"
#include "agent/shell/Supervisor.h"

namespace dovrel::agent {

// One running copy of the agent per user. The holder of an exclusive lock on ~/.dovrel/agent.lock runs;
// a second copy asks it to show its window and ends. A copy started by hand hands over to the
// supervisor when systemd runs the agent's unit, so that the agent that keeps running is the one
// systemd restarts. The lock lives as long as the process (the system drops it when the process ends).
class LaunchArbiter {
public:
    enum class Decision {
        run = 0,             // this process is the agent
        supervisorHasIt = 1, // systemd started the agent in another process: end with status 0
        alreadyRunning = 2,  // another copy holds the lock and was asked to show its window: status 0
    };

    struct Options {
        std::string stateDirectory;   // ~/.dovrel: the lock file is agent.lock in it
        std::string showWindowSocket; // where the running copy listens for the show-window request
        // How long the hand-off waits for systemd's process: polls, this far apart.
        int handOffPolls = 25;
        std::chrono::milliseconds handOffInterval{200};
        std::chrono::milliseconds showWindowPatience{2000};
        LogSink log;
    };

    LaunchArbiter(Supervisor& supervisor, Options options);

    // Decides once, on the main thread, before the application exists.
    Decision arbitrate();

    // Holds the lock afterwards, or runs unprotected when the lock file cannot be opened at all (true
    // then too). Writes this process's id and a line feed into the file when it takes the lock.
    bool takeLock();
    void releaseLock();
    bool holdsLock() const { return lock_.valid(); }

    // The show-window socket, listening from the moment this copy knew it would run (before it asks
    // systemd anything, which may take seconds), so that no second copy's request is lost. Handed to
    // the window's server once the application exists; invalid when the socket could not be made.
    UniqueFd takeShowWindowListener() { return std::move(listener_); }

    std::string lockPath() const { return options_.stateDirectory + "/agent.lock"; }
    // The show-window socket at its path is this process's: made by it and not given up in a hand-off.
    // Any thread.
    bool ownsShowWindowSocket() const { return ownsSocket_.load(); }

private:
    void listen();
    void stopListening();

    Supervisor& supervisor_;
    Options options_;
    UniqueFd lock_;
    UniqueFd listener_;
    std::atomic<bool> ownsSocket_{false};
};

} // namespace dovrel::agent

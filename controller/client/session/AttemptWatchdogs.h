#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "controller/client/link/OwnerThread.h"
#include "runtime/Scheduler.h"

namespace dovrel::controller {

// The deadlines of one connection attempt, and its number. Reaching the agent has 12 s (on the local
// network until the control connection is up, through the relay until the agent answers Hello); the
// handshake has 45 s from the attempt's first Hello, which re-dials within the attempt do not move.
// Client thread only.
class AttemptWatchdogs {
public:
    // What the client does when a deadline passes.
    class Host {
    public:
        virtual ~Host() = default;
        // The agent was not reached in time; `name` is what was dialled.
        virtual void unreachable(const std::string& name, bool relay) = 0;
        virtual void handshakeOverdue() = 0;
    };

    AttemptWatchdogs(Host& host, Scheduler& clock);
    AttemptWatchdogs(const AttemptWatchdogs&) = delete;
    AttemptWatchdogs& operator=(const AttemptWatchdogs&) = delete;

    // A new attempt: its handshake gets a deadline of its own.
    void begin();
    uint64_t attempt() const { return attempt_; }

    void armReach(const std::string& name, bool relay);
    void reached();
    void stopReach();
    // Once per attempt.
    void armHandshake();
    // The session exists: a later re-dial of it is a new attempt with its own deadline.
    void handshakeDone();
    void stopHandshake();

private:
    Host& host_;
    Scheduler& clock_;
    OwnerThread thread_;
    uint64_t attempt_ = 0;
    bool reached_ = false;
    bool handshakeArmed_ = false;
    std::unique_ptr<Timer> reachTimer_, handshakeTimer_;
};

} // namespace dovrel::controller

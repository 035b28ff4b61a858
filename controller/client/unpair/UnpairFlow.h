#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "controller/client/link/OwnerThread.h"
#include "controller/client/unpair/UnpairOutcome.h"
#include "protocol/RelayIdentity.h"
#include "runtime/Scheduler.h"

namespace dovrel::controller {

class ClientSecurity;

// A machine to unpair: its agent's identifier, and the ways to it a connection would take (its saved
// host on the local network first, the relay behind it only when set).
struct UnpairTarget {
    std::string deviceId;
    std::string host; // empty: the relay alone
    std::string name;
    std::optional<wex::RelayIdentity> relay;
};

// Unpairing a machine: connect to it as a session would, tell its agent to forget this controller,
// and forget its key here, with a 15 s limit and only ever for the machine it was asked for. Armed by
// start(), ended once: by the session with that machine (told()), its time-out, or an attempt that
// cannot tell it or another connect (cancel()). Client thread only.
class UnpairFlow {
public:
    // What the flow asks of the client.
    class Host {
    public:
        virtual ~Host() = default;
        // Dials the machine `room` names as an unpair attempt (at the target's host, then through its relay
        // when set; through the relay alone without a host); the attempt's number.
        virtual uint64_t dialToUnpair(const std::string& room, const UnpairTarget& target) = 0;
        // The number of the client's current attempt.
        virtual uint64_t currentAttempt() const = 0;
        virtual void disconnect() = 0;
        // Runs `fn` on the main thread.
        virtual void onMainThread(std::function<void()> fn) = 0;
    };

    UnpairFlow(Host& host, ClientSecurity& security, Scheduler& clock);
    UnpairFlow(const UnpairFlow&) = delete;
    UnpairFlow& operator=(const UnpairFlow&) = delete;

    // `done` is called once on the main thread with how it ended. A machine not trusted here is only
    // forgotten, and `done` is not called.
    void start(const UnpairTarget& target, std::function<void(UnpairOutcome)> done);
    // Whether the client's current attempt is the one the flow dialled and waits on.
    bool dialled() const;
    // The flow's attempt went on as the client's current one (the host did not answer: the relay stands in).
    void redialled();
    // Whether the session just made with `room` in the current attempt is the one the flow dialled.
    bool isFor(const std::string& room) const;
    // The agent was told: its key is forgotten here and the flow ends as told.
    void told();
    // Another connect ends a flow still waiting for its machine, and so does an attempt that cannot
    // tell it (refused, or answered by another agent), with `why`: its key is forgotten even so.
    void cancel(UnpairOutcome why = UnpairOutcome::unanswered);
    // The machine's agent is still in a session (most often the one this computer has just ended, whose
    // close it has not yet seen): the flow dials it again a moment later, within its time limit.
    void busy();

private:
    void dial();
    void finish(UnpairOutcome outcome);

    Host& host_;
    ClientSecurity& security_;
    Scheduler& clock_;
    OwnerThread thread_;
    struct Pending {
        UnpairTarget target;
        std::string room;
        uint64_t attempt = 0;
        std::function<void(UnpairOutcome)> done;
    };
    std::optional<Pending> pending_;
    std::unique_ptr<Timer> timer_;
    std::unique_ptr<Timer> retry_;
};

} // namespace dovrel::controller

#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "controller/client/OwnerThread.h"
#include "protocol/RelayIdentity.h"
#include "runtime/Scheduler.h"

namespace dovrel::controller {

class ClientSecurity;

// Unpairing a machine: connect to it through the relay, tell its agent to forget this controller,
// and forget its key here, with a 15 s limit and only ever for the machine it was asked for. Armed by
// start(), ended once: by the session with that machine (told()), its time-out, or another connect
// (cancel()). Client thread only.
class UnpairFlow {
public:
    // What the flow asks of the client.
    class Host {
    public:
        virtual ~Host() = default;
        // Dials the machine through the relay as an unpair attempt; the attempt's number.
        virtual uint64_t dialToUnpair(const std::string& room, const std::string& name,
                                      const wex::RelayIdentity& identity) = 0;
        // The number of the client's current attempt.
        virtual uint64_t currentAttempt() const = 0;
        virtual void disconnect() = 0;
        // Runs `fn` on the main thread.
        virtual void onMainThread(std::function<void()> fn) = 0;
    };

    UnpairFlow(Host& host, ClientSecurity& security, Scheduler& clock);
    UnpairFlow(const UnpairFlow&) = delete;
    UnpairFlow& operator=(const UnpairFlow&) = delete;

    // `done` is called once on the main thread: true when the agent was told, false otherwise. A
    // machine not trusted here is only forgotten, and `done` is not called.
    void start(const std::string& deviceId, const std::string& name, const wex::RelayIdentity& identity,
               std::function<void(bool)> done);
    // Whether the session just made with `room` in `attempt` is the one the flow dialled.
    bool isFor(const std::string& room, uint64_t attempt) const;
    // The agent was told: its key is forgotten here and the flow ends with true.
    void told();
    // Another connect ends a flow still waiting for its machine: its key is forgotten even so.
    void cancel();

private:
    void finish(bool told);

    Host& host_;
    ClientSecurity& security_;
    Scheduler& clock_;
    OwnerThread thread_;
    struct Pending {
        std::string room;
        uint64_t attempt = 0;
        std::function<void(bool)> done;
    };
    std::optional<Pending> pending_;
    std::unique_ptr<Timer> timer_;
};

} // namespace dovrel::controller

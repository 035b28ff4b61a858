#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "agent/core/AgentTransport.h"
#include "agent/core/WakeBudget.h"
#include "agent/core/WakeEmitter.h"
#include "protocol/Bytes.h"
#include "protocol/LANInterface.h"
#include "runtime/Scheduler.h"

namespace dovrel::agent {

// The controller's requests to wake another machine on this computer's networks: each one checked
// (a usable hardware address, the budget of wake packets, a network that reaches the machine), the
// magic packet put on the chosen interfaces, and the answer sent back. On "dovrel.net".
class WakeRequests {
public:
    using Interfaces = std::function<std::vector<wex::LANInterface>()>;

    // `interfaces` lists where a wake packet may leave (empty: this machine's); `clock` paces the budget.
    WakeRequests(AgentTransport& transport, std::unique_ptr<WakeEmitter> emitter, Interfaces interfaces,
                 Scheduler& clock);

    // There is an emitter to send with.
    bool canSend() const { return emitter_ != nullptr; }

    // Handles one WakePeer payload; `deviceName` names this computer in the answer.
    void handle(wex::ByteView payload, const std::string& deviceName);

private:
    AgentTransport& transport_;
    std::unique_ptr<WakeEmitter> emitter_;
    Interfaces interfaces_;
    Scheduler& clock_;
    WakeBudget budget_;
};

} // namespace dovrel::agent

#pragma once

#include <functional>
#include <memory>
#include <string>

#include "agent/core/AccountWork.h"
#include "agent/core/AgentAccountHost.h"
#include "agent/core/RelayConfig.h"

namespace dovrel::agent {

// The account work (grants, share codes, sign-in) and the host it reaches the agent through, made once
// start-up knows the device identifier. Until then work() is null: the window's commands do nothing, as
// there is no window yet. Made, started and stopped on the main thread.
class AccountSlot {
public:
    using Make = std::function<std::unique_ptr<AccountWork>(AccountHost& host, RelayConfig& config)>;

    explicit AccountSlot(Make make) : make_(std::move(make)) {}
    AccountSlot(const AccountSlot&) = delete;
    AccountSlot& operator=(const AccountSlot&) = delete;

    bool ready() const { return static_cast<bool>(make_); }
    // Makes the host over `transport`, `observer` and `hooks`, then the work over it and `config`. Once.
    void start(AgentTransport& transport, AgentObserver& observer, const std::string& deviceId,
               AgentAccountHost::Hooks hooks, RelayConfig& config) {
        host_ = std::make_unique<AgentAccountHost>(transport, observer, deviceId, std::move(hooks));
        work_ = make_(*host_, config);
    }
    AccountWork* work() const { return work_.get(); }
    // Ends the work, whose thread calls back into the transport and the observer.
    void stop() { work_.reset(); }

private:
    Make make_;
    std::unique_ptr<AgentAccountHost> host_;
    std::unique_ptr<AccountWork> work_; // after the host it calls
};

} // namespace dovrel::agent

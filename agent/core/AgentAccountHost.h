#pragma once

#include <functional>
#include <string>

#include "agent/core/AccountHost.h"

namespace dovrel::agent {

class AgentObserver;
class AgentTransport;

// The agent's side of the account work: the relay identity lives in the transport (its owner thread
// restarts the link), the pairing code in the agent, the observer on the main thread.
class AgentAccountHost final : public AccountHost {
public:
    struct Hooks {
        std::function<void()> rotatePairingCode;           // thread-safe
        std::function<void(std::function<void()>)> onMain; // posts to the main thread, in order
        std::function<void()> refreshPairingURL;           // main thread
        std::function<std::string()> pairingLink;          // main thread: the whole link now shown
        // A share code hands out `link` for `lifetime`, in place of any earlier one; thread-safe.
        std::function<void(const std::string& link, std::chrono::seconds lifetime)> shared;
        // No share code hands out a link any more; thread-safe.
        std::function<void()> sharesWithdrawn;
    };

    AgentAccountHost(AgentTransport& transport, AgentObserver& observer, std::string deviceId, Hooks hooks);

    wex::RelayIdentity relayIdentity() const override;
    wex::RelayIdentity reRegisterRelay(const std::string& account, const std::string& token) override;
    void rotatePairingCode() override { hooks_.rotatePairingCode(); }
    void dropClient() override;
    void shareCodeIssued(const std::string& payload, std::chrono::seconds lifetime) override {
        hooks_.shared(payload, lifetime);
    }
    void shareCodesWithdrawn() override { hooks_.sharesWithdrawn(); }
    void updateModel(AccountModelChange change, std::function<void(const AccountModelView&)> then) override;

private:
    AgentTransport& transport_;
    AgentObserver& observer_;
    std::string deviceId_;
    Hooks hooks_;
};

} // namespace dovrel::agent

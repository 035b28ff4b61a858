#pragma once

#include <functional>
#include <string>

#include "agent/accounts/AccountHost.h"

namespace dovrel::agent {

class AppModel;
class Transport;

// The agent's side of the account work: the relay identity lives in the transport (its owner thread
// restarts the link), the pairing code in the agent, the model on the main thread.
class AgentAccountHost final : public AccountHost {
public:
    struct Hooks {
        std::function<void()> rotatePairingCode;                 // thread-safe
        std::function<void(std::function<void()>)> onMain;       // posts to the main thread, in order
        std::function<void()> refreshPairingURL;                 // main thread
    };

    AgentAccountHost(Transport& transport, AppModel& model, std::string deviceId, Hooks hooks);

    wex::RelayIdentity relayIdentity() const override;
    wex::RelayIdentity reRegisterRelay(const std::string& account, const std::string& token) override;
    void rotatePairingCode() override { hooks_.rotatePairingCode(); }
    void dropClient() override;
    void updateModel(AccountModelChange change, std::function<void(const AccountModelView&)> then) override;

private:
    Transport& transport_;
    AppModel& model_;
    std::string deviceId_;
    Hooks hooks_;
};

} // namespace dovrel::agent

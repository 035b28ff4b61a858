#pragma once

#include <functional>
#include <string>

#include "agent/core/AgentObserver.h"

namespace dovrel::test {

// The agent's commands as a test sees them: each calls its function when one is set, else does nothing.
class FakeAgentCommands final : public agent::AgentCommands {
public:
    std::function<void(double ttlHours)> onNewGrant;
    std::function<void()> onCancelAllAccess;
    std::function<void()> onDisconnectSession;
    std::function<void()> onCreateShareCode;
    std::function<void(const std::string& account, const std::string& password, bool create, const std::string& invite)>
        onSignIn;
    std::function<void()> onSignOut;
    std::function<void()> onRefreshPairingLink;
    std::function<void(bool shown)> onPairingCodeShown;
    std::function<void()> onNewPairingCode;

    void disconnectSession() override { call(onDisconnectSession); }
    void newGrant(double ttlHours) override {
        if (onNewGrant) onNewGrant(ttlHours);
    }
    void cancelAllAccess() override { call(onCancelAllAccess); }
    void createShareCode() override { call(onCreateShareCode); }
    void signIn(const std::string& account, const std::string& password, bool create,
                const std::string& invite) override {
        if (onSignIn) onSignIn(account, password, create, invite);
    }
    void signOut() override { call(onSignOut); }
    void refreshPairingLink() override { call(onRefreshPairingLink); }
    void pairingCodeShown(bool shown) override {
        if (onPairingCodeShown) onPairingCodeShown(shown);
    }
    void newPairingCode() override { call(onNewPairingCode); }

private:
    static void call(const std::function<void()>& fn) {
        if (fn) fn();
    }
};

} // namespace dovrel::test

#include "agent/core/AgentAccountHost.h"

#include "agent/core/AgentObserver.h"
#include "agent/core/AgentTransport.h"

namespace dovrel::agent {

AgentAccountHost::AgentAccountHost(AgentTransport& transport, AgentObserver& observer, std::string deviceId,
                                   Hooks hooks)
    : transport_(transport), observer_(observer), deviceId_(std::move(deviceId)), hooks_(std::move(hooks)) {}

wex::RelayIdentity AgentAccountHost::relayIdentity() const { return transport_.relayIdentity(); }

wex::RelayIdentity AgentAccountHost::reRegisterRelay(const std::string& account, const std::string& token) {
    wex::RelayIdentity id = transport_.relayIdentity();
    id.account = account;
    id.token = token;
    transport_.setRelayIdentity(id);
    // The link restarts on its owner thread; the account thread does not wait for it.
    transport_.queue().post([t = &transport_, room = deviceId_] { t->startRelay(room); });
    return id;
}

void AgentAccountHost::dropClient() { transport_.dropClient(); }

void AgentAccountHost::updateModel(AccountModelChange c, std::function<void(const AccountModelView&)> then) {
    hooks_.onMain([this, c = std::move(c), then = std::move(then)] {
        observer_.accountChanged(c);
        if (c.refreshPairingURL && hooks_.refreshPairingURL) hooks_.refreshPairingURL();
        if (then) then(AccountModelView{hooks_.pairingLink(), observer_.grantTTLHours()});
    });
}

} // namespace dovrel::agent

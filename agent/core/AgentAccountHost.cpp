#include "agent/core/AgentAccountHost.h"

#include <QDateTime>

#include "agent/core/AppModel.h"
#include "agent/net/Transport.h"

namespace dovrel::agent {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }
QString q(const std::optional<std::string>& s) { return s ? q(*s) : QString(); }
} // namespace

AgentAccountHost::AgentAccountHost(Transport& transport, AppModel& model, std::string deviceId, Hooks hooks)
    : transport_(transport), model_(model), deviceId_(std::move(deviceId)), hooks_(std::move(hooks)) {}

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
        if (c.grantBusy) model_.setGrantBusy(*c.grantBusy);
        if (c.grantError) model_.setGrantError(q(*c.grantError));
        if (c.grantNotice) model_.setGrantNotice(q(*c.grantNotice));
        if (c.grantExpiryText) model_.setGrantExpiryText(q(*c.grantExpiryText));
        if (c.shareCode) model_.setShareCode(q(*c.shareCode));
        if (c.shareCodeNote) model_.setShareCodeNote(q(*c.shareCodeNote));
        if (c.shareCodeExpiresAt)
            model_.setShareCodeExpiresAt(*c.shareCodeExpiresAt ? QDateTime::fromSecsSinceEpoch(**c.shareCodeExpiresAt)
                                                                : QDateTime());
        if (c.shareInFlight) model_.shareInFlight = *c.shareInFlight;
        if (c.account) model_.setAccount(q(*c.account));
        if (c.accountBusy) model_.setAccountBusy(*c.accountBusy);
        if (c.accountError) model_.setAccountError(q(*c.accountError));
        if (c.refreshPairingURL && hooks_.refreshPairingURL) hooks_.refreshPairingURL();
        if (then) then(AccountModelView{model_.pairingURL().toStdString(), model_.grantTTLHours()});
    });
}

} // namespace dovrel::agent

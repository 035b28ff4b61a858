// Unpairing a machine: connect to it through the relay, tell its agent to forget this controller,
// and forget its key here — with a 15 s limit, and only ever for the machine it was asked for.
#include <QMetaObject>

#include "controller/client/ClientCore.h"
#include "controller/client/Hexed.h"
#include "controller/client/WEXClient.h"

namespace dovrel::controller {

using namespace std::chrono_literals;

namespace {
constexpr auto revokeTimeout = 15s;
} // namespace

void ClientCore::revokePairing(const std::string& deviceId, const std::string& name, const wex::RelayIdentity& identity,
                               std::function<void(bool)> done) {
    const std::string room = lowercased(deviceId);
    if (room.empty()) return;
    if (!security_->trustedAgent(room)) {
        security_->forgetAgent(room);
        return;
    }
    // An earlier unpair still waiting for its machine ends here, as any other connect would end it.
    if (revoke_) cancelRevoke();
    revoke_ = PendingRevoke{room, 0, std::move(done)};
    dialRelay(room, name, identity, std::nullopt, true);
    revoke_->attempt = attempt_;
    const uint64_t attempt = attempt_;
    revokeTimer_ = clock_.after(revokeTimeout, [this, attempt, room] {
        revokeTimer_.reset();
        if (!revoke_ || revoke_->attempt != attempt) return;
        security_->forgetAgent(room);
        finishRevoke(false);
        // Ends only its own attempt: a session the user started since then is not touched.
        if (attempt_ == attempt) disconnect();
    });
}

void ClientCore::cancelRevoke() {
    if (!revoke_) return;
    security_->forgetAgent(revoke_->room);
    finishRevoke(false);
}

void ClientCore::finishRevoke(bool told) {
    if (!revoke_) return;
    auto done = std::move(revoke_->done);
    revoke_.reset();
    revokeTimer_.reset();
    if (!done) return;
    post([done = std::move(done), told](WEXClient&) { done(told); });
}

} // namespace dovrel::controller

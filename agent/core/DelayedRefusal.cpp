#include "agent/core/DelayedRefusal.h"

namespace dovrel::agent {

void DelayedRefusal::answerLater(wex::Bytes authFail, Duration delay) {
    const AgentTransport::ClientId client = transport_.currentClient();
    dropTimer_.reset();
    answerTimer_ = clock_.after(delay, [this, client, authFail = std::move(authFail)] {
        if (transport_.currentClient() != client || transport_.hasSession()) return;
        transport_.sendControl(authFail, wex::ControlType::authFail);
        dropTimer_ = clock_.after(dropAfter, [this, client] {
            if (transport_.currentClient() == client && !transport_.hasSession()) transport_.dropClient();
        });
    });
}

} // namespace dovrel::agent

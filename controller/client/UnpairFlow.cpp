#include "controller/client/UnpairFlow.h"

#include "controller/client/ClientSecurity.h"
#include "controller/client/Hexed.h"

namespace dovrel::controller {

using namespace std::chrono_literals;

namespace {
constexpr auto unpairTimeout = 15s;
} // namespace

UnpairFlow::UnpairFlow(Host& host, ClientSecurity& security, Scheduler& clock)
    : host_(host), security_(security), clock_(clock) {}

void UnpairFlow::start(const std::string& deviceId, const std::string& name, const wex::RelayIdentity& identity,
                       std::function<void(bool)> done) {
    thread_.check(__func__);
    const std::string room = lowercased(deviceId);
    if (room.empty()) return;
    if (!security_.trustedAgent(room)) {
        security_.forgetAgent(room);
        return;
    }
    // An earlier unpair still waiting for its machine ends here, as any other connect would end it.
    cancel();
    pending_ = Pending{room, 0, std::move(done)};
    const uint64_t attempt = host_.dialToUnpair(room, name, identity);
    pending_->attempt = attempt;
    timer_ = clock_.after(unpairTimeout, [this, attempt, room] {
        timer_.reset();
        if (!pending_ || pending_->attempt != attempt) return;
        security_.forgetAgent(room);
        finish(false);
        // Ends only its own attempt: a session the user started since then is not touched.
        if (host_.currentAttempt() == attempt) host_.disconnect();
    });
}

bool UnpairFlow::isFor(const std::string& room, uint64_t attempt) const {
    thread_.check(__func__);
    return pending_ && pending_->room == room && pending_->attempt == attempt;
}

void UnpairFlow::told() {
    thread_.check(__func__);
    if (!pending_) return;
    security_.forgetAgent(pending_->room);
    finish(true);
}

void UnpairFlow::cancel() {
    thread_.check(__func__);
    if (!pending_) return;
    security_.forgetAgent(pending_->room);
    finish(false);
}

void UnpairFlow::finish(bool told) {
    auto done = std::move(pending_->done);
    pending_.reset();
    timer_.reset();
    if (!done) return;
    host_.onMainThread([done = std::move(done), told] { done(told); });
}

} // namespace dovrel::controller

#include "controller/client/UnpairFlow.h"

#include "controller/client/ClientSecurity.h"
#include "controller/client/Hexed.h"

namespace dovrel::controller {

using namespace std::chrono_literals;

namespace {
constexpr auto unpairTimeout = 15s;
constexpr auto busyRetry = 1s;
} // namespace

UnpairFlow::UnpairFlow(Host& host, ClientSecurity& security, Scheduler& clock)
    : host_(host), security_(security), clock_(clock) {}

void UnpairFlow::start(const UnpairTarget& target, std::function<void(bool)> done) {
    thread_.check(__func__);
    const std::string room = lowercased(target.deviceId);
    if (room.empty()) return;
    if (!security_.trustedAgent(room)) {
        security_.forgetAgent(room);
        return;
    }
    // An earlier unpair still waiting for its machine ends here, as any other connect would end it.
    cancel();
    pending_ = Pending{target, room, 0, std::move(done)};
    pending_->attempt = host_.dialToUnpair(room, target.host, target.name, target.relay);
    // Any ending of this flow drops the timer, so when it fires the flow is still this one.
    timer_ = clock_.after(unpairTimeout, [this] {
        timer_.reset();
        if (!pending_) return;
        const uint64_t attempt = pending_->attempt;
        security_.forgetAgent(pending_->room);
        finish(false);
        // Ends only its own attempt: a session the user started since then is not touched.
        if (host_.currentAttempt() == attempt) host_.disconnect();
    });
}

bool UnpairFlow::dialled(uint64_t attempt) const {
    thread_.check(__func__);
    return pending_ && pending_->attempt == attempt;
}

void UnpairFlow::redialled(uint64_t attempt) {
    thread_.check(__func__);
    if (pending_) pending_->attempt = attempt;
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

void UnpairFlow::busy() {
    thread_.check(__func__);
    if (!pending_) return;
    retry_ = clock_.after(busyRetry, [this] {
        retry_.reset();
        if (!pending_) return;
        const UnpairTarget& t = pending_->target;
        pending_->attempt = host_.dialToUnpair(pending_->room, t.host, t.name, t.relay);
    });
}

void UnpairFlow::finish(bool told) {
    auto done = std::move(pending_->done);
    pending_.reset();
    timer_.reset();
    retry_.reset();
    if (!done) return;
    host_.onMainThread([done = std::move(done), told] { done(told); });
}

} // namespace dovrel::controller

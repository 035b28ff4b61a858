#include "controller/client/unpair/UnpairFlow.h"

#include "controller/client/link/ClientSecurity.h"
#include "controller/client/link/Hexed.h"

namespace dovrel::controller {

using namespace std::chrono_literals;

namespace {
constexpr auto unpairTimeout = 15s;
constexpr auto busyRetry = 1s;
} // namespace

UnpairFlow::UnpairFlow(Host& host, ClientSecurity& security, Scheduler& clock)
    : host_(host), security_(security), clock_(clock) {}

void UnpairFlow::start(const UnpairTarget& target, std::function<void(UnpairOutcome)> done) {
    thread_.check(__func__);
    const std::string room = lowercased(target.deviceId);
    if (room.empty()) return;
    if (!security_.trustedAgent(room)) {
        security_.forgetAgent(room);
        return;
    }
    // An earlier unpair still waiting for its machine ends here, as any other connect would end it.
    cancel(UnpairOutcome::interrupted);
    pending_ = Pending{target, room, 0, std::move(done)};
    dial();
    // Any ending of this flow drops the timer, so when it fires the flow is still this one.
    timer_ = clock_.after(unpairTimeout, [this] {
        timer_.reset();
        const uint64_t attempt = pending_->attempt;
        cancel();
        // Ends only its own attempt: a session the user started since then is not touched.
        if (host_.currentAttempt() == attempt) host_.disconnect();
    });
}

void UnpairFlow::dial() { pending_->attempt = host_.dialToUnpair(pending_->room, pending_->target); }

bool UnpairFlow::dialled() const {
    thread_.check(__func__);
    return pending_ && pending_->attempt == host_.currentAttempt();
}

void UnpairFlow::redialled() {
    thread_.check(__func__);
    if (pending_) pending_->attempt = host_.currentAttempt();
}

bool UnpairFlow::isFor(const std::string& room) const {
    thread_.check(__func__);
    return dialled() && pending_->room == room;
}

void UnpairFlow::told() {
    thread_.check(__func__);
    if (!pending_) return;
    security_.forgetAgent(pending_->room);
    finish(UnpairOutcome::told);
}

void UnpairFlow::cancel(UnpairOutcome why) {
    thread_.check(__func__);
    if (!pending_) return;
    security_.forgetAgent(pending_->room);
    finish(why);
}

void UnpairFlow::busy() {
    thread_.check(__func__);
    if (!pending_) return;
    // Any ending of this flow drops the retry too.
    retry_ = clock_.after(busyRetry, [this] {
        retry_.reset();
        dial();
    });
}

void UnpairFlow::finish(UnpairOutcome outcome) {
    auto done = std::move(pending_->done);
    pending_.reset();
    timer_.reset();
    retry_.reset();
    if (!done) return;
    host_.onMainThread([done = std::move(done), outcome] { done(outcome); });
}

} // namespace dovrel::controller

#include "controller/client/session/AttemptWatchdogs.h"

namespace dovrel::controller {

using namespace std::chrono_literals;

namespace {
constexpr auto reachTimeout = 12s;
constexpr auto handshakeTimeout = 45s;
} // namespace

AttemptWatchdogs::AttemptWatchdogs(Host& host, Scheduler& clock) : host_(host), clock_(clock) {}

void AttemptWatchdogs::begin() {
    thread_.check(__func__);
    ++attempt_;
    handshakeArmed_ = false;
}

void AttemptWatchdogs::armReach(const std::string& name, bool relay) {
    thread_.check(__func__);
    reached_ = false;
    reachTimer_ = clock_.after(reachTimeout, [this, name, relay] {
        reachTimer_.reset();
        if (reached_) return;
        handshakeTimer_.reset();
        host_.unreachable(name, relay);
    });
}

void AttemptWatchdogs::reached() {
    thread_.check(__func__);
    reached_ = true;
    reachTimer_.reset();
}

void AttemptWatchdogs::stopReach() {
    thread_.check(__func__);
    reachTimer_.reset();
}

void AttemptWatchdogs::armHandshake() {
    thread_.check(__func__);
    if (handshakeArmed_) return;
    handshakeArmed_ = true;
    handshakeTimer_ = clock_.after(handshakeTimeout, [this] {
        handshakeTimer_.reset();
        host_.handshakeOverdue();
    });
}

void AttemptWatchdogs::handshakeDone() {
    thread_.check(__func__);
    handshakeTimer_.reset();
    handshakeArmed_ = false;
}

void AttemptWatchdogs::stopHandshake() {
    thread_.check(__func__);
    handshakeTimer_.reset();
}

} // namespace dovrel::controller

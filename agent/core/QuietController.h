#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "runtime/Scheduler.h"

namespace dovrel::agent {

// Tells when the controller of a session has gone quiet: nothing heard from it for `after`, while it
// pings every second when all is well. Told once per quiet spell; the next message starts a new one.
// Owned by "dovrel.net", whose clock it uses.
class QuietController {
public:
    static constexpr std::chrono::seconds after{3};
    static constexpr std::chrono::milliseconds checkEvery{500};

    QuietController(Scheduler& clock, std::function<void()> quiet) : clock_(clock), quiet_(std::move(quiet)) {}

    // A session begins: watched from now on.
    void start();
    // The session is over: nothing is told any more.
    void stop() { timer_.reset(); }
    // Something came from the controller.
    void heard() { last_ = clock_.now(); }

private:
    void check();

    Scheduler& clock_;
    std::function<void()> quiet_;
    Instant last_{};
    bool told_ = false;
    std::unique_ptr<Timer> timer_;
};

} // namespace dovrel::agent

#pragma once

#include <chrono>
#include <memory>

#include "agent/core/AgentTransport.h"
#include "protocol/Bytes.h"
#include "runtime/Scheduler.h"

namespace dovrel::agent {

// A refused client's answer: its AuthFail after the refusal's wait, and its drop shortly after. Both act
// only on the connection they were meant for, and only while it is still unauthenticated. One refusal
// at a time: a newer one replaces what an older one still had to do. On "dovrel.net".
class DelayedRefusal {
public:
    static constexpr std::chrono::milliseconds dropAfter{200};

    DelayedRefusal(AgentTransport& transport, Scheduler& clock) : transport_(transport), clock_(clock) {}

    // Answers the current client with `authFail` once `delay` has passed.
    void answerLater(wex::Bytes authFail, Duration delay);
    // Nothing more is sent or dropped.
    void cancel() {
        answerTimer_.reset();
        dropTimer_.reset();
    }

private:
    AgentTransport& transport_;
    Scheduler& clock_;
    std::unique_ptr<Timer> answerTimer_;
    std::unique_ptr<Timer> dropTimer_;
};

} // namespace dovrel::agent

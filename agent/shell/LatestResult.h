#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include <QObject>
#include <QThreadPool>

#include "runtime/SignalStack.h"

namespace dovrel::agent {

// Runs slow probes (child processes, the X server, the interface list) off the main thread and hands
// each result to the main thread in one call. Results may come back in any order: one is applied only
// when no result of a later run has been applied already, so an older answer never overwrites a newer
// one. At most two probes run at once: while both hang (a stuck X server, a tool that never ends) a new
// run is dropped instead of queued, so waiting work never piles up. Create, run and destroy on the main
// thread; destruction waits for probes still running.
template <typename Result> class LatestResult {
public:
    static constexpr int maxInFlight = 2;

    LatestResult() : context_(std::make_unique<QObject>()) { pool_.setMaxThreadCount(maxInFlight); }
    // Waits for running probes; their results, still queued for the main thread, go with the context.
    ~LatestResult() {
        pool_.waitForDone();
        context_.reset();
    }
    LatestResult(const LatestResult&) = delete;
    LatestResult& operator=(const LatestResult&) = delete;

    // Blocks until the probes now running have finished; their results then wait in the main thread's
    // event queue.
    void waitForProbes() { pool_.waitForDone(); }

    // False when the run was dropped because both probes are still busy.
    bool run(std::function<Result()> probe, std::function<void(const Result&)> apply) {
        if (inFlight_ >= maxInFlight) return false;
        ++inFlight_;
        const uint64_t ticket = ++issued_;
        QObject* context = context_.get();
        pool_.start([this, context, ticket, probe = std::move(probe), apply = std::move(apply)] {
            armSignalStack();
            Result result = probe();
            QMetaObject::invokeMethod(
                context,
                [this, ticket, apply, result = std::move(result)] {
                    --inFlight_;
                    if (ticket <= applied_) return;
                    applied_ = ticket;
                    apply(result);
                },
                Qt::QueuedConnection);
        });
        return true;
    }

private:
    std::unique_ptr<QObject> context_; // lives on the main thread; the results' way there
    QThreadPool pool_;
    uint64_t issued_ = 0;  // main thread
    uint64_t applied_ = 0; // main thread
    int inFlight_ = 0;     // main thread: runs whose result has not reached it yet
};

} // namespace dovrel::agent

#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include <QObject>
#include <QThreadPool>

namespace dovrel::agent {

// Runs slow probes (child processes, the X server, the interface list) off the main thread and hands
// each result to the main thread in one call. Results may come back in any order: one is applied only
// when no result of a later run has been applied already, so an older answer never overwrites a newer
// one. Create, run and destroy on the main
// thread; destruction waits for probes still running.
template <typename Result> class LatestResult {
public:
    LatestResult() : context_(std::make_unique<QObject>()) { pool_.setMaxThreadCount(2); }
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

    void run(std::function<Result()> probe, std::function<void(const Result&)> apply) {
        const uint64_t ticket = ++issued_;
        QObject* context = context_.get();
        pool_.start([this, context, ticket, probe = std::move(probe), apply = std::move(apply)] {
            Result result = probe();
            QMetaObject::invokeMethod(
                context,
                [this, ticket, apply, result = std::move(result)] {
                    if (ticket <= applied_) return;
                    applied_ = ticket;
                    apply(result);
                },
                Qt::QueuedConnection);
        });
    }

private:
    std::unique_ptr<QObject> context_; // lives on the main thread; the results' way there
    QThreadPool pool_;
    uint64_t issued_ = 0;  // main thread
    uint64_t applied_ = 0; // main thread
};

} // namespace dovrel::agent

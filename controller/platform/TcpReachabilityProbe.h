#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include <QObject>
#include <QPointer>

#include "controller/platform/ReachabilityProbe.h"
#include "runtime/SerialQueue.h"
#include "runtime/net/HostLookups.h"

namespace dovrel {
class Scheduler;
}

namespace dovrel::controller {

// Probes with QTcpSocket on a background thread of its own ("dovrel.reach"); a host name is looked up
// through `resolver` and its addresses tried in turn. Results return to the caller's thread by a queued
// call. The time-out runs on `clock`, which is used on the background thread only.
class TcpReachabilityProbe final : public ReachabilityProbe {
public:
    TcpReachabilityProbe(Scheduler& clock, std::shared_ptr<HostResolver> resolver);
    ~TcpReachabilityProbe() override;

    void probe(const std::string& host, uint16_t port, std::chrono::milliseconds timeout,
               std::function<void(ProbeAnswer)> done) override;

    // Runs `fn` on the probes' thread and waits (tests move a fake clock there).
    void runOnProbeThread(const std::function<void()>& fn) { queue_.sync(fn); }

private:
    struct Attempt;
    void finishLocked(uint64_t id, ProbeAnswer answer);

    Scheduler& clock_;
    HostLookups lookups_;
    std::unique_ptr<QObject> replyContext_; // lives on the constructing thread; results are delivered through it
    std::map<uint64_t, std::unique_ptr<Attempt>> attempts_; // probes' thread only
    uint64_t nextId_ = 0;                                   // probes' thread only
    SerialQueue queue_{"dovrel.reach"};
};

} // namespace dovrel::controller

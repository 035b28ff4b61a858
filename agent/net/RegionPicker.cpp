#include "agent/net/RegionPicker.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <QEventLoop>
#include <QHostAddress>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include "runtime/SignalStack.h"

namespace dovrel::agent {

namespace {

// What the probes of one race share with the waiting caller.
struct Race {
    std::mutex lock;
    std::condition_variable changed;
    std::size_t running = 0;
    std::optional<RelayEndpoint> winner;
};

int milliseconds(double seconds) {
    return static_cast<int>(std::clamp(std::llround(seconds * 1000.0), 0LL, 24LL * 3600 * 1000));
}

// One probe on a thread of its own ("dovrel.regionprobe." and the host) that runs an event loop for the
// probe's socket and timers. Every reporter runs on that thread; the latch lets only the first one
// deliver, and delivering tears the connection down and ends the loop. The socket, timers and loop
// live on the thread's stack, so they are gone, on their own thread, when the thread ends.
class Probe {
public:
    Probe(RelayEndpoint endpoint, double timeoutSeconds, HostLookups& lookups,
          std::function<void(std::optional<RelayEndpoint>)> done)
        : endpoint_(std::move(endpoint)), timeout_(timeoutSeconds), lookups_(lookups), done_(std::move(done)) {}

    ~Probe() {
        if (thread_) thread_->wait();
    }

    void start() {
        thread_.reset(QThread::create([this] {
            armSignalStack();
            run();
        }));
        thread_->setObjectName(QString::fromStdString("dovrel.regionprobe." + endpoint_.host));
        thread_->start();
    }

    // Asks the probe to give up; it then reports nothing (unless it already reported). Any thread.
    void cancel() {
        const std::lock_guard guard(controlLock_);
        cancelled_ = true;
        if (control_)
            QMetaObject::invokeMethod(
                control_, [this] { finish_(std::nullopt); }, Qt::QueuedConnection);
    }

private:
    void run() {
        QEventLoop loop;
        QTcpSocket socket;
        QObject control;
        bool ended = false;
        finish_ = [&](std::optional<RelayEndpoint> result) {
            if (!latch_.take()) return;
            ended = true;
            QObject::disconnect(&socket, nullptr, nullptr, nullptr);
            socket.abort();
            done_(std::move(result));
            loop.quit();
        };
        {
            const std::lock_guard guard(controlLock_);
            if (cancelled_) {
                finish_(std::nullopt);
                return;
            }
            control_ = &control;
        }
        // The connection attempts' own time-out is whole seconds, as a system connect time-out is; below
        // one second only the probe's time-out applies. Each address in turn gets its share of what is
        // left of it, the last one all the rest.
        const double whole = std::floor(timeout_);
        const auto connectEnds =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds(whole >= 1.0 ? whole : timeout_));
        QTimer attemptLimit;
        QTimer probeLimit;
        attemptLimit.setSingleShot(true);
        probeLimit.setSingleShot(true);
        probeLimit.setTimerType(Qt::PreciseTimer);
        std::vector<QHostAddress> addresses;
        std::size_t next = 0;
        const auto tryNext = [&] {
            if (ended) return;
            if (next >= addresses.size()) return finish_(std::nullopt);
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(connectEnds - std::chrono::steady_clock::now());
            attemptLimit.start(std::max<std::chrono::milliseconds>(left / static_cast<int>(addresses.size() - next),
                                                                   std::chrono::milliseconds(1)));
            socket.abort();
            socket.connectToHost(addresses[next++], endpoint_.port);
        };
        QObject::connect(&socket, &QTcpSocket::connected, &control, [this] { finish_(endpoint_); });
        // An error of an attempt already given up on says nothing about the one under way.
        QObject::connect(&socket, &QTcpSocket::errorOccurred, &control, [&] {
            QMetaObject::invokeMethod(
                &control,
                [&, failed = next] {
                    if (failed == next) tryNext();
                },
                Qt::QueuedConnection);
        });
        QObject::connect(&attemptLimit, &QTimer::timeout, &control, tryNext);
        QObject::connect(&probeLimit, &QTimer::timeout, &control, [this] { finish_(std::nullopt); });
        probeLimit.start(milliseconds(timeout_));
        std::shared_ptr<HostLookups::Lookup> lookup;
        if (const QHostAddress literal(QString::fromStdString(endpoint_.host)); !literal.isNull()) {
            addresses.push_back(literal);
            tryNext();
        } else {
            lookup = lookups_.start(endpoint_.host, &control, [&](std::vector<std::string> found) {
                for (const std::string& text : found)
                    if (const QHostAddress address(QString::fromStdString(text)); !address.isNull())
                        addresses.push_back(address);
                tryNext();
            });
        }
        if (!ended) loop.exec(); // a result may already have come while connecting
        if (lookup) lookup->forget();
        const std::lock_guard guard(controlLock_);
        control_ = nullptr; // a cancel posted from now on finds nothing to post to
    }

    RelayEndpoint endpoint_;
    double timeout_;
    HostLookups& lookups_;
    std::function<void(std::optional<RelayEndpoint>)> done_;
    ProbeLatch latch_;
    std::function<void(std::optional<RelayEndpoint>)> finish_; // set and called on the probe's thread
    std::mutex controlLock_;
    QObject* control_ = nullptr;
    bool cancelled_ = false;
    std::unique_ptr<QThread> thread_;
};

} // namespace

RegionPicker::RegionPicker(std::shared_ptr<HostResolver> resolver) : lookups_(std::move(resolver)) {}

std::optional<RelayEndpoint> RegionPicker::race(const std::vector<RelayEndpoint>& endpoints, double timeoutSeconds) {
    Race state;
    state.running = endpoints.size();
    std::vector<std::unique_ptr<Probe>> probes;
    probes.reserve(endpoints.size());
    // The probes exist before any starts, so that the first winner can cancel all the others.
    for (const RelayEndpoint& endpoint : endpoints) {
        probes.push_back(std::make_unique<Probe>(endpoint, timeoutSeconds, lookups_, [&state, &probes](auto result) {
            bool firstWinner = false;
            {
                const std::lock_guard guard(state.lock);
                if (result && !state.winner) {
                    state.winner = std::move(result);
                    firstWinner = true;
                }
            }
            // Cancel before counting this probe as ended: until then the caller cannot return and
            // destroy the probes being cancelled.
            if (firstWinner)
                for (const auto& p : probes)
                    p->cancel();
            const std::lock_guard guard(state.lock);
            --state.running;
            state.changed.notify_all();
        }));
    }
    for (const auto& p : probes)
        p->start();
    {
        std::unique_lock guard(state.lock);
        state.changed.wait(guard, [&] { return state.running == 0; });
    }
    probes.clear(); // joins every probe thread before `state` goes
    return state.winner;
}

std::optional<RelayEndpoint> RegionPicker::nearest(const std::vector<RelayEndpoint>& endpoints, double timeoutSeconds) {
    std::vector<RelayEndpoint> candidates;
    for (const RelayEndpoint& e : endpoints)
        if (!e.host.empty()) candidates.push_back(e);
    if (candidates.empty()) return std::nullopt;
    if (candidates.size() == 1) return candidates.front();
    return race(candidates, timeoutSeconds);
}

std::optional<RelayEndpoint> RegionPicker::probe(const RelayEndpoint& endpoint, double timeoutSeconds) {
    if (endpoint.host.empty()) return std::nullopt;
    return race({endpoint}, timeoutSeconds);
}

std::unique_ptr<RelayRegions> makeRegionPicker() { return std::make_unique<RegionPicker>(makeSystemResolver()); }

} // namespace dovrel::agent

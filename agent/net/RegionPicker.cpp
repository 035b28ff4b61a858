#include "agent/net/RegionPicker.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <netdb.h>
#include <sys/socket.h>

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

// A host name's addresses, looked up on a thread of its own that is left to finish by itself when the
// probe ends first (a lookup cannot be interrupted). Not Qt's lookups: they run on its network
// library's own threads, and one still running as the program ends crashes that library's clean-up at
// exit, which a race's cancelled probes made likely.
class NameLookup {
public:
    // `done` runs on `receiver`'s thread with the addresses (none when the name has none), unless
    // forget() came first.
    static std::shared_ptr<NameLookup> start(const std::string& host, QObject* receiver,
                                             std::function<void(std::vector<QHostAddress>)> done) {
        auto lookup = std::shared_ptr<NameLookup>(new NameLookup(receiver, std::move(done)));
        std::thread([lookup, host] {
            armSignalStack();
            std::vector<QHostAddress> found;
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* list = nullptr;
            if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) == 0) {
                for (const addrinfo* a = list; a; a = a->ai_next)
                    if (QHostAddress address(a->ai_addr); !address.isNull()) found.push_back(address);
                ::freeaddrinfo(list);
            }
            lookup->deliver(std::move(found));
        }).detach();
        return lookup;
    }

    // Nothing is delivered from now on. On the receiver's thread.
    void forget() {
        const std::lock_guard guard(lock_);
        receiver_ = nullptr;
    }

private:
    NameLookup(QObject* receiver, std::function<void(std::vector<QHostAddress>)> done)
        : receiver_(receiver), done_(std::move(done)) {}

    void deliver(std::vector<QHostAddress> found) {
        const std::lock_guard guard(lock_);
        if (receiver_)
            QMetaObject::invokeMethod(
                receiver_, [done = done_, found = std::move(found)] { done(found); }, Qt::QueuedConnection);
    }

    std::mutex lock_;
    QObject* receiver_;
    const std::function<void(std::vector<QHostAddress>)> done_;
};

// One probe on a thread of its own ("dovrel.regionprobe." and the host) that runs an event loop for the
// probe's socket and timers. Every reporter runs on that thread; the latch lets only the first one
// deliver, and delivering tears the connection down and ends the loop. The socket, timers and loop
// live on the thread's stack, so they are gone, on their own thread, when the thread ends.
class Probe {
public:
    Probe(RelayEndpoint endpoint, double timeoutSeconds, std::function<void(std::optional<RelayEndpoint>)> done)
        : endpoint_(std::move(endpoint)), timeout_(timeoutSeconds), done_(std::move(done)) {}

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
        // Each of the name's addresses in turn, until one takes the connection.
        std::vector<QHostAddress> addresses;
        std::size_t next = 0;
        const auto tryNext = [&] {
            if (ended) return;
            if (next >= addresses.size()) return finish_(std::nullopt);
            socket.abort();
            socket.connectToHost(addresses[next++], endpoint_.port);
        };
        QObject::connect(&socket, &QTcpSocket::connected, &control, [this] { finish_(endpoint_); });
        QObject::connect(&socket, &QTcpSocket::errorOccurred, &control,
                         [&] { QMetaObject::invokeMethod(&control, tryNext, Qt::QueuedConnection); });
        // The connection attempt's own time-out is whole seconds, as a system connect time-out is; below
        // one second only the probe's time-out applies.
        QTimer connectLimit;
        QTimer probeLimit;
        connectLimit.setSingleShot(true);
        probeLimit.setSingleShot(true);
        probeLimit.setTimerType(Qt::PreciseTimer);
        QObject::connect(&connectLimit, &QTimer::timeout, &control, [this] { finish_(std::nullopt); });
        QObject::connect(&probeLimit, &QTimer::timeout, &control, [this] { finish_(std::nullopt); });
        const double whole = std::floor(timeout_);
        if (whole >= 1.0) connectLimit.start(milliseconds(whole));
        probeLimit.start(milliseconds(timeout_));
        std::shared_ptr<NameLookup> lookup;
        if (const QHostAddress literal(QString::fromStdString(endpoint_.host)); !literal.isNull()) {
            addresses.push_back(literal);
            tryNext();
        } else {
            lookup = NameLookup::start(endpoint_.host, &control, [&](std::vector<QHostAddress> found) {
                addresses = std::move(found);
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
    std::function<void(std::optional<RelayEndpoint>)> done_;
    ProbeLatch latch_;
    std::function<void(std::optional<RelayEndpoint>)> finish_; // set and called on the probe's thread
    std::mutex controlLock_;
    QObject* control_ = nullptr;
    bool cancelled_ = false;
    std::unique_ptr<QThread> thread_;
};

std::optional<RelayEndpoint> race(const std::vector<RelayEndpoint>& endpoints, double timeoutSeconds) {
    Race state;
    state.running = endpoints.size();
    std::vector<std::unique_ptr<Probe>> probes;
    probes.reserve(endpoints.size());
    // The probes exist before any starts, so that the first winner can cancel all the others.
    for (const RelayEndpoint& endpoint : endpoints) {
        probes.push_back(std::make_unique<Probe>(endpoint, timeoutSeconds, [&state, &probes](auto result) {
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

} // namespace

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

namespace {

class RegionRace final : public RelayRegions {
public:
    std::optional<RelayEndpoint> nearest(const std::vector<RelayEndpoint>& regions, double timeoutSeconds) override {
        return RegionPicker::nearest(regions, timeoutSeconds);
    }
};

} // namespace

std::unique_ptr<RelayRegions> makeRegionPicker() { return std::make_unique<RegionRace>(); }

} // namespace dovrel::agent

#include "controller/platform/TcpReachabilityProbe.h"

#include <QMetaObject>
#include <QString>
#include <QTcpSocket>

#include "runtime/Scheduler.h"
#include "runtime/net/HostDial.h"

namespace dovrel::controller {

// One connection attempt on the probes' thread; whichever of the socket and the time-out answers
// first finishes it, and nothing after that.
struct TcpReachabilityProbe::Attempt {
    QPointer<QTcpSocket> socket; // a child of the queue's context, released with deleteLater
    HostDial::Ptr dial;
    std::unique_ptr<Timer> timeout;
    QPointer<QObject> back;
    std::function<void(ProbeAnswer)> done;
};

TcpReachabilityProbe::TcpReachabilityProbe(Scheduler& clock, std::shared_ptr<HostResolver> resolver)
    : clock_(clock), lookups_(std::move(resolver)), replyContext_(std::make_unique<QObject>()) {}

TcpReachabilityProbe::~TcpReachabilityProbe() {
    // Attempts still running are dropped on their own thread; their callers hear nothing.
    queue_.sync([this] {
        for (auto& [id, attempt] : attempts_)
            if (attempt->socket) attempt->socket->abort();
        attempts_.clear();
    });
}

void TcpReachabilityProbe::probe(const std::string& host, uint16_t port, std::chrono::milliseconds timeout,
                                 std::function<void(ProbeAnswer)> done) {
    QPointer<QObject> back(replyContext_.get());
    queue_.post([this, host, port, timeout, back, done = std::move(done)]() mutable {
        const uint64_t id = nextId_++;
        auto attempt = std::make_unique<Attempt>();
        attempt->back = back;
        attempt->done = std::move(done);
        auto* socket = new QTcpSocket(queue_.context());
        attempt->socket = socket;
        QObject::connect(socket, &QTcpSocket::connected, queue_.context(),
                         [this, id] { finishLocked(id, ProbeAnswer::accepted); });
        attempt->dial = HostDial::make(
            lookups_, clock_, timeout, *socket,
            [socket, port](const QHostAddress& address) { socket->connectToHost(address, port); },
            [this, id](QAbstractSocket::SocketError error, const QString&) {
                // A refusal means the computer is up, though nothing listens on that port; any other
                // failure (no route, no such host) says nothing more than silence.
                finishLocked(id, error == QAbstractSocket::ConnectionRefusedError ? ProbeAnswer::refused
                                                                                  : ProbeAnswer::silent);
            });
        attempt->timeout = clock_.after(timeout, [this, id] { finishLocked(id, ProbeAnswer::silent); });
        HostDial& dial = *attempt->dial;
        attempts_.emplace(id, std::move(attempt));
        dial.start(host);
    });
}

void TcpReachabilityProbe::finishLocked(uint64_t id, ProbeAnswer answer) {
    queue_.assertCurrent(__func__);
    const auto found = attempts_.find(id);
    if (found == attempts_.end()) return; // already finished
    const std::unique_ptr<Attempt> attempt = std::move(found->second);
    attempts_.erase(found);
    if (attempt->socket) {
        attempt->socket->disconnect();
        attempt->socket->abort();
        attempt->socket->deleteLater(); // it may be the object emitting right now
    }
    if (!attempt->back) return;
    QMetaObject::invokeMethod(
        attempt->back.data(), [done = std::move(attempt->done), answer] { done(answer); }, Qt::QueuedConnection);
}

} // namespace dovrel::controller

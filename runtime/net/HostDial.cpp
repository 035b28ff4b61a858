#include "runtime/net/HostDial.h"

#include <QString>
#include <QTimer>

#include "runtime/net/AddressTurns.h"

namespace dovrel {

void HostDial::Release::operator()(HostDial* dial) const {
    if (!dial) return;
    dial->stop();
    dial->deleteLater();
}

HostDial::Ptr HostDial::make(HostLookups& lookups, Scheduler& clock, Duration time, QAbstractSocket& socket,
                             Connect connect, Failed failed) {
    return Ptr(new HostDial(lookups, clock, time, socket, std::move(connect), std::move(failed)));
}

HostDial::HostDial(HostLookups& lookups, Scheduler& clock, Duration time, QAbstractSocket& socket, Connect connect,
                   Failed failed)
    : lookups_(lookups), clock_(clock), time_(time), socket_(&socket), connect_(std::move(connect)),
      failed_(std::move(failed)) {
    QObject::connect(&socket, &QAbstractSocket::connected, this, [this] {
        connected_ = true;
        turn_.reset();
    });
    QObject::connect(&socket, &QAbstractSocket::errorOccurred, this, [this](auto error) { onError(error); });
}

HostDial::~HostDial() { stop(); }

void HostDial::start(const std::string& host) {
    deadline_ = clock_.now() + time_;
    if (const QHostAddress literal(QString::fromStdString(host)); !literal.isNull()) {
        addresses_ = {literal};
        tryNext();
        return;
    }
    lookup_ = lookups_.start(host, this, [this](const std::vector<std::string>& found) {
        if (stopped_) return;
        lookup_.reset();
        addresses_ = addressesToTry(found);
        if (!addresses_.empty()) return tryNext();
        if (failed_) failed_(QAbstractSocket::HostNotFoundError, QStringLiteral("Host not found"));
    });
}

void HostDial::stop() {
    stopped_ = true;
    turn_.reset();
    if (lookup_) lookup_->forget();
    lookup_.reset();
    if (socket_) QObject::disconnect(socket_, nullptr, this, nullptr);
}

void HostDial::tryNext() {
    if (stopped_ || !socket_ || next_ >= addresses_.size()) return;
    turn_.reset();
    socket_->abort();
    const std::size_t left = addresses_.size() - next_;
    if (left > 1) turn_ = clock_.after(turnTime(deadline_, clock_.now(), left), [this] { tryNext(); });
    connect_(addresses_[next_++]);
}

void HostDial::onError(QAbstractSocket::SocketError error) {
    if (stopped_) return;
    turn_.reset();
    if (!connected_ && next_ < addresses_.size()) {
        // Not from inside the socket's own signal: it may not take a new connection yet.
        QTimer::singleShot(0, this, [this] { tryNext(); });
        return;
    }
    if (failed_) failed_(error, socket_ ? socket_->errorString() : QString());
}

} // namespace dovrel

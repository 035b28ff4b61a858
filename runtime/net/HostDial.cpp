#include "runtime/net/HostDial.h"

#include <QString>
#include <QTimer>

namespace dovrel {

void HostDial::Release::operator()(HostDial* dial) const {
    if (!dial) return;
    dial->stop();
    dial->deleteLater();
}

HostDial::Ptr HostDial::make(HostLookups& lookups, QAbstractSocket& socket, Connect connect, Failed failed) {
    return Ptr(new HostDial(lookups, socket, std::move(connect), std::move(failed)));
}

HostDial::HostDial(HostLookups& lookups, QAbstractSocket& socket, Connect connect, Failed failed)
    : lookups_(lookups), socket_(&socket), connect_(std::move(connect)), failed_(std::move(failed)) {
    QObject::connect(&socket, &QAbstractSocket::connected, this, [this] { connected_ = true; });
    QObject::connect(&socket, &QAbstractSocket::errorOccurred, this, [this](auto error) { onError(error); });
}

HostDial::~HostDial() { stop(); }

void HostDial::start(const std::string& host) {
    if (const QHostAddress literal(QString::fromStdString(host)); !literal.isNull()) {
        addresses_ = {literal};
        tryNext();
        return;
    }
    lookup_ = lookups_.start(host, this, [this](const std::vector<std::string>& found) {
        if (stopped_) return;
        lookup_.reset();
        for (const std::string& text : found)
            if (const QHostAddress address(QString::fromStdString(text)); !address.isNull())
                addresses_.push_back(address);
        if (!addresses_.empty()) return tryNext();
        if (failed_) failed_(QAbstractSocket::HostNotFoundError, QStringLiteral("Host not found"));
    });
}

void HostDial::stop() {
    stopped_ = true;
    if (lookup_) lookup_->forget();
    lookup_.reset();
    if (socket_) QObject::disconnect(socket_, nullptr, this, nullptr);
}

void HostDial::tryNext() {
    if (stopped_ || !socket_ || next_ >= addresses_.size()) return;
    socket_->abort();
    connect_(addresses_[next_++]);
}

void HostDial::onError(QAbstractSocket::SocketError error) {
    if (stopped_) return;
    if (!connected_ && next_ < addresses_.size()) {
        // Not from inside the socket's own signal: it may not take a new connection yet.
        QTimer::singleShot(0, this, [this] { tryNext(); });
        return;
    }
    if (failed_) failed_(error, socket_ ? socket_->errorString() : QString());
}

} // namespace dovrel

#include "controller/client/link/StreamLink.h"

#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

namespace dovrel::controller {

namespace {
constexpr qint64 readChunk = 65536;

// Errors that mean the other end is not (yet) there, as opposed to a connection that broke.
bool meansWaiting(QAbstractSocket::SocketError e) {
    switch (e) {
    case QAbstractSocket::HostNotFoundError:
    case QAbstractSocket::NetworkError:
    case QAbstractSocket::SocketTimeoutError:
    case QAbstractSocket::TemporaryError:
    case QAbstractSocket::ProxyConnectionRefusedError:
    case QAbstractSocket::ProxyNotFoundError: return true;
    default: return false;
    }
}
} // namespace

StreamLink::StreamLink(Options options, HostLookups& lookups, Scheduler& clock)
    : options_(std::move(options)), lookups_(lookups), clock_(clock) {}

StreamLink::~StreamLink() { retire(); }

const char* StreamLink::stateName(State s) {
    switch (s) {
    case State::ready: return "ready";
    case State::refused: return "refused";
    case State::waiting: return "waiting";
    case State::failed: return "failed";
    case State::cancelled: return "cancelled";
    }
    return "failed";
}

void StreamLink::report(State s, const QString& detail) {
    if (retired_) return;
    if (s == State::ready) {
        if (ready_ || ended_) return;
        ready_ = true;
    } else {
        if (ended_) return;
        ended_ = true;
    }
    if (onState) onState(s, detail);
}

void StreamLink::start(const std::string& host, uint16_t port) {
    if (options_.tls) {
        auto ssl = std::make_unique<QSslSocket>();
        if (!options_.extraCaCertificates.isEmpty()) {
            QSslConfiguration conf = ssl->sslConfiguration();
            conf.addCaCertificates(options_.extraCaCertificates);
            ssl->setSslConfiguration(conf);
        }
        QSslSocket* s = ssl.get();
        QObject::connect(s, &QSslSocket::encrypted, this, [this] { report(State::ready, {}); });
        socket_ = std::move(ssl);
    } else {
        socket_ = std::make_unique<QTcpSocket>();
        QObject::connect(socket_.get(), &QTcpSocket::connected, this, [this] { report(State::ready, {}); });
    }
    QTcpSocket* s = socket_.get();
    QObject::connect(s, &QTcpSocket::connected, this, [this] {
        if (options_.noDelay) socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    });
    QObject::connect(s, &QAbstractSocket::disconnected, this,
                     [this] { report(State::failed, QStringLiteral("the connection was closed")); });
    QObject::connect(s, &QIODevice::readyRead, this, [this] { onReadyRead(); });
    auto connect = [this, s, name = QString::fromStdString(host), port](const QHostAddress& address) {
        if (options_.tls)
            static_cast<QSslSocket*>(s)->connectToHostEncrypted(address.toString(), port, name);
        else
            s->connectToHost(address, port);
    };
    dial_ = HostDial::make(lookups_, clock_, HostDial::usualTime, *s, std::move(connect),
                           [this](QAbstractSocket::SocketError e, const QString& why) {
                               State state = State::failed;
                               if (!ready_ && e == QAbstractSocket::ConnectionRefusedError)
                                   state = State::refused;
                               else if (!ready_ && meansWaiting(e))
                                   state = State::waiting;
                               report(state, why);
                           });
    dial_->start(host);
}

void StreamLink::onReadyRead() {
    while (socket_ && reading_ && !retired_ && socket_->bytesAvailable() > 0) {
        const QByteArray chunk = socket_->read(readChunk);
        if (chunk.isEmpty()) break;
        if (onData)
            onData(wex::ByteView(reinterpret_cast<const uint8_t*>(chunk.constData()),
                                 static_cast<std::size_t>(chunk.size())));
    }
}

void StreamLink::cancel() {
    if (retired_ || ended_) return;
    ended_ = true;
    if (dial_) dial_->stop();
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
    }
    // Reported from the event loop, like every other state change, never from inside the caller.
    QTimer::singleShot(0, this, [this] {
        if (!retired_ && onState) onState(State::cancelled, {});
    });
}

void StreamLink::retire() {
    if (retired_) return;
    retired_ = true;
    ended_ = true;
    // The callbacks stay: retiring may happen inside one of them.
    if (dial_) dial_->stop();
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
    }
}

void StreamLink::send(wex::ByteView bytes) {
    if (!socket_ || ended_ || bytes.empty()) return;
    socket_->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    // Into the kernel now rather than at the next turn of the loop: small control frames should not
    // wait, and a `bye` must be out before the link is closed right after it.
    socket_->flush();
}

QString StreamLink::peerAddress() const {
    if (!socket_) return {};
    QString text = socket_->peerAddress().toString();
    const auto percent = text.indexOf('%');
    return percent < 0 ? text : text.left(percent);
}

int64_t StreamLink::pendingBytes() const {
    if (!socket_ || ended_) return 0;
    int64_t pending = socket_->bytesToWrite();
    if (const auto* ssl = qobject_cast<const QSslSocket*>(socket_.get())) pending += ssl->encryptedBytesToWrite();
    return pending;
}

} // namespace dovrel::controller

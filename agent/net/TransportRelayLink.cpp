#include "agent/net/TransportRelayLink.h"

#include <optional>
#include <variant>
#include <vector>

#include <QSslCertificate>
#include <QSslSocket>
#include <QTimer>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "agent/common/AgentLog.h"
#include "protocol/LogText.h"
#include "protocol/RelayPreamble.h"
#include "protocol/RelayRedirect.h"
#include "runtime/net/HostDial.h"

namespace dovrel::agent {

using namespace std::chrono_literals;

namespace {

constexpr qint64 receiveChunk = 65536;
constexpr auto watchdogEvery = 30s;
constexpr auto idleRefreshAfter = 240s;
constexpr auto unhealthyRedialAfter = 5s;
constexpr auto redialAfterLoss = 2s;
constexpr auto redialAfterRedirect = 200ms;
// A connection being closed gets this long to send what it holds before it is cut.
constexpr int closeLingerMs = 5000;

struct DeleteLater {
    void operator()(QObject* o) const {
        if (o) o->deleteLater();
    }
};

wex::ByteView viewOf(const QByteArray& b) {
    return wex::ByteView(reinterpret_cast<const uint8_t*>(b.constData()), static_cast<std::size_t>(b.size()));
}

// Keep-alive probes after 15 s of silence, every 10 s, two of them: a relay that vanished without a word
// is noticed within about 35 s. Small writes (input answers, control) go out at once.
void tuneSocket(qintptr fd) {
    if (fd < 0) return;
    const int s = static_cast<int>(fd);
    const int on = 1, idle = 15, interval = 10, count = 2;
    ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(s, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(s, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(s, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// Errors before the TCP connection stands that mean the relay cannot be reached from here right now:
// the link waits for the watchdog instead of hammering a network that is not there.
bool cannotReach(QAbstractSocket::SocketError e) {
    switch (e) {
    case QAbstractSocket::ConnectionRefusedError:
    case QAbstractSocket::HostNotFoundError:
    case QAbstractSocket::NetworkError:
    case QAbstractSocket::SocketTimeoutError:
    case QAbstractSocket::TemporaryError: return true;
    default: return false;
    }
}

} // namespace

struct TransportRelayLink::Conn {
    ConnId id = 0;
    std::unique_ptr<QSslSocket, DeleteLater> socket;
    HostDial::Ptr dial;          // after the socket, so that it goes first
    wex::RelayIdentity identity; // as dialled
    std::string room;
    bool tcpConnected = false;
    bool ready = false;          // TLS is up
    bool preambleDone = true;    // the relay's registration replies have been consumed
    bool silenced = false;       // a redirect came: nothing more is read from this connection
    bool controllerSeen = false; // a controller's bytes arrived on this registration
    wex::Bytes preBuf;
};

TransportRelayLink::TransportRelayLink(QObject* context, Scheduler& clock, RelayIdentityCell& identity,
                                       const std::string& testCaFile, std::shared_ptr<HostResolver> resolver,
                                       Hooks hooks)
    : context_(context), clock_(clock), identity_(identity), hooks_(std::move(hooks)),
      tls_(QSslConfiguration::defaultConfiguration()), lookups_(std::move(resolver)) {
    tls_.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!testCaFile.empty()) {
        const QList<QSslCertificate> extra = QSslCertificate::fromPath(QString::fromStdString(testCaFile), QSsl::Pem);
        if (extra.isEmpty()) {
            print("⚠︎ relay: no certificate in the test CA file " + testCaFile + " — ignored");
        } else {
            // Setting the list replaces the system's: they are named explicitly so that the test authority
            // only ever adds to them.
            tls_.setCaCertificates(QSslConfiguration::systemCaCertificates() + extra);
            print("⚠︎ relay: also trusting the test certificate authority in " + testCaFile);
        }
    }
}

TransportRelayLink::~TransportRelayLink() { shutdown(); }

void TransportRelayLink::setCredentials(wex::Bytes publicKey, Signer signer) {
    pubKey_ = std::move(publicKey);
    signer_ = std::move(signer);
}

TransportRelayLink::Conn* TransportRelayLink::live(ConnId id) const {
    return conn_ && conn_->id == id ? conn_.get() : nullptr;
}

// ---- dialling

void TransportRelayLink::start(const std::string& room) {
    room_ = room;
    dial();
}

void TransportRelayLink::dial() {
    dialedAt_ = clock_.now();
    startWatchdog();
    pendingDial_.reset();
    cancelCurrent("relay link cancelled", true);
    healthy_ = false;
    if (room_.empty()) return;

    auto c = std::make_unique<Conn>();
    c->id = ++lastId_;
    c->identity = identity_.get();
    c->room = room_;
    c->socket.reset(new QSslSocket());
    c->socket->setSslConfiguration(tls_);
    QSslSocket* s = c->socket.get();
    const ConnId id = c->id;
    QObject::connect(s, &QSslSocket::connected, context_, [this, id] { onConnected(id); });
    QObject::connect(s, &QSslSocket::encrypted, context_, [this, id] { onReady(id); });
    QObject::connect(s, &QSslSocket::readyRead, context_, [this, id] { onReadable(id); });
    QObject::connect(s, &QSslSocket::disconnected, context_, [this, id] { onClosed(id); });
    QObject::connect(s, &QSslSocket::encryptedBytesWritten, context_, [this, id](qint64) {
        if (live(id) && hooks_.writable) hooks_.writable(id);
    });
    const std::string host = c->identity.host;
    const uint16_t port = c->identity.port;
    // The certificate must name this host, whichever of its addresses is dialled.
    c->dial = HostDial::make(
        lookups_, clock_, HostDial::usualTime, *s,
        [s, name = QString::fromStdString(host), port](const QHostAddress& address) {
            s->connectToHostEncrypted(address.toString(), port, name);
        },
        [this, id](QAbstractSocket::SocketError e, const QString& why) {
            onError(id, static_cast<int>(e), why.toStdString());
        });
    HostDial& dial = *c->dial;
    conn_ = std::move(c);
    dial.start(host);
}

void TransportRelayLink::scheduleDial(Duration after) {
    pendingDial_ = clock_.after(after, [this, room = room_] {
        room_ = room;
        dial();
    });
}

// Lets go of the current connection: its handlers are detached first, so it says nothing more; what it
// still holds is sent before it closes.
void TransportRelayLink::cancelCurrent(const std::string& reason, bool replaced) {
    if (!conn_) return;
    // Not re-dialled from here: whoever let it go dials (or has dialled) the next one.
    if (replaced) print("• relay cancelled — will re-register in 2s");
    const std::unique_ptr<Conn> c = std::move(conn_);
    healthy_ = false;
    QSslSocket* s = c->socket.release();
    QObject::disconnect(s, nullptr, context_, nullptr);
    s->setParent(context_);
    if (s->state() == QAbstractSocket::UnconnectedState) {
        s->deleteLater();
    } else {
        // Unread bytes at close would make the kernel reset the connection and lose what is unsent.
        QObject::connect(s, &QSslSocket::readyRead, s, [s] { s->readAll(); });
        QObject::connect(s, &QSslSocket::disconnected, s, [s] { s->deleteLater(); });
        s->disconnectFromHost();
        QTimer::singleShot(closeLingerMs, s, [s] {
            s->abort();
            s->deleteLater();
        });
    }
    if (!reason.empty() && hooks_.ended) hooks_.ended(c->id, reason);
}

void TransportRelayLink::retire(ConnId conn, Duration redialAfter) {
    if (!live(conn)) return;
    cancelCurrent({}, true);
    if (!room_.empty()) scheduleDial(redialAfter);
}

void TransportRelayLink::repoint(const RelayEndpoint& to) {
    const wex::RelayIdentity was = identity_.get();
    if (was.host == to.host && was.port == to.port) return;
    print("• relay region: " + was.host + ":" + std::to_string(was.port) + " → " + to.host + ":" +
          std::to_string(to.port) + " (nearest)");
    identity_.setEndpoint(to.host, to.port);
    cancelCurrent("relay link cancelled", true);
    if (!room_.empty()) dial();
}

void TransportRelayLink::applyRedirect(const std::string& target) {
    const auto to = wex::parseRelayRedirect(target);
    if (!to) return; // not "host:port": the watchdog or a failure moves the link on
    identity_.setEndpoint(to->host, to->port);
    cancelCurrent("relay link cancelled", true);
    scheduleDial(redialAfterRedirect);
}

void TransportRelayLink::shutdown() {
    watchdog_.reset();
    pendingDial_.reset();
    if (!conn_) return;
    QObject::disconnect(conn_->socket.get(), nullptr, context_, nullptr);
    conn_->socket->abort();
    conn_.reset();
    healthy_ = false;
}

// ---- the watchdog

void TransportRelayLink::startWatchdog() {
    if (watchdog_) return;
    watchdog_ = clock_.every(watchdogEvery, watchdogEvery, [this] { watchdogTick(); });
}

void TransportRelayLink::watchdogTick() {
    if (room_.empty()) return;
    const Instant now = clock_.now();
    const bool controllerLive = conn_ && conn_->controllerSeen;
    if (healthy_ && controllerLive) return;
    if (healthy_ && now - readyAt_ > idleRefreshAfter) {
        print("• relay watchdog: refreshing idle registration (liveness)");
        dial();
        return;
    }
    if (!healthy_ && now - dialedAt_ > unhealthyRedialAfter) {
        print("• relay watchdog: not registered — re-dialing");
        dial();
    }
}

// ---- connection events

void TransportRelayLink::onConnected(ConnId id) {
    Conn* c = live(id);
    if (!c) return;
    c->tcpConnected = true;
    tuneSocket(c->socket->socketDescriptor());
}

void TransportRelayLink::onReady(ConnId id) {
    Conn* c = live(id);
    if (!c) return;
    c->ready = true;
    healthy_ = true;
    readyAt_ = clock_.now();
    c->preBuf.clear();
    wex::Bytes preamble;
    if (!c->identity.account.empty()) {
        c->preambleDone = false;
        print("• relay CONNECTED — registering " + wex::logText(c->identity.account) + "/" + c->room);
        preamble = wex::RelayRegister::encodeV2(wex::RelayRole::agent, c->identity.account, c->room, c->identity.token,
                                                pubKey_);
    } else {
        c->preambleDone = true;
        print("• relay CONNECTED — registering room " + c->room + " (legacy namespace)");
        preamble = wex::RelayRegister::encode(wex::RelayRole::agent, c->room);
    }
    if (preamble.empty()) {
        // Only texts longer than 64 KiB get here; no relay could register them. The watchdog tries again
        // in case the account was fixed meanwhile.
        print("⚠︎ relay registration does not fit its preamble — not registering");
        cancelCurrent("relay link cancelled", true);
        return;
    }
    write(id, preamble);
}

void TransportRelayLink::onReadable(ConnId id) {
    while (Conn* c = live(id)) {
        if (c->socket->bytesAvailable() <= 0) break;
        const QByteArray bytes = c->socket->read(receiveChunk);
        if (bytes.isEmpty()) break;
        onBytes(id, viewOf(bytes));
    }
}

void TransportRelayLink::onBytes(ConnId id, wex::ByteView bytes) {
    Conn* c = live(id);
    if (!c || c->silenced) return;
    wex::Bytes early; // controller bytes that came together with the relay's reply
    if (!c->preambleDone) {
        c->preBuf.insert(c->preBuf.end(), bytes.begin(), bytes.end());
        const wex::RelayRegister::Preamble reply = wex::RelayRegister::parsePreamble(c->preBuf);
        if (std::holds_alternative<wex::RelayRegister::NeedMore>(reply)) return;
        if (const auto* redirect = std::get_if<wex::RelayRegister::RedirectReply>(&reply)) {
            print("• relay REDIRECT → " + wex::logText(redirect->target) + " (another node owns this room)");
            c->preambleDone = true;
            c->silenced = true;
            applyRedirect(redirect->target);
            return;
        }
        if (const auto* nonce = std::get_if<wex::RelayRegister::NonceReply>(&reply)) {
            const wex::Bytes toSign =
                wex::RelayRegister::challenge(wex::RelayRole::agent, c->identity.account, c->room, nonce->nonce);
            const wex::Bytes signature = signer_ ? signer_(toSign) : wex::Bytes();
            if (!signature.empty()) write(id, signature);
            c->preambleDone = true;
            early.assign(c->preBuf.begin() + static_cast<std::ptrdiff_t>(nonce->consumed), c->preBuf.end());
            c->preBuf.clear();
            print("• relay: room ownership proved for account " + wex::logText(c->identity.account));
        } else {
            c->preambleDone = true; // the relay's first bytes are already the controller's
            early = std::move(c->preBuf);
            c->preBuf.clear();
        }
        if (early.empty()) return;
        bytes = early;
    }
    c->controllerSeen = true;
    if (hooks_.controllerBytes) hooks_.controllerBytes(id, bytes);
}

void TransportRelayLink::onError(ConnId id, int error, const std::string& why) {
    Conn* c = live(id);
    if (!c) return;
    const auto e = static_cast<QAbstractSocket::SocketError>(error);
    if (e == QAbstractSocket::RemoteHostClosedError && c->ready) {
        onClosed(id);
        return;
    }
    if (!c->tcpConnected && cannotReach(e)) {
        print("• relay WAITING (cannot reach " + wex::logText(c->identity.host) + ":" +
              std::to_string(c->identity.port) + ") — watchdog will re-dial");
        cancelCurrent({}, false);
        return;
    }
    lost(id, "failed(" + why + ")", nullptr);
}

void TransportRelayLink::onClosed(ConnId id) {
    if (!live(id)) return;
    onReadable(id); // what came in just before the close still counts
    if (!live(id)) return;
    lost(id, "cancelled", "client disconnected");
}

// The current connection ended by the relay's doing or a failure: the session on it is torn down and the
// room registers again 2 s later.
void TransportRelayLink::lost(ConnId id, const std::string& stateText, const char* closedReason) {
    if (closedReason && hooks_.ended) hooks_.ended(id, closedReason);
    if (!live(id)) return;
    print("• relay " + stateText + " — will re-register in 2s");
    cancelCurrent(closedReason ? std::string() : "relay link " + stateText, false);
    scheduleDial(redialAfterLoss);
}

// ---- writing

bool TransportRelayLink::write(ConnId conn, wex::ByteView bytes, bool flushNow) {
    Conn* c = live(conn);
    if (!c || !c->ready) return false;
    c->socket->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    if (flushNow) c->socket->flush();
    return true;
}

void TransportRelayLink::flush(ConnId conn) {
    if (Conn* c = live(conn)) c->socket->flush();
}

int TransportRelayLink::descriptor(ConnId conn) const {
    const Conn* c = live(conn);
    return c ? static_cast<int>(c->socket->socketDescriptor()) : -1;
}

std::size_t TransportRelayLink::backlog(ConnId conn) const {
    const Conn* c = live(conn);
    if (!c) return 0;
    return static_cast<std::size_t>(c->socket->bytesToWrite() + c->socket->encryptedBytesToWrite());
}

} // namespace dovrel::agent

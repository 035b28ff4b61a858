#include "tests/support/relay/RelayServer.h"

#include <algorithm>
#include <iostream>

#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslKey>

#include "protocol/Crypto.h"
#include "protocol/DeviceIdentity.h"

namespace dovrel::test::relay {

namespace {

constexpr int handshakeTimeoutMs = 10000;

const char* roleName(wex::RelayRole role) { return role == wex::RelayRole::agent ? "agent" : "client"; }

QByteArray toQt(wex::ByteView bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

} // namespace

void emitEvent(const std::string& line) { std::cout << line << std::endl; }

std::optional<QSslConfiguration> loadServerTls(const std::string& certFile, const std::string& keyFile,
                                               std::string& error) {
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(QString::fromStdString(certFile), QSsl::Pem);
    if (chain.isEmpty()) {
        error = "no certificate in " + certFile;
        return std::nullopt;
    }
    QFile file(QString::fromStdString(keyFile));
    if (!file.open(QIODevice::ReadOnly)) {
        error = "cannot read " + keyFile;
        return std::nullopt;
    }
    const QByteArray pem = file.readAll();
    QSslKey key(pem, QSsl::Ec, QSsl::Pem, QSsl::PrivateKey);
    if (key.isNull()) key = QSslKey(pem, QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey);
    if (key.isNull()) {
        error = "no EC or RSA private key in " + keyFile;
        return std::nullopt;
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    return tls;
}

// ---- RelayPeer

RelayPeer::RelayPeer(RelayServer& server, QSslSocket* socket) : QObject(&server), server_(server), socket_(socket) {
    socket_->setParent(this);
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        if (phase_ == Phase::preamble || phase_ == Phase::proving) refuse("preamble-timeout");
    });
    connect(socket_, &QSslSocket::readyRead, this, &RelayPeer::onReadyRead);
    connect(socket_, &QSslSocket::disconnected, this, &RelayPeer::onClosed);
    connect(socket_, &QSslSocket::errorOccurred, this, [this] {
        if (socket_->state() == QAbstractSocket::UnconnectedState) onClosed();
    });
    deadline_.start(server_.options().preambleTimeoutMs);
    // Bytes that came with the end of the handshake arrived before anyone listened.
    QMetaObject::invokeMethod(this, &RelayPeer::start, Qt::QueuedConnection);
}

void RelayPeer::start() {
    if (socket_->bytesAvailable() > 0) onReadyRead();
    if (socket_->state() == QAbstractSocket::UnconnectedState) onClosed();
}

std::string RelayPeer::describe() const {
    if (!reg_) return "role=unknown";
    std::string out = std::string("role=") + roleName(reg_->role) + " version=" + std::to_string(reg_->version);
    if (reg_->version == 2) out += " account=" + printable(reg_->account);
    out += " room=" + printable(reg_->room);
    return out;
}

void RelayPeer::onReadyRead() {
    const QByteArray data = socket_->readAll();
    if (data.isEmpty()) return;
    switch (phase_) {
    case Phase::spliced:
        if (partner_) partner_->socket_->write(data);
        return;
    case Phase::closed: return;
    default: buffer_.insert(buffer_.end(), data.begin(), data.end()); process();
    }
}

void RelayPeer::process() {
    if (phase_ == Phase::preamble) {
        const RegistrationParse parsed = parseRegistration(buffer_);
        if (std::holds_alternative<Incomplete>(parsed)) return;
        if (const auto* bad = std::get_if<Malformed>(&parsed)) {
            refuse(bad->reason);
            return;
        }
        reg_ = std::get<Registration>(parsed);
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(reg_->consumed));
        if (const std::string why = server_.options().refusal(*reg_); !why.empty()) {
            refuse(why);
            return;
        }
        if (const auto target = server_.options().redirectFor(*reg_)) {
            socket_->write(toQt(redirectReply(*target)));
            emitEvent("redirected " + describe() + " target=" + printable(*target));
            close();
            return;
        }
        if (server_.options().challenges(*reg_)) {
            nonce_ = wex::Crypto::randomBytes(wex::RelayRegister::nonceSize);
            socket_->write(toQt(nonceReply(nonce_)));
            phase_ = Phase::proving;
            emitEvent("challenged " + describe());
        } else {
            registerNow();
            return;
        }
    }
    if (phase_ == Phase::proving) {
        constexpr std::size_t sigSize = wex::DeviceIdentity::signatureSize;
        if (buffer_.size() < sigSize) return;
        const wex::ByteView signature(buffer_.data(), sigSize);
        const wex::Bytes signedBytes = wex::RelayRegister::challenge(reg_->role, reg_->account, reg_->room, nonce_);
        if (!wex::DeviceIdentity::verify(signature, signedBytes, reg_->pubKey)) {
            refuse("bad-signature");
            return;
        }
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(sigSize));
        emitEvent("proved " + describe());
        registerNow();
    }
}

void RelayPeer::refuse(const std::string& reason) {
    emitEvent("refused " + describe() + " reason=" + reason);
    close();
}

void RelayPeer::registerNow() {
    phase_ = Phase::registered;
    deadline_.stop();
    emitEvent("registered " + describe());
    server_.registered(this);
}

void RelayPeer::spliceWith(RelayPeer* partner) {
    phase_ = Phase::spliced;
    partner_ = partner;
    if (!buffer_.empty()) partner->socket_->write(toQt(buffer_));
    buffer_.clear();
}

void RelayPeer::close() {
    if (phase_ == Phase::closed) return;
    phase_ = Phase::closed;
    deadline_.stop();
    partner_ = nullptr;
    socket_->disconnectFromHost(); // sends what is still queued first
}

void RelayPeer::partnerLeft() {
    if (phase_ != Phase::spliced) return;
    close();
}

void RelayPeer::onClosed() {
    if (ended_) return;
    ended_ = true;
    const Phase was = phase_;
    const QByteArray rest = socket_->readAll();
    phase_ = Phase::closed;
    deadline_.stop();
    if (was == Phase::spliced && partner_) {
        // The last bytes still go across, then the partner's stream ends too.
        if (!rest.isEmpty()) partner_->socket_->write(rest);
        emitEvent(std::string("ended ") + describe() + " by=" + roleName(reg_->role));
        const QPointer<RelayPeer> partner = partner_;
        partner_ = nullptr;
        partner->partnerLeft();
    } else if (was == Phase::registered) {
        emitEvent("closed " + describe());
        server_.gone(this);
    }
    deleteLater();
}

// ---- RelayServer

RelayServer::RelayServer(RelayOptions options, const QSslConfiguration& tls) : options_(std::move(options)) {
    server_.setSslConfiguration(tls);
    // The preamble's time starts once the TLS handshake is done; the handshake has a limit of its own
    // that a short preamble limit does not cut, so that a handshake a busy machine is slow to finish
    // is not dropped without a word instead of refused for its preamble.
    server_.setHandshakeTimeout(std::max(options_.preambleTimeoutMs, handshakeTimeoutMs));
    connect(&server_, &QSslServer::pendingConnectionAvailable, this, &RelayServer::acceptPending);
}

bool RelayServer::listen(std::string& error) {
    QHostAddress address;
    if (!address.setAddress(QString::fromStdString(options_.listen))) {
        error = "not an address: " + options_.listen;
        return false;
    }
    if (!server_.listen(address, options_.port)) {
        error = server_.errorString().toStdString();
        return false;
    }
    return true;
}

void RelayServer::acceptPending() {
    while (QTcpSocket* tcp = server_.nextPendingConnection()) {
        auto* tls = qobject_cast<QSslSocket*>(tcp);
        if (!tls) {
            tcp->deleteLater();
            continue;
        }
        new RelayPeer(*this, tls);
    }
}

void RelayServer::registered(RelayPeer* peer) {
    const std::string key = roomKey(peer->registration());
    if (peer->registration().role == wex::RelayRole::agent) {
        auto& waiting = waitingClients_[key];
        while (!waiting.empty() && !waiting.front())
            waiting.pop_front();
        if (!waiting.empty()) {
            RelayPeer* client = waiting.front();
            waiting.pop_front();
            if (waiting.empty()) waitingClients_.erase(key);
            peer->spliceWith(client);
            client->spliceWith(peer);
            emitEvent("spliced " + peer->describe());
            return;
        }
        waitingClients_.erase(key);
        QPointer<RelayPeer>& slot = idleAgents_[key];
        if (slot && slot != peer) {
            // The newer registration stands; the old one was left behind by a re-dial.
            emitEvent("replaced " + slot->describe());
            slot->close();
        }
        slot = peer;
        return;
    }
    if (const auto it = idleAgents_.find(key); it != idleAgents_.end() && it->second) {
        RelayPeer* agent = it->second;
        idleAgents_.erase(it);
        agent->spliceWith(peer);
        peer->spliceWith(agent);
        emitEvent("spliced " + agent->describe());
        return;
    }
    waitingClients_[key].push_back(peer);
    emitEvent("waiting " + peer->describe());
}

void RelayServer::gone(RelayPeer* peer) {
    const std::string key = roomKey(peer->registration());
    if (const auto it = idleAgents_.find(key); it != idleAgents_.end() && (!it->second || it->second == peer))
        idleAgents_.erase(it);
    if (const auto it = waitingClients_.find(key); it != waitingClients_.end()) {
        auto& q = it->second;
        std::erase_if(q, [peer](const QPointer<RelayPeer>& p) { return !p || p == peer; });
        if (q.empty()) waitingClients_.erase(it);
    }
}

} // namespace dovrel::test::relay

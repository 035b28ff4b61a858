#include "TestRelayStub.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTimer>

#include "TestAgent.h"
#include "TestCA.h"

namespace dovrel::test {

TestCertificate::TestCertificate() {
    try {
        makeTestCertificates(dir_.path());
        ok_ = true;
    } catch (const std::exception& e) {
        reason_ = std::string("could not make a test certificate: ") + e.what();
    }
}

struct TestRelayStub::Client {
    std::unique_ptr<QSslSocket> socket;
    QByteArray buffer;
    bool registered = false;
};

namespace {

// The registration as the relay reads it; nothing until all of it has arrived.
std::optional<std::pair<TestRelayStub::Registration, qsizetype>> parseRegistration(const QByteArray& b) {
    auto u8 = [&](qsizetype at) { return static_cast<uint8_t>(b[at]); };
    if (b.size() < 6) return std::nullopt;
    if (!b.startsWith("DRLY")) return std::pair(TestRelayStub::Registration{}, qsizetype(-1));
    TestRelayStub::Registration reg;
    reg.version = u8(4);
    reg.role = u8(5);
    qsizetype at = 6;
    auto str16 = [&](std::string& out) {
        if (b.size() < at + 2) return false;
        const qsizetype n = u8(at) << 8 | u8(at + 1);
        if (b.size() < at + 2 + n) return false;
        out = b.mid(at + 2, n).toStdString();
        at += 2 + n;
        return true;
    };
    if (reg.version == 1) {
        if (!str16(reg.room)) return std::nullopt;
        return std::pair(reg, at);
    }
    if (!str16(reg.account) || !str16(reg.room) || !str16(reg.token)) return std::nullopt;
    if (b.size() < at + 1) return std::nullopt;
    const qsizetype keyLen = u8(at);
    if (b.size() < at + 1 + keyLen) return std::nullopt;
    reg.pubKey.assign(b.begin() + at + 1, b.begin() + at + 1 + keyLen);
    return std::pair(reg, at + 1 + keyLen);
}

} // namespace

TestRelayStub::TestRelayStub(const TestCertificate& cert, QObject* parent) : QObject(parent) {
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.setLocalCertificate(QSslCertificate::fromPath(QString::fromStdString(cert.certFile())).value(0));
    QFile keyFile(QString::fromStdString(cert.keyFile()));
    keyFile.open(QIODevice::ReadOnly);
    conf.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Ec));
    conf.setPeerVerifyMode(QSslSocket::VerifyNone);
    server_.setSslConfiguration(conf);
    // Connections are taken once their TLS handshake is done; either signal may announce them.
    QObject::connect(&server_, &QTcpServer::pendingConnectionAvailable, this, [this] { onConnection(); });
    QObject::connect(&server_, &QTcpServer::newConnection, this, [this] { onConnection(); });
    QObject::connect(&server_, &QSslServer::startedEncryptionHandshake, this, [this] { ++handshakesBegun; });
}

TestRelayStub::~TestRelayStub() {
    for (auto& c : clients_)
        if (c->socket) c->socket->abort();
}

bool TestRelayStub::listen(uint16_t port) { return server_.listen(QHostAddress::LocalHost, port); }

void TestRelayStub::onConnection() {
    while (QTcpSocket* s = server_.nextPendingConnection()) {
        auto* ssl = qobject_cast<QSslSocket*>(s);
        if (!ssl) {
            s->deleteLater();
            continue;
        }
        ++connectionsAccepted;
        ssl->setParent(nullptr);
        auto client = std::make_unique<Client>();
        client->socket.reset(ssl);
        Client* c = client.get();
        QObject::connect(ssl, &QIODevice::readyRead, this, [this, c] { onReadable(c); });
        QObject::connect(ssl, &QAbstractSocket::disconnected, this, [this] { ++connectionsEnded; });
        clients_.push_back(std::move(client));
        if (ssl->bytesAvailable() > 0) onReadable(c);
    }
}

void TestRelayStub::onReadable(Client* c) {
    if (c->registered || !c->socket) return;
    c->buffer += c->socket->readAll();
    const auto parsed = parseRegistration(c->buffer);
    if (!parsed) return;
    if (parsed->second < 0) {
        c->socket->abort();
        return;
    }
    c->registered = true;
    registrations.push_back(parsed->first);
    answer(c, parsed->first, c->buffer.mid(parsed->second));
}

void TestRelayStub::answer(Client* c, const Registration& reg, const QByteArray& rest) {
    QByteArray bytes;
    if (reply == Reply::nonce) {
        bytes = QByteArray("DRLYN") +
                QByteArray(reinterpret_cast<const char*>(nonce.data()), static_cast<qsizetype>(nonce.size()));
    } else if (reply == Reply::redirect) {
        const QByteArray target = QByteArray::fromStdString(redirectTarget);
        bytes = QByteArray("DRLYR");
        bytes.append(static_cast<char>(target.size() >> 8)).append(static_cast<char>(target.size() & 0xff));
        bytes += target;
    }
    bytes += QByteArray(reinterpret_cast<const char*>(afterReply.data()), static_cast<qsizetype>(afterReply.size()));

    auto splice = [this, c, reg, rest] {
        if (!c->socket || reply == Reply::redirect) return;
        TestAgent* agent = routes_.count(reg.room) ? routes_[reg.room] : anyRoom;
        if (!agent) return; // no agent in that room: the controller waits on an open stream
        QObject::disconnect(c->socket.get(), &QIODevice::readyRead, this, nullptr);
        agent->adopt(c->socket.release(), rest); // hands the stream over
    };
    if (!replyByteByByte || bytes.isEmpty()) {
        if (!bytes.isEmpty()) {
            c->socket->write(bytes);
            c->socket->flush();
        }
        splice();
        return;
    }
    // One TLS record per byte, a few milliseconds apart, so that the client reads the reply in pieces.
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        QTimer::singleShot(static_cast<int>(3 * i), this, [c, b = bytes.mid(i, 1)] {
            if (!c->socket) return;
            c->socket->write(b);
            c->socket->flush();
        });
    }
    QTimer::singleShot(static_cast<int>(3 * bytes.size() + 5), this, splice);
}

} // namespace dovrel::test

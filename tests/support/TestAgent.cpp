#include "TestAgent.h"

#include <QNetworkDatagram>
#include <QTimer>

#include "protocol/ByteWriter.h"
#include "protocol/CommonHeader.h"
#include "protocol/ControlMessages.h"
#include "protocol/Crypto.h"
#include "protocol/EphemeralKey.h"
#include "protocol/Frame.h"
#include "protocol/WEXError.h"
#include "protocol/WEXHandshake.h"

namespace dovrel::test {

namespace {
std::string hex(wex::ByteView bytes) {
    static constexpr char d[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out.push_back(d[b >> 4]);
        out.push_back(d[b & 15]);
    }
    return out;
}

template <std::size_t N> wex::FixedBytes<N> fixed(wex::ByteView b) {
    wex::FixedBytes<N> out{};
    std::copy_n(b.begin(), std::min(N, b.size()), out.begin());
    return out;
}
} // namespace

TestAgent::TestAgent(QObject* parent) : QObject(parent) {
    QObject::connect(&server_, &QTcpServer::newConnection, this, [this] { onNewConnection(); });
    QObject::connect(&input_, &QUdpSocket::readyRead, this, [this] {
        while (input_.hasPendingDatagrams()) {
            const QByteArray data = input_.receiveDatagram().data();
            ++inputDatagrams;
            if (!session_) continue;
            const auto opened = session_->openFrame(wex::ByteView(reinterpret_cast<const uint8_t*>(data.constData()),
                                                                  static_cast<std::size_t>(data.size())));
            if (opened) recordInput(*opened);
        }
    });
}

TestAgent::~TestAgent() {
    if (conn_) conn_->abort();
}

bool TestAgent::listen(uint16_t controlPort, uint16_t inputPort) {
    return server_.listen(QHostAddress::LocalHost, controlPort) && input_.bind(QHostAddress::LocalHost, inputPort);
}

std::string TestAgent::deviceId() const {
    const auto& pub = identity_.publicKey();
    return hex(wex::ByteView(pub).first(16));
}

bool TestAgent::isPaired(wex::ByteView pub) const {
    for (const auto& p : paired)
        if (std::equal(p.begin(), p.end(), pub.begin(), pub.end())) return true;
    return false;
}

void TestAgent::onNewConnection() {
    while (QTcpSocket* s = server_.nextPendingConnection()) {
        if (session_ && refuseWhileInSession) {
            // Like the real agent: one session at a time, and a plain refusal for the newcomer.
            wex::AuthFail fail{0, wex::AuthFailReason::tooManySessions, "This Mac already has a session in progress."};
            const wex::Bytes frame = wex::buildFrame(
                wex::Stream::control, static_cast<uint8_t>(wex::ControlType::authFail), 0, {}, fail.encode());
            s->write(reinterpret_cast<const char*>(frame.data()), static_cast<qint64>(frame.size()));
            s->disconnectFromHost();
            QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            ++connectionsAccepted;
            continue;
        }
        adopt(s, {});
    }
}

void TestAgent::adopt(QTcpSocket* socket, const QByteArray& already) {
    if (conn_) {
        conn_->disconnect(this);
        conn_->abort();
        conn_.release()->deleteLater();
    }
    socket->setParent(nullptr);
    conn_.reset(socket);
    ++connId_;
    ++connectionsAccepted;
    rx_.clear();
    handshake_.endHandshake();
    session_.reset();
    QObject::connect(socket, &QIODevice::readyRead, this, [this] { onReadable(); });
    QObject::connect(socket, &QAbstractSocket::disconnected, this, [this, id = connId_] {
        if (id != connId_) return;
        ++connectionsEnded;
        session_.reset();
        handshake_.endHandshake();
    });
    if (!already.isEmpty()) {
        rx_.append(wex::ByteView(reinterpret_cast<const uint8_t*>(already.constData()),
                                 static_cast<std::size_t>(already.size())));
        drain();
    }
    if (conn_ && conn_->bytesAvailable() > 0) onReadable();
}

void TestAgent::onReadable() {
    if (!conn_) return;
    const QByteArray data = conn_->readAll();
    rx_.append(
        wex::ByteView(reinterpret_cast<const uint8_t*>(data.constData()), static_cast<std::size_t>(data.size())));
    drain();
}

void TestAgent::drain() {
    // The agent's own reader: a bad header costs a byte, frames are cut by their length.
    const uint64_t id = connId_;
    while (id == connId_) {
        auto frame = rx_.next();
        if (!frame) break;
        onFrame(frame->header, frame->bytes);
    }
}

void TestAgent::onFrame(const wex::CommonHeader& header, const wex::Bytes& frame) {
    if (session_) {
        if (!header.flags.contains(wex::HeaderFlag::encryptedApp)) {
            if (header.stream == wex::Stream::control) plainInSession.push_back(header.msgType);
            return;
        }
        const auto opened = session_->openFrame(frame);
        if (!opened || recordInput(*opened)) return;
        sealedReceived.push_back({opened->header.msgType, opened->seq, opened->plaintext});
        if (opened->header.msgType == static_cast<uint8_t>(wex::ControlType::ping) && answerPings) {
            try {
                const auto ping = wex::Ping::decode(opened->plaintext);
                const uint64_t now =
                    clockUs ? clockUs
                            : static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                                        std::chrono::steady_clock::now().time_since_epoch())
                                                        .count());
                sendSealed(wex::ControlType::pong, wex::Pong{ping.reqId, ping.clientTsUs, now}.encode());
            } catch (const wex::WEXError&) {
            }
        } else if (opened->header.msgType == static_cast<uint8_t>(wex::ControlType::unpair)) {
            std::erase_if(paired, [&](const wex::Bytes& p) { return p == sessionPeerPub_; });
            dropClient();
        } else if (opened->header.msgType == static_cast<uint8_t>(wex::ControlType::bye)) {
            ++connectionsEnded; // the controller ended it, politely
            dropClient();
        }
        return;
    }
    const auto payload = wex::ByteView(frame).subspan(wex::CommonHeader::size, header.length);
    if (header.msgType == static_cast<uint8_t>(wex::ControlType::hello))
        handleHello(payload);
    else if (header.msgType == static_cast<uint8_t>(wex::ControlType::auth))
        handleAuth(payload);
}

bool TestAgent::recordInput(const wex::OpenedFrame& opened) {
    if (opened.header.stream != wex::Stream::input) return false;
    try {
        inputBatches.push_back(wex::InputBatch::decode(opened.plaintext));
    } catch (const wex::WEXError&) {
    }
    return true;
}

void TestAgent::handleHello(wex::ByteView payload) {
    wex::Hello hello;
    try {
        hello = wex::Hello::decode(payload);
    } catch (const wex::WEXError&) {
        return;
    }
    hellos.push_back(hello);
    if (helloReply == HelloReply::silent) return;

    const wex::EphemeralKey eph;
    const wex::Bytes challenge = wex::Crypto::randomBytes(wex::AgentHandshakeMachine::challengeSize);
    std::optional<wex::HelloAck> ack = handshake_.hello(hello, eph, challenge, 1);
    if (!ack) return;
    switch (helloReply) {
    case HelloReply::tamperChanbind: {
        // What the client computes when a relay swapped in its own ephemeral key.
        const wex::EphemeralKey other;
        ack->chanbind = fixed<32>(wex::WEXHandshake::channelBinding(other.publicKey(), eph.publicKey()));
        break;
    }
    case HelloReply::foreignDeviceId: ack->deviceId[0] ^= 0xff; break;
    case HelloReply::badEphemeralKey: ack->ephPub = {}; break; // all zeros: a point of small order
    default: break;
    }
    sendPlain(wex::ControlType::helloAck, ack->encode());
}

void TestAgent::handleAuth(wex::ByteView payload) {
    wex::Auth auth;
    try {
        auth = wex::Auth::decode(payload);
    } catch (const wex::WEXError&) {
        return;
    }
    auths.push_back(auth);
    if (!handshake_.pending() || authReply == AuthReply::silent) return;
    if (authReply == AuthReply::fail) {
        handshake_.endHandshake();
        refuse(auth.reqId, failReason, failMessage);
        return;
    }
    const bool keyPaired = isPaired(handshake_.pending()->clientStaticPub);
    auto decision = handshake_.auth(auth, connId_ + 1, handshakeTime_, pairingCode, keyPaired);
    if (const auto* refusal = std::get_if<wex::AgentHandshakeMachine::Refuse>(&decision)) {
        handshakeTime_ += refusal->delay;
        refuse(auth.reqId, static_cast<uint8_t>(refusal->fail.reason), refusal->fail.message);
        return;
    }
    const auto* admission = std::get_if<wex::AgentHandshakeMachine::Admit>(&decision);
    if (!admission) return;
    if (admission->pairedByCode && !isPaired(admission->clientStaticPub)) paired.push_back(admission->clientStaticPub);
    wex::AuthOk ok = admission->ok;
    if (authReply == AuthReply::badAgentProof) ok.agentProof[10] ^= 0x01;
    sendPlain(wex::ControlType::authOk, ok.encode());
    session_ = std::make_unique<wex::SecureSession>(admission->keys, wex::Direction::agentToClient);
    sessionPeerPub_ = admission->clientStaticPub;
}

void TestAgent::refuse(uint16_t reqId, uint8_t reason, const std::string& message) {
    const uint64_t id = connId_;
    QTimer::singleShot(refusalDelay, this, [this, id, reqId, reason, message] {
        if (id != connId_) return;
        // Written field by field: scripts may use reasons the catalogue does not know.
        wex::ByteWriter w;
        w.u16(reqId);
        w.u8(reason);
        w.string(message);
        sendPlain(wex::ControlType::authFail, w.bytes);
        QTimer::singleShot(dropAfterRefusal, this, [this, id] {
            if (id == connId_) dropClient();
        });
    });
}

void TestAgent::sendPlain(wex::ControlType type, wex::ByteView payload) {
    write(wex::buildFrame(wex::Stream::control, static_cast<uint8_t>(type), 0, {}, payload));
}

void TestAgent::sendSealed(wex::ControlType type, wex::ByteView payload) {
    if (!session_) return;
    write(session_->sealNext(wex::Stream::control, static_cast<uint8_t>(type), 1, 0, payload));
}

wex::Bytes TestAgent::sealControl(wex::ControlType type, wex::ByteView payload) {
    if (!session_) return {};
    return session_->sealNext(wex::Stream::control, static_cast<uint8_t>(type), 1, 0, payload);
}

wex::Bytes TestAgent::sealMedia(wex::Stream stream, wex::ByteView plaintext, wex::HeaderFlags flags) {
    if (!session_) return {};
    return session_->sealNext(stream, 1, 1, 0, plaintext, flags);
}

void TestAgent::write(wex::ByteView bytes) {
    if (!conn_) return;
    conn_->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    conn_->flush();
}

void TestAgent::dropClient() {
    ++connId_;
    session_.reset();
    handshake_.endHandshake();
    rx_.clear();
    if (conn_) {
        conn_->disconnect(this);
        conn_->disconnectFromHost();
        conn_.release()->deleteLater();
    }
}

} // namespace dovrel::test

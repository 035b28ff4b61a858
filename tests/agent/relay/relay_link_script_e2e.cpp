// The relay link against a scripted relay in the test itself: a TLS server whose every byte the test
// writes, so that replies can be cut, glued to controller bytes or split across reads at will.

#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>

#include "RelayLinkSupport.h"
#include "protocol/CommonHeader.h"
#include "protocol/DeviceIdentity.h"
#include "protocol/EphemeralKey.h"
#include "protocol/Frame.h"
#include "protocol/RelayPreamble.h"
#include "tests/support/relay/RelayRegistration.h"

using namespace dovrel;
using namespace dovrel::test;
using namespace std::chrono_literals;
namespace RR = wex::RelayRegister;

namespace {

wex::Bytes bytesOf(std::string_view s) { return wex::Bytes(s.begin(), s.end()); }

wex::Bytes concat(wex::Bytes a, const wex::Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A controller's Hello as one frame, enough for the agent to answer HelloAck.
wex::Bytes helloFrame() {
    static const wex::DeviceIdentity controller;
    static const wex::EphemeralKey ephemeral;
    wex::Hello hello;
    hello.reqId = 1;
    std::copy_n(controller.publicKey().begin(), hello.deviceId.size(), hello.deviceId.begin());
    hello.staticPub = controller.publicKey();
    hello.ephPub = ephemeral.publicKey();
    hello.deviceName = "Scripted";
    return wex::buildFrame(wex::Stream::control, static_cast<uint8_t>(wex::ControlType::hello), 0, {}, hello.encode());
}

// The control type of the frame at the front of `bytes`, if a whole frame is there.
std::optional<wex::ControlType> frameTypeAt(wex::ByteView bytes) {
    if (bytes.size() < wex::CommonHeader::size) return std::nullopt;
    const auto header = wex::CommonHeader::decode(bytes);
    if (bytes.size() < wex::frameSpan(header)) return std::nullopt;
    return wex::controlTypeFromRaw(header.msgType);
}

// A TLS server on the test's thread: accepts connections, keeps what each sent, writes what the test
// says. The test's event loop (waitUntil) drives it.
class ScriptedRelay {
public:
    explicit ScriptedRelay(const TestCertificates& certs) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificateChain(QSslCertificate::fromPath(QString::fromStdString(certs.certFile)));
        QFile key(QString::fromStdString(certs.keyFile));
        key.open(QIODevice::ReadOnly);
        tls.setPrivateKey(QSslKey(key.readAll(), QSsl::Ec));
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        server_.setSslConfiguration(tls);
        QObject::connect(&server_, &QSslServer::pendingConnectionAvailable, &context_, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection()) {
                auto* tlsSocket = qobject_cast<QSslSocket*>(s);
                const std::size_t index = conns_.size();
                conns_.push_back({tlsSocket, {}, false});
                QObject::connect(tlsSocket, &QSslSocket::readyRead, &context_, [this, index] { drain(index); });
                QObject::connect(tlsSocket, &QSslSocket::disconnected, &context_, [this, index] {
                    drain(index);
                    conns_[index].closed = true;
                });
                drain(index);
            }
        });
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0));
    }

    uint16_t port() const { return server_.serverPort(); }
    std::size_t connections() const { return conns_.size(); }
    bool waitForConnections(std::size_t n, std::chrono::milliseconds timeout = 5000ms) {
        return waitUntil([&] { return conns_.size() >= n; }, timeout);
    }
    bool waitForBytes(std::size_t conn, std::size_t n, std::chrono::milliseconds timeout = 5000ms) {
        return waitUntil([&] { return conns_.size() > conn && conns_[conn].rx.size() >= n; }, timeout);
    }
    bool waitClosed(std::size_t conn) {
        return waitUntil([&] { return conns_.size() > conn && conns_[conn].closed; });
    }
    const wex::Bytes& received(std::size_t conn) const { return conns_[conn].rx; }
    void write(std::size_t conn, const wex::Bytes& bytes) {
        conns_[conn].socket->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        conns_[conn].socket->flush();
    }

private:
    struct Conn {
        QSslSocket* socket; // owned by the server
        wex::Bytes rx;
        bool closed;
    };
    void drain(std::size_t index) {
        const QByteArray data = conns_[index].socket->readAll();
        conns_[index].rx.insert(conns_[index].rx.end(), data.begin(), data.end());
    }

    QSslServer server_;
    std::vector<Conn> conns_;
    QObject context_; // goes first, and with it every handler that uses the members above
};

class ScriptedRelayTest : public RelayLinkTest {
protected:
    AgentHarness& agentAt(const ScriptedRelay& relay, const std::string& extraJson) {
        AgentHarness::Options o;
        o.relayJson = pinnedRelayJson(relay.port(), false, extraJson);
        return startAgent(std::move(o));
    }
};

} // namespace

TEST_F(ScriptedRelayTest, ANonceIsAnsweredWithTheBareSignatureAndControllerBytesInTheSameReadAreServed) {
    ScriptedRelay relay(certs_);
    AgentHarness& h = agentAt(relay, accountJson("acme", "tok-9"));
    ASSERT_TRUE(relay.waitForConnections(1));

    // The version 2 preamble names the account, the room (the key's device identifier), the token and
    // the key, and nothing follows it until the relay answers.
    const wex::Bytes withoutKey = RR::encodeV2(wex::RelayRole::agent, "acme", room(h), "tok-9", {});
    ASSERT_TRUE(relay.waitForBytes(0, withoutKey.size() + 32));
    const auto parsed = relay::parseRegistration(relay.received(0));
    ASSERT_TRUE(std::holds_alternative<relay::Registration>(parsed));
    const auto reg = std::get<relay::Registration>(parsed);
    EXPECT_EQ(reg.version, 2);
    EXPECT_EQ(reg.role, wex::RelayRole::agent);
    EXPECT_EQ(reg.account, "acme");
    EXPECT_EQ(reg.room, room(h));
    EXPECT_EQ(reg.token, "tok-9");
    ASSERT_EQ(reg.pubKey.size(), 32u);
    EXPECT_EQ(relay.received(0).size(), reg.consumed);

    // The nonce and the controller's Hello arrive in one write.
    const wex::Bytes nonce(32, 0x5C);
    relay.write(0, concat(concat(bytesOf(RR::nonceTag), nonce), helloFrame()));
    const std::size_t afterPreamble = reg.consumed;
    ASSERT_TRUE(relay.waitForBytes(0, afterPreamble + 64 + wex::CommonHeader::size));
    const wex::ByteView rest = wex::ByteView(relay.received(0)).subspan(afterPreamble);
    EXPECT_TRUE(wex::DeviceIdentity::verify(rest.first(64),
                                            RR::challenge(wex::RelayRole::agent, "acme", room(h), nonce), reg.pubKey));
    ASSERT_TRUE(waitUntil(
        [&] { return frameTypeAt(wex::ByteView(relay.received(0)).subspan(afterPreamble + 64)).has_value(); }));
    EXPECT_EQ(frameTypeAt(wex::ByteView(relay.received(0)).subspan(afterPreamble + 64)), wex::ControlType::helloAck);
    EXPECT_TRUE(h.log.has("• relay: room ownership proved for account acme"));
    EXPECT_TRUE(h.log.has("• relay controller arrived"));
    EXPECT_FALSE(h.log.has("resetting session")) << "no session was there to reset";
    EXPECT_TRUE(h.log.has("• HELLO from \"Scripted\""));
}

TEST_F(ScriptedRelayTest, WithoutAnAccountTheRoomIsRegisteredAndEveryByteAfterItIsTheControllers) {
    ScriptedRelay relay(certs_);
    AgentHarness& h = agentAt(relay, "");
    ASSERT_TRUE(relay.waitForConnections(1));
    const wex::Bytes preamble = RR::encode(wex::RelayRole::agent, room(h));
    ASSERT_TRUE(relay.waitForBytes(0, preamble.size()));
    EXPECT_EQ(relay.received(0), preamble);

    // Even bytes that look like a relay reply are the controller's here: skipped as garbage by the
    // frame reader, after which the Hello is answered.
    relay.write(0, concat(bytesOf("DRLYN"), helloFrame()));
    ASSERT_TRUE(
        waitUntil([&] { return frameTypeAt(wex::ByteView(relay.received(0)).subspan(preamble.size())).has_value(); }));
    EXPECT_EQ(frameTypeAt(wex::ByteView(relay.received(0)).subspan(preamble.size())), wex::ControlType::helloAck);
    EXPECT_FALSE(h.log.has("ownership proved"));
}

TEST_F(ScriptedRelayTest, AnAccountRegistrationWithoutAReplyTakesTheFirstForeignBytesAsTheController) {
    ScriptedRelay relay(certs_);
    AgentHarness& h = agentAt(relay, accountJson("acme", "t"));
    ASSERT_TRUE(relay.waitForConnections(1));
    ASSERT_TRUE(relay.waitForBytes(0, 10));
    h.letArrive();
    const std::size_t preamble = relay.received(0).size();

    // "DRL" could still be a reply: the link waits; "DRLX" cannot, and all of it is the controller's.
    relay.write(0, bytesOf("DRL"));
    h.letArrive();
    EXPECT_FALSE(h.log.has("• relay controller arrived"));
    relay.write(0, concat(bytesOf("X"), helloFrame()));
    ASSERT_TRUE(waitUntil([&] { return frameTypeAt(wex::ByteView(relay.received(0)).subspan(preamble)).has_value(); }));
    EXPECT_EQ(frameTypeAt(wex::ByteView(relay.received(0)).subspan(preamble)), wex::ControlType::helloAck);
}

TEST_F(ScriptedRelayTest, ARedirectSplitAcrossReadsMovesTheLinkToTheNamedNode) {
    ScriptedRelay first(certs_);
    ScriptedRelay second(certs_);
    AgentHarness& h = agentAt(first, accountJson("acme", "t"));
    ASSERT_TRUE(first.waitForConnections(1));
    ASSERT_TRUE(first.waitForBytes(0, 10));

    const std::string target = "127.0.0.1:" + std::to_string(second.port());
    const wex::Bytes reply = relay::redirectReply(target);
    first.write(0, wex::Bytes(reply.begin(), reply.begin() + 4));
    h.letArrive();
    first.write(0, wex::Bytes(reply.begin() + 4, reply.begin() + 9));
    h.letArrive();
    EXPECT_FALSE(h.log.has("• relay REDIRECT"));
    first.write(0, wex::Bytes(reply.begin() + 9, reply.end()));
    ASSERT_TRUE(h.log.waitFor("• relay REDIRECT → " + target + " (another node owns this room)"));
    EXPECT_TRUE(first.waitClosed(0)) << "the redirecting node's connection stays open";

    advance(h, 199ms);
    h.letArrive();
    EXPECT_EQ(second.connections(), 0u);
    advance(h, 1ms);
    ASSERT_TRUE(second.waitForConnections(1));
    ASSERT_TRUE(second.waitForBytes(0, 10));
    EXPECT_EQ(first.connections(), 1u);
}

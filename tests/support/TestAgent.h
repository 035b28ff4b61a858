#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include "protocol/AgentHandshakeMachine.h"
#include "protocol/Bytes.h"
#include "protocol/ControlType.h"
#include "protocol/DeviceIdentity.h"
#include "protocol/InputMessages.h"
#include "protocol/SecureSession.h"
#include "protocol/SessionKeys.h"
#include "protocol/SessionSetupMessages.h"
#include "protocol/StreamFramer.h"

namespace dovrel::test {

// A scripted agent for the controller's end-to-end tests. It listens on loopback (TCP for control,
// UDP for input, on ports of its choosing unless told), runs the agent's side of the handshake with
// the protocol library — HelloAck, then AuthOk for a paired key or the right pairing code, AuthFail
// with the reason otherwise — and then speaks sealed frames. Scripts bend single steps (no answer, a
// tampered binding, a forced refusal) and every message it sees is recorded. It also serves streams
// handed to it by the relay stub. Lives on the test's main thread.
class TestAgent final : public QObject {
public:
    enum class HelloReply {
        answer,
        silent,          // never answers Hello
        tamperChanbind,  // a binding over other keys, as a relay in the middle would produce
        foreignDeviceId, // an identifier that is not its key's
        badEphemeralKey, // an ephemeral key no one can agree with
    };
    enum class AuthReply {
        verify,        // what the real agent does
        silent,        // never answers Auth
        fail,          // AuthFail with `failReason` and `failMessage`, whatever the proof
        badAgentProof, // AuthOk with a proof the client cannot verify
    };

    explicit TestAgent(QObject* parent = nullptr);
    ~TestAgent() override;

    // Loopback listeners; 0 picks free ports. False when a port is taken.
    bool listen(uint16_t controlPort = 0, uint16_t inputPort = 0);
    uint16_t controlPort() const { return server_.serverPort(); }
    uint16_t inputPort() const { return input_.localPort(); }

    const wex::DeviceIdentity& identity() const { return identity_; }
    void setIdentity(wex::DeviceIdentity identity) { identity_ = std::move(identity); }
    // Lower-case hex of the first 16 bytes of the public key: the agent's relay room.
    std::string deviceId() const;

    // Pairing.
    std::string pairingCode = "123456";
    std::vector<wex::Bytes> paired;
    bool isPaired(wex::ByteView pub) const;

    // Scripts.
    HelloReply helloReply = HelloReply::answer;
    AuthReply authReply = AuthReply::verify;
    uint8_t failReason = static_cast<uint8_t>(wex::AuthFailReason::badProof);
    std::string failMessage;
    std::chrono::milliseconds refusalDelay{0};
    std::chrono::milliseconds dropAfterRefusal{200};
    bool refuseWhileInSession = true; // a second controller gets AuthFail "too many sessions"
    bool answerPings = true;          // a Pong for every Ping, as the real agent does
    uint64_t clockUs = 0;             // the agent's clock in its Pongs; 0: its own monotonic one

    // What it saw.
    int connectionsAccepted = 0;
    int connectionsEnded = 0; // ended by the controller: closed, or a bye
    std::vector<wex::Hello> hellos;
    std::vector<wex::Auth> auths;
    struct Sealed {
        uint8_t type = 0;
        uint32_t seq = 0;
        wex::Bytes plaintext;
    };
    std::vector<Sealed> sealedReceived;
    // Control messages that came unsealed while a session stood (a handshake the session should not run).
    std::vector<uint8_t> plainInSession;
    int inputDatagrams = 0;
    // Input batches that opened and decoded, from datagrams or the relay stream, in arrival order.
    std::vector<wex::InputBatch> inputBatches;
    bool inSession() const { return session_ != nullptr; }

    // Serves a stream that reached it some other way (through the relay stub); `already` holds bytes
    // read from it before.
    void adopt(QTcpSocket* socket, const QByteArray& already);
    void sendSealed(wex::ControlType type, wex::ByteView payload);
    // A sealed frame of the session on `stream` with the stream's next sequence number, for the test to
    // send as it likes (video pieces by UDP, or glued into the control stream for a relay); empty
    // without a session.
    wex::Bytes sealMedia(wex::Stream stream, wex::ByteView plaintext, wex::HeaderFlags flags = {});
    // A sealed control frame of the session with the stream's next sequence number, for the test to send
    // as it likes; empty without a session.
    wex::Bytes sealControl(wex::ControlType type, wex::ByteView payload);
    // Writes raw bytes to the control connection.
    void writeRaw(wex::ByteView bytes) { write(bytes); }
    // The control connection's socket, -1 without one: a test may write to it from a thread of its own
    // while this object is left alone.
    qintptr controlDescriptor() const { return conn_ ? conn_->socketDescriptor() : -1; }
    void dropClient();

private:
    void onNewConnection();
    void onReadable();
    void drain();
    void onFrame(const wex::CommonHeader& header, const wex::Bytes& frame);
    // Keeps an opened input-stream frame's batch; false for any other stream.
    bool recordInput(const wex::OpenedFrame& opened);
    void handleHello(wex::ByteView payload);
    void handleAuth(wex::ByteView payload);
    void refuse(uint16_t reqId, uint8_t reason, const std::string& message);
    void sendPlain(wex::ControlType type, wex::ByteView payload);
    void write(wex::ByteView bytes);

    QTcpServer server_;
    QUdpSocket input_;
    wex::DeviceIdentity identity_;
    // The real agent's decisions; its waits are the script's (`refusalDelay`), so its own clock moves
    // on by each refusal's wait and the pairing-code gate never closes on a script.
    wex::AgentHandshakeMachine handshake_{identity_};
    wex::AgentHandshakeMachine::Time handshakeTime_{};
    std::unique_ptr<QTcpSocket> conn_;
    uint64_t connId_ = 0; // which connection delayed replies belong to
    wex::StreamFramer rx_;
    std::unique_ptr<wex::SecureSession> session_;
    wex::Bytes sessionPeerPub_;
};

} // namespace dovrel::test

#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/AudioFrame.h"
#include "protocol/Bytes.h"
#include "protocol/Cap.h"
#include "protocol/CommonHeader.h"
#include "protocol/ControlType.h"
#include "protocol/ControllerHandshakeMachine.h"
#include "protocol/DeviceIdentity.h"
#include "protocol/InputMessages.h"
#include "protocol/SecureSession.h"
#include "protocol/SessionSetupMessages.h"
#include "protocol/StreamFramer.h"
#include "protocol/VideoPayload.h"

struct ssl_st;
struct ssl_ctx_st;

namespace dovrel::test {

// A frame the controller received. `payload` is the opened plaintext of a sealed frame when the
// controller has a session, else the bytes after the header.
struct ReceivedFrame {
    wex::CommonHeader header;
    wex::Bytes payload;
    bool sealed = false;
    uint32_t seq = 0; // of a sealed frame

    std::optional<wex::ControlType> type() const { return wex::controlTypeFromRaw(header.msgType); }
};

// One video payload, put together from its pieces as the controller's reassembler does.
struct ReceivedVideoFrame {
    wex::VideoNALHeader header;
    std::vector<wex::Bytes> nals;
    std::vector<uint32_t> seqs; // of its pieces, in the order they arrived
};

struct ReceivedAudioFrame {
    wex::AudioFrame frame;
    uint32_t seq = 0;
};

// What the agent answered to Auth.
struct AuthResult {
    std::optional<wex::AuthOk> ok;
    std::optional<wex::AuthFail> fail;
    bool agentProofValid = false; // the AuthOk's proof verifies against the agent's key and this handshake
};

// How a controller reaches an agent through a relay: TLS to the relay (trusting only `caFile`, the host
// name or address verified), then its registration preamble as role client: version 1 names the room,
// version 2 (when `account` is set) the account, room and token, without a key.
struct RelayDial {
    uint16_t port = 0;
    std::string caFile;
    std::string room;
    std::string account;
    std::string token;
    std::string host = "127.0.0.1";
};

// A scripted controller built on the protocol library alone, with plain blocking sockets: it dials the
// agent's control port (or a relay, over TLS with OpenSSL), runs the handshake step by step (by key or by
// pairing code), sends control messages and input, and receives plain and sealed frames on the control
// connection and video on its own UDP port (through a relay: on the stream). Use it from one thread.
// Every wait takes a time-out, so a silent agent fails a test instead of hanging it.
class TestController {
public:
    using ms = std::chrono::milliseconds;
    static constexpr ms defaultWait{3000};

    // Video arrives at `videoHost` (an address of this host, or of the network namespace the calling
    // thread is in).
    explicit TestController(wex::DeviceIdentity identity = wex::DeviceIdentity(), std::string name = "Test Controller",
                            const std::string& videoHost = "127.0.0.1");
    ~TestController();
    TestController(const TestController&) = delete;
    TestController& operator=(const TestController&) = delete;

    const wex::DeviceIdentity& identity() const { return identity_; }
    wex::Bytes publicKey() const { return wex::Bytes(identity_.publicKey().begin(), identity_.publicKey().end()); }
    // The UDP port, on the video host, where this controller receives video.
    uint16_t videoPort() const { return videoPort_; }

    // TCP to the agent's control port; the input port is where sendInput aims.
    bool connect(uint16_t controlPort, uint16_t inputPort = 0, const std::string& host = "127.0.0.1");
    // TLS to the relay and the registration preamble; false when TLS or its verification fails. The
    // agent sees the controller at its first frame.
    bool connectRelay(const RelayDial& dial);
    void close();
    bool connected() const { return tcp_ >= 0; }
    bool viaRelay() const { return ssl_ != nullptr; }

    // ---- sending
    bool sendRaw(wex::ByteView bytes);
    bool sendPlain(wex::ControlType type, wex::ByteView payload);
    // Sealed on the control stream (or `stream`); needs a session.
    bool sendSealed(wex::ControlType type, wex::ByteView payload, wex::Stream stream = wex::Stream::control);
    // The bytes sendSealed would send, for tests that cut or glue frames themselves.
    wex::Bytes sealed(wex::ControlType type, wex::ByteView payload, wex::Stream stream = wex::Stream::control);
    // One sealed input batch: a datagram to the agent's input port, or on the stream through a relay.
    bool sendInput(const wex::InputBatch& batch);
    bool sendDatagram(wex::ByteView bytes);

    // ---- receiving
    std::optional<ReceivedFrame> receive(ms timeout = defaultWait);
    // The next frame of this control type; frames of other types are skipped.
    std::optional<ReceivedFrame> receiveType(wex::ControlType type, ms timeout = defaultWait);
    // True when nothing arrives within `window` and the connection stays open.
    bool quietFor(ms window);
    // True once the agent has closed the connection (frames still arriving are read and dropped).
    bool closedByAgent(ms timeout = defaultWait);
    // The next video datagram that opens with the session. One `lost` says of is dropped unopened, as one
    // lost on the way is: its copy, if one comes, still opens.
    std::optional<wex::OpenedFrame> receiveVideo(ms timeout = defaultWait,
                                                 const std::function<bool(wex::ByteView)>& lost = {});
    // The media the agent sends to the video port, sorted by stream: whole video payloads put together
    // from their pieces (at most 25 unfinished ones are held; a newer whole one gives up the older
    // unfinished ones), and audio frames. Reading one kind keeps the other for later. Do not mix with
    // receiveVideo, which takes datagrams as they come.
    std::optional<ReceivedVideoFrame> receiveVideoFrame(ms timeout = defaultWait);
    std::optional<ReceivedAudioFrame> receiveAudioFrame(ms timeout = defaultWait);
    // Video payloads given up on because pieces were missing, since the session began.
    std::size_t videoFramesLost() const { return videoLost_; }
    // The sequence numbers of the media frames of this session, in arrival order, per stream.
    const std::vector<uint32_t>& videoSeqs() const { return videoSeqs_; }
    const std::vector<uint32_t>& audioSeqs() const { return audioSeqs_; }
    // Sends a ping on the control connection, so that a long media test keeps the session alive; the
    // pong waits with the other control frames.
    void keepAlive();
    // The next frame on `stream` from the connection (through a relay, video and audio come this way);
    // frames on other streams are skipped.
    std::optional<ReceivedFrame> receiveOnStream(wex::Stream stream, ms timeout = defaultWait);

    // ---- handshake, step by step
    void sendHello(uint32_t capabilities = wex::Cap::screenClient, bool capabilitiesPresent = true,
                   wex::AuthMode mode = wex::AuthMode::keypair);
    // Waits for HelloAck and checks it (device identifier from the static key, channel binding); derives
    // the session keys. Nothing when it does not come or does not check out.
    std::optional<wex::HelloAck> awaitHelloAck(ms timeout = defaultWait);
    void sendAuthWithKey(uint16_t reqId = 2);
    void sendAuthWithCode(const std::string& code, uint16_t reqId = 2);
    // Waits for AuthOk or AuthFail; on a valid AuthOk the session is set up.
    std::optional<AuthResult> awaitAuthResult(ms timeout = defaultWait);

    // The whole handshake in one go; true on a valid AuthOk.
    bool authenticateWithKey(uint32_t capabilities = wex::Cap::screenClient);
    bool authenticateWithCode(const std::string& code, uint32_t capabilities = wex::Cap::screenClient);

    bool hasSession() const { return session_ != nullptr; }
    uint32_t sessionId() const { return sessionId_; }
    const wex::Bytes& agentStaticPub() const { return agentStaticPub_; }

private:
    struct SslFree {
        void operator()(ssl_st* ssl) const;
    };
    struct SslCtxFree {
        void operator()(ssl_ctx_st* ctx) const;
    };

    bool writeAll(wex::ByteView bytes);
    bool writeAllTls(wex::ByteView bytes);
    // One read from the TLS stream; false on its end.
    bool fillTls(ms timeout);
    // Reads what is there within `timeout` into the buffer; false on EOF or error.
    bool fill(ms timeout);
    std::optional<ReceivedFrame> takeFrame();
    // Reads media datagrams until `until`, or until `enough` says so; false when the time ran out.
    bool pumpMedia(std::chrono::steady_clock::time_point until, const std::function<bool()>& enough);
    void mediaDatagram(wex::ByteView datagram);
    void resetMedia();

    wex::DeviceIdentity identity_;
    std::string name_;
    int tcp_ = -1;
    std::unique_ptr<ssl_ctx_st, SslCtxFree> sslCtx_;
    std::unique_ptr<ssl_st, SslFree> ssl_;
    int video_ = -1;
    int input_ = -1;
    uint16_t videoPort_ = 0;
    uint16_t inputPort_ = 0;
    std::string host_ = "127.0.0.1";
    bool peerClosed_ = false;
    wex::StreamFramer rx_;

    // Handshake state: the controller's own decisions, as the real client makes them.
    wex::ControllerHandshakeMachine::Self self() const;
    wex::ControllerHandshakeMachine handshake_;
    wex::Bytes agentStaticPub_;
    std::shared_ptr<wex::SecureSession> session_;
    uint32_t sessionId_ = 0;

    // Media of the session.
    struct PartialFrame {
        std::vector<std::optional<wex::Bytes>> pieces;
        std::size_t have = 0;
        std::vector<uint32_t> seqs;
    };
    std::map<uint32_t, PartialFrame> partial_;
    std::deque<ReceivedVideoFrame> videoFrames_;
    std::deque<ReceivedAudioFrame> audioFrames_;
    std::vector<uint32_t> videoSeqs_;
    std::vector<uint32_t> audioSeqs_;
    std::size_t videoLost_ = 0;
    uint16_t pingId_ = 1000;
};

} // namespace dovrel::test

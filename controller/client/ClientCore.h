#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include <QList>
#include <QObject>
#include <QSslCertificate>

#include "controller/client/AgentClock.h"
#include "controller/client/AudioThread.h"
#include "controller/client/ClientConfig.h"
#include "controller/client/ClientSecurity.h"
#include "controller/client/HandshakeState.h"
#include "controller/client/Phase.h"
#include "controller/client/Reassembler.h"
#include "controller/client/SessionChannel.h"
#include "controller/client/SessionLiveness.h"
#include "controller/client/StreamLink.h"
#include "controller/client/VideoDecoder.h"
#include "protocol/Bytes.h"
#include "protocol/CommonHeader.h"
#include "protocol/ControlType.h"
#include "protocol/EphemeralKey.h"
#include "protocol/RelayIdentity.h"
#include "protocol/SecureSession.h"
#include "protocol/SessionCmd.h"
#include "protocol/SessionKeys.h"
#include "protocol/StreamFramer.h"
#include "runtime/Scheduler.h"

class QUdpSocket;

namespace dovrel::controller {

class WEXClient;

// The state a WEXClient keeps on its "dovrel.client" thread: the links, the frame reader, the
// handshake, the watchdogs and the unpair flow. Created, used and destroyed on that thread only; it
// reaches the interface by posting published values to the WEXClient on the main thread.
//
// Generations: `gen_` grows whenever the links are replaced or abandoned; every link callback and
// every delayed re-dial carries the generation it was made in and does nothing once it is stale.
class ClientCore {
public:
    ClientCore(WEXClient& owner, const ClientConfig& config, std::shared_ptr<ClientSecurity> security,
               Scheduler& clock);
    ~ClientCore();
    ClientCore(const ClientCore&) = delete;
    ClientCore& operator=(const ClientCore&) = delete;

    // Entry points; each runs on the client thread, posted by the WEXClient in call order.
    void connectLan(const std::string& hostText, std::optional<std::string> code);
    void connectRelay(const std::string& room, const std::string& name, const wex::RelayIdentity& identity,
                      std::optional<std::string> code);
    void disconnect();
    void cancelPairing();
    void revokePairing(const std::string& deviceId, const std::string& name, const wex::RelayIdentity& identity,
                       std::function<void(bool)> done);
    void startDemo();

    // Sealed control messages of the established session (nothing without one).
    void sendControlSecure(wex::ByteView payload, wex::ControlType type);
    // Long transfers (ClientFileSend.cpp): the session they belong to (none while its link is down), and
    // a message sent only in that session, `done` once the link has room for more.
    SessionChannel::SessionRef sessionRef() const;
    void sendInSession(const SessionChannel::SessionRef& session, wex::ControlType type, wex::ByteView payload,
                       std::function<void(bool sent)> done);
    // One input batch, or a session command, for the session the main thread saw as `session`;
    // dropped when that session is over (ClientInput.cpp).
    void sendInput(uint64_t session, const wex::Bytes& payload);
    void sendSessionCommand(uint64_t session, wex::SessionCmd command);

    // One sealed frame of the video or audio stream, from the video listener or the relay stream.
    void onVideoDatagram(wex::ByteView frame);
    // Asks the agent for a keyframe now (a new surface wants a picture at once).
    void requestKeyframe();
    // Muting keeps received sound from playing and stops what plays.
    void setAudioMuted(bool muted);

    VideoDecoder& decoder() { return *decoder_; }
    const Reassembler& reassembler() const { return reasm_; }
    const AudioThread& audioPlayer() const { return audio_; }
    const AgentClock& agentClock() const { return agentClock_; }

    // For tests and diagnostics.
    uint64_t generation() const { return gen_; }
    uint16_t boundVideoPort() const;
    int64_t rxBytes() const { return rxBytes_; }
    const Phase& phase() const { return phase_; }
    bool hasSession() const { return session_ != nullptr; }
    const wex::RelayIdentity& relayIdentity() const { return relayIdentity_; }
    const std::string& relayRoom() const { return relayRoom_; }
    const std::string& host() const { return host_; }
    HandshakeStage handshakeStage() const { return handshake_.stage(); }
    uint32_t advertisedCaps() const { return advertisedCaps_; }

private:
    // Published state (posted to the main thread, in order).
    void post(std::function<void(WEXClient&)> fn);
    void setPhase(Phase p);
    void setStatus(std::string_view text);
    void markReconnecting();

    void dialRelay(const std::string& room, const std::string& name, const wex::RelayIdentity& identity,
                   std::optional<std::string> code, bool forRevoke);

    // Watchdogs and stopping.
    void beginAttempt(std::optional<std::string> code, bool forRevoke);
    void armReachTimeout(const std::string& host);
    void clearReachTimeout();
    void armHandshakeDeadline();
    void onHandshakeDeadline();
    void haltReconnect();
    void rejectAndHalt(const std::string& message, std::optional<std::string_view> status);
    void closeEveryLink();
    void dropSession();
    void cancelLinksKeepingGeneration();
    void redialAfter(Duration delay, std::function<void()> redial);
    // Runs `fn` as a separate step on this thread, unless the links change first.
    void soon(std::function<void()> fn);

    // Links (ClientLinks.cpp).
    void startControl();
    void startInput();
    void startVideoListener();
    void startRelay(const std::string& room);
    void onControlState(uint64_t g, StreamLink::State state, const QString& detail);
    void onRelayState(uint64_t g, const std::string& room, StreamLink::State state, const QString& detail);
    void onRelayData(uint64_t g, StreamLink* link, wex::ByteView data);
    void applyRelayRedirect(const std::string& text);
    void readVideoDatagrams();

    // Framing (ClientFraming.cpp).
    void receive(wex::ByteView data);
    void drainControl();
    void handleControl(const wex::CommonHeader& header, const wex::Bytes& payload);
    void sendKeyframeRequest();
    void sendPlain(wex::ControlType type, wex::ByteView payload);
    void sendOnLink(wex::ByteView frame);

    // Handshake (ClientHandshake.cpp).
    void sendHello();
    void handleHelloAck(wex::ByteView payload);
    void decideAuth();
    void sendAuth(const std::optional<wex::Auth>& auth);
    void handleAuthOk(wex::ByteView payload);
    void handleAuthFail(wex::ByteView payload);
    std::optional<std::string> knownCode() const;
    void restartLinkAfter(Duration delay);

    // Control dispatch (ClientDispatch.cpp).
    void dispatchSessionControl(wex::ControlType type, const wex::Bytes& payload);
    void handleDisplayList(wex::ByteView payload);
    void handlePong(wex::ByteView payload);
    void handleBye(wex::ByteView payload);
    void handleAgentError(wex::ByteView payload);
    void handleDeckStat(wex::ByteView payload);
    void handleClipFileMessage(wex::ControlType type, wex::ByteView payload);
    void handleClipboard(wex::ByteView payload);
    void handleWakePeerAck(wex::ByteView payload);

    // Whether `session` is the session and its link is up.
    bool sessionIsLive(const SessionChannel::SessionRef& session) const;
    // Runs `fn` once at most `limit` bytes wait on the link (or the link is down).
    void whenLinkDrains(int64_t limit, std::function<void()> fn);

    // Liveness (ClientLiveness.cpp).
    void startPing();
    void livenessTick();

    // Video and audio receive (ClientMedia.cpp).
    void onVideoPiece(const wex::OpenedFrame& opened, Instant receivedAt);
    void onAudioFrame(wex::ByteView plaintext);
    void requestKeyframeIfGap(uint32_t frameId);
    // At most one request per 250 ms: for gaps, oversized frames and a stuck decoder.
    void requestKeyframeSoon();
    void onPictureDisplayed();

    // Input (ClientInput.cpp): the session input goes to, published to the main thread.
    void beginInputSession();
    void endInputSession();

    // Unpair flow (ClientRevoke.cpp).
    void cancelRevoke();
    void finishRevoke(bool told);

    WEXClient& owner_;
    std::unique_ptr<QObject> context_; // on this thread: the target of `soon`
    ClientConfig config_;
    std::shared_ptr<ClientSecurity> security_;
    Scheduler& clock_;
    QList<QSslCertificate> relayCas_;
    std::string deviceName_;

    // Links.
    LinkPtr control_;
    LinkPtr relay_;
    std::unique_ptr<QUdpSocket, DeleteLater> input_;
    std::unique_ptr<QUdpSocket, DeleteLater> video_;
    bool isRelay_ = false;
    std::string host_ = "127.0.0.1";
    uint16_t controlPortNow_ = 0;
    uint64_t gen_ = 0;
    wex::StreamFramer rx_;
    int64_t rxBytes_ = 0;

    // Relay.
    std::string relayRoom_;
    std::string agentRoom_;
    wex::RelayIdentity relayIdentity_;
    bool relayPreambleDone_ = true;
    wex::Bytes relayPreBuf_;

    // Handshake.
    std::optional<std::string> enteredCode_;
    HandshakeState handshake_;
    std::shared_ptr<wex::SecureSession> session_;
    uint32_t sessionId_ = 0;
    uint32_t advertisedCaps_;
    uint32_t agentCaps_ = 0;
    bool agentCapsPresent_ = false;
    uint32_t lastVideoFrameId_ = 0;
    // Machines whose agent said it does not know our key: their next proof is the pairing code, until
    // a session with them exists again.
    std::set<std::string> codeRequired_;

    // Watchdogs, re-dials and the phase as this thread last set it.
    Phase phase_;
    uint64_t attempt_ = 0;
    bool reachedControl_ = false;
    bool deadlineArmed_ = false; // once per attempt
    std::unique_ptr<Timer> reachTimer_, handshakeTimer_, redialTimer_, videoRetryTimer_, pingTimer_;
    int demoTicks_ = 0;

    // Liveness: pings, answers, frame and byte counts per tick; and the agent's clock the answers map.
    SessionLiveness liveness_;
    AgentClock agentClock_;
    // The last keyframe request, for gaps and a still picture alike; zero until the first.
    Instant lastKeyframeReqAt_{};

    // Video and audio receive.
    Reassembler reasm_;
    wex::Bytes datagram_; // the video listener's read buffer
    std::pair<int, int> publishedSize_{0, 0};
    std::optional<wex::VideoNALHeader> lastVideoHeader_; // stands in for a broken frame's lost header
    std::atomic<bool> firstPictureWanted_{true};
    AudioThread audio_; // the sound server is reached there, never on this thread
    std::atomic<bool> audioMuted_{false};
    int64_t audioFramesIn_ = 0;
    int64_t audioSamplesIn_ = 0;
    int64_t audioDecodeFails_ = 0;

    // The number of the established session input goes to (0 without one), and the last one given.
    uint64_t inputSession_ = 0;
    uint64_t inputSessionsMade_ = 0;

    // Unpair flow: armed by revokePairing, ended once by AuthOk from that machine (true), its time-out
    // (false) or another connect (false).
    struct PendingRevoke {
        std::string room;
        uint64_t attempt = 0;
        std::function<void(bool)> done;
    };
    std::optional<PendingRevoke> revoke_;
    std::unique_ptr<Timer> revokeTimer_;

    // Last: its thread, which calls back into this object, stops before anything else goes.
    std::unique_ptr<VideoDecoder> decoder_;
};

} // namespace dovrel::controller

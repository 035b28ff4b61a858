#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include <QObject>

#include "controller/client/audio/AudioThread.h"
#include "controller/client/link/ClientSecurity.h"
#include "controller/client/link/SessionChannel.h"
#include "controller/client/link/StreamLink.h"
#include "controller/client/session/AgentClock.h"
#include "controller/client/session/AttemptWatchdogs.h"
#include "controller/client/session/ClientConfig.h"
#include "controller/client/session/ControlDispatch.h"
#include "controller/client/session/Phase.h"
#include "controller/client/session/SessionLinks.h"
#include "controller/client/session/SessionLiveness.h"
#include "controller/client/session/WindowNews.h"
#include "controller/client/unpair/UnpairFlow.h"
#include "controller/client/video/Reassembler.h"
#include "controller/client/video/SlowLinkWatch.h"
#include "controller/client/video/VideoDecoder.h"
#include "controller/platform/ClientLog.h"
#include "protocol/Bytes.h"
#include "protocol/CommonHeader.h"
#include "protocol/ControlType.h"
#include "protocol/ControllerHandshakeMachine.h"
#include "protocol/EphemeralKey.h"
#include "protocol/RelayIdentity.h"
#include "protocol/SecureSession.h"
#include "protocol/SessionCmd.h"
#include "protocol/SessionKeys.h"
#include "protocol/StreamFramer.h"
#include "runtime/Scheduler.h"
#include "runtime/ThrottledLog.h"

namespace dovrel::controller {

class WEXClient;

// The relay's way to a machine that is dialled on the local network first: its room, its name for
// texts and the credentials to register with.
struct RelayRoute {
    std::string room;
    std::string name;
    wex::RelayIdentity identity;
};

// The state a WEXClient keeps on its "dovrel.client" thread: the frame reader, the handshake, the
// session, liveness and media receive, over the links (SessionLinks), an attempt's deadlines
// (AttemptWatchdogs), the control dispatch (ControlDispatch) and the unpair flow (UnpairFlow), each an
// object of its own that reaches back through a narrow host interface. Created, used and destroyed on that thread only;
// it reaches the interface by posting published values to the WEXClient on the main thread.
//
// Generations: the links' generation grows whenever they are replaced or abandoned; a step run
// `soon` carries the generation it was made in and does nothing once it is stale.
class ClientCore : private SessionLinks::Host,
                   private AttemptWatchdogs::Host,
                   private ControlDispatch::Host,
                   private UnpairFlow::Host {
public:
    ClientCore(WEXClient& owner, const ClientConfig& config, std::shared_ptr<ClientSecurity> security,
               Scheduler& clock);
    ~ClientCore() override;
    ClientCore(const ClientCore&) = delete;
    ClientCore& operator=(const ClientCore&) = delete;

    // How long a host on the local network has to answer before the relay is tried instead.
    static constexpr Duration lanAnswerWindow = std::chrono::seconds(3);

    // Entry points; each runs on the client thread, posted by the WEXClient in call order.
    // `name` names the machine in texts (empty: it is called by its address). With `relay`, the relay is
    // dialled instead when the host does not answer (no route, or no reply within lanAnswerWindow); a
    // host that answers and refuses is not running DOVRELÆ, which is said at once.
    void connectLan(const std::string& hostText, const std::string& name, std::optional<std::string> code,
                    std::optional<RelayRoute> relay = std::nullopt);
    void connectRelay(const std::string& room, const std::string& name, const wex::RelayIdentity& identity,
                      std::optional<std::string> code);
    void disconnect() override;
    void cancelPairing();
    void revokePairing(const UnpairTarget& target, std::function<void(UnpairOutcome)> done);
    void startDemo();
    // The identity was read: a dial that waited for it goes now.
    void identityKnown();

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
    // Muting keeps received sound from playing and stops what plays.
    void setAudioMuted(bool muted);

    VideoDecoder& decoder() { return *decoder_; }
    const Reassembler& reassembler() const { return reasm_; }
    const AudioThread& audioPlayer() const { return audio_; }
    const AgentClock& agentClock() const { return agentClock_; }

    // For tests and diagnostics.
    uint64_t generation() const { return links_.generation(); }
    uint16_t boundVideoPort() const { return links_.boundVideoPort(); }
    int64_t rxBytes() const { return links_.receivedBytes(); }
    const Phase& phase() const { return phase_; }
    bool hasSession() const { return session_ != nullptr; }
    std::shared_ptr<const wex::SecureSession> session() const { return session_; }
    const wex::RelayIdentity& relayIdentity() const { return links_.relayIdentity(); }
    const std::string& relayRoom() const { return links_.relayRoom(); }
    const std::string& host() const { return links_.host(); }
    HandshakeStage handshakeStage() const;
    uint32_t advertisedCaps() const { return advertisedCaps_; }

private:
    // Published state (posted to the main thread, in order).
    void post(std::function<void(WEXClient&)> fn);
    void setPhase(Phase p);
    void setStatus(std::string_view text) override;
    void markReconnecting() override;

    void dialRelay(const std::string& room, const std::string& name, const wex::RelayIdentity& identity,
                   std::optional<std::string> code, bool forRevoke);

    // Attempts and stopping.
    void beginAttempt(std::optional<std::string> code, bool forRevoke);
    void unreachable(const std::string& name, bool relay) override;
    void handshakeOverdue() override;
    void haltReconnect();
    void rejectAndHalt(const std::string& message, std::optional<std::string_view> status,
                       RefusedPart part = RefusedPart::none);
    // An unpair attempt that cannot tell its machine ends now rather than at its time-out.
    void unpairCannotTell(std::string_view why, UnpairOutcome outcome = UnpairOutcome::unanswered);
    void closeEveryLink();
    void dropSession();
    // Runs `fn` as a separate step on this thread, unless the links change first.
    void soon(std::function<void()> fn);

    // What the links ask of the client.
    void linkReady() override;
    bool controlRefused() override;
    bool controlUnanswered() override;
    void fallBackToRelay();
    void linkReplaced() override;
    void videoDatagram(wex::ByteView datagram) override { onVideoDatagram(datagram); }
    void videoPortUnavailable(uint16_t port) override;

    // Framing (ClientFraming.cpp): the bytes of the control connection or the relay stream.
    void received(wex::ByteView data) override;
    void drainControl();
    void handleControl(const wex::CommonHeader& header, const wex::Bytes& payload);
    void sendKeyframeRequest();
    void sendPlain(wex::ControlType type, wex::ByteView payload);
    void sendOnLink(wex::ByteView frame);

    // Handshake (ClientHandshake.cpp).
    void sendHello();
    wex::ControllerHandshakeMachine::Self self() const;
    void handleHelloAck(wex::ByteView payload);
    void decideAuth();
    void sendAuth(const std::optional<wex::Auth>& auth);
    void handleAuthOk(wex::ByteView payload);
    void handleAuthFail(wex::ByteView payload);
    // HelloAck, AuthOk or AuthFail while a handshake runs (never inside a session).
    void handshakeMessage(wex::ControlType type, const wex::Bytes& payload);
    std::optional<std::string> knownCode() const;

    // What the control dispatch hands back: news for the interface (ClientNews.cpp), pongs
    // (ClientLiveness.cpp) and the agent's goodbye.
    void publish(ControlDispatch::News news) override;
    // One hop to the main thread with what waits in `news_`.
    void deliverLatestNews();
    void pongArrived(wex::ByteView payload) override;
    void endedByAgent(std::string_view text) override;

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
    void onPicturesRefused(int width, int height);

    // Input (ClientInput.cpp): the session input goes to, published to the main thread.
    void beginInputSession();
    void endInputSession();

    // What the unpair flow asks of the client.
    uint64_t dialToUnpair(const std::string& room, const UnpairTarget& target) override;
    uint64_t currentAttempt() const override { return watchdogs_.attempt(); }
    void onMainThread(std::function<void()> fn) override;
    void whenIdentityKnown(std::function<void()> dial);
    void dialLan(const std::string& hostText, const std::string& name, std::optional<std::string> code,
                 std::optional<RelayRoute> relay, bool forRevoke);

    WEXClient& owner_;
    std::unique_ptr<QObject> context_; // on this thread: the target of `soon`
    ClientConfig config_;
    std::shared_ptr<ClientSecurity> security_;
    // The last dial asked for before the identity was read; nothing goes out before we know who we are.
    std::function<void()> dialAwaitingIdentity_;
    Scheduler& clock_;
    std::string deviceName_;
    SessionLinks links_;
    wex::StreamFramer rx_;
    std::string agentRoom_;

    // Handshake.
    std::optional<std::string> enteredCode_;
    wex::ControllerHandshakeMachine handshake_;
    std::shared_ptr<wex::SecureSession> session_;
    uint32_t sessionId_ = 0;
    uint32_t advertisedCaps_;
    uint32_t agentCaps_ = 0;
    bool agentCapsPresent_ = false;
    uint32_t lastVideoFrameId_ = 0;
    // Machines whose agent said it does not know our key: their next proof is the pairing code, until
    // a session with them exists again.
    std::set<std::string> codeRequired_;

    // A local-network attempt: the machine's name, and the relay's way to it while its host has not
    // answered yet; the host the relay stands in for once it was tried; whether a session of this
    // attempt stood (a refusal then is an agent starting again, not one that is missing).
    std::string lanName_;
    std::optional<RelayRoute> lanFallback_;
    std::unique_ptr<Timer> lanAnswerTimer_;
    std::string lanTriedFirst_;
    bool sessionSeen_ = false;
    // Why the links are about to be dialled again, said with the next markReconnecting and then
    // forgotten, so that a re-dial that goes another way says nothing it no longer knows.
    std::string redialReason_;
    bool stoppedLogged_ = false; // the agent's stop is in the log until the link is up again

    // The phase as this thread last set it, the attempt's deadlines, and the ping (or demo) timer.
    Phase phase_;
    AttemptWatchdogs watchdogs_;
    std::unique_ptr<Timer> pingTimer_;
    int demoTicks_ = 0;

    // Liveness: pings, answers, frame and byte counts per tick; and the agent's clock the answers map.
    SessionLiveness liveness_;
    AgentClock agentClock_;
    // The last keyframe request, for gaps and a still picture alike; zero until the first.
    Instant lastKeyframeReqAt_{};

    // Video and audio receive.
    Reassembler reasm_;
    std::pair<int, int> publishedSize_{0, 0};
    std::optional<wex::VideoNALHeader> lastVideoHeader_; // stands in for a broken frame's lost header
    std::atomic<bool> firstPictureWanted_{true};
    std::atomic<bool> pictureRefused_{false}; // said so, and no picture shown since
    // Pieces arrive but no keyframe whole, before the first picture; and whether the window was told.
    SlowLinkWatch slowLink_;
    bool linkTooSlowShown_ = false;
    AudioThread audio_; // the sound server is reached there, never on this thread
    std::atomic<bool> audioMuted_{false};
    int64_t audioFramesIn_ = 0;
    int64_t audioSamplesIn_ = 0;
    int64_t audioDecodeFails_ = 0;

    // The number of the established session input goes to (0 without one), and the last one given.
    uint64_t inputSession_ = 0;
    uint64_t inputSessionsMade_ = 0;

    ControlDispatch dispatch_;
    // Lines about the agent's video and clipboard-file pieces, which it may send at any rate.
    ThrottledLog pieceLines_{clock_, "the agent's pieces", 8, [](const std::string& line) { clientLog(line); }};
    // What the agent's messages change in the window, newest only; shared with the hops that carry it.
    std::shared_ptr<WindowNews> news_ = std::make_shared<WindowNews>();
    // Unpairing a machine: armed by revokePairing, ended by the session with it or another connect.
    UnpairFlow unpair_;

    // Last: its thread, which calls back into this object, stops before anything else goes.
    std::unique_ptr<VideoDecoder> decoder_;
};

} // namespace dovrel::controller

#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <QHostAddress>

#include "agent/core/AgentTransport.h"
#include "agent/core/RelayEndpoint.h"
#include "agent/core/SendTarget.h"
#include "agent/net/ServiceAdvertiser.h"
#include "agent/net/TransportMediaQueue.h"
#include "agent/net/TransportRelayLink.h"
#include "protocol/Bytes.h"
#include "protocol/CommonHeader.h"
#include "protocol/ControlType.h"
#include "protocol/InputMessages.h"
#include "protocol/RelayIdentity.h"
#include "protocol/SecureSession.h"
#include "protocol/WEXConstants.h"
#include "runtime/Scheduler.h"
#include "runtime/SerialQueue.h"
#include "runtime/net/HostResolver.h"

namespace dovrel::agent {

// The ports of the local network side. Tests pick their own (0 lets the system choose a free one for
// the two listeners) so that runs never collide.
struct TransportPorts {
    uint16_t control = wex::WEX::controlPort; // TCP, listened on
    uint16_t input = wex::WEX::inputPort;     // UDP, listened on
    uint16_t video = wex::WEX::videoPort;     // UDP, the controller's port that video goes to
};

struct TransportOptions {
    TransportPorts ports;
    QHostAddress listenAddress = QHostAddress::Any;
    // Clock and timers of the session guards; they run on "dovrel.net". Null: the real clock.
    Scheduler* scheduler = nullptr;
    // Announces the control service; null: no announcement.
    std::unique_ptr<ServiceAdvertiser> advertiser;
    // Named in the hint that is logged when the listeners are off.
    std::string relayConfigPath = "~/.config/Dovrel/relay.json";
    // PEM certificates the relay link trusts besides the system's, for tests that run their own relay.
    // Empty: the environment variable DOVREL_TEST_CA_FILE, when set. It can only add trust: the system's
    // authorities stay, and the relay's certificate must still name the host dialled.
    std::string relayTestCaFile;
    // Looks the relay's host name up. Null: the system's resolver.
    std::shared_ptr<HostResolver> resolver;
    // Bounds of the queue that carries video and audio to a relay client.
    MediaQueueLimits mediaLimits;
};

// The agent's network side: listens on the local network, admits one controller at a time, cuts its
// byte stream into frames, opens sealed ones with the session's keys and hands control messages and
// input batches to the owner. Everything runs on its own owner thread "dovrel.net", the callbacks too.
//
// One client slot: a newcomer replaces a client that has not authenticated (whose connection is
// closed) once it has sent its first bytes; until then it waits beside the client, which keeps its
// handshake, and one that closes or stays silent for 10 s goes without a trace. During an established
// session a newcomer is refused with AuthFail reason 5. The session ends as soon
// as the client's control connection closes, when a guard drops it (10 s without Hello, 180 s from Hello
// to Auth, 15 s from Auth to the session, more than 15 s without traffic once established), or when the
// owner drops it. Every start and end of a client calls onNewConnection. A connection that closes or is
// refused before it sends anything (a reachability check, a port scan) leaves no line in the log.
//
// The relay link (TransportRelayLink) keeps one TLS registration at the relay. The first controller bytes
// on a registration fill the same client slot: a newcomer that replaces an unauthenticated client, or,
// during an established session (LAN or relay), one that gets AuthFail reason 5 while its relay
// connection is closed and registered afresh after 1 s. When a relay client ends, by the owner's drop,
// a guard or a newcomer, its relay connection closes and the room registers again after 1 s; when the
// relay closes the stream, after 2 s.
class Transport final : public AgentTransport {
public:
    explicit Transport(TransportOptions options = {});
    ~Transport() override; // closes everything on "dovrel.net", then stops it
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // The agent's port; AgentTransport.h says what each call does.
    void setCallbacks(Callbacks callbacks) override;
    void start(const std::string& advertiseName, const std::string& deviceId, bool lanEnabled) override;

    void setRelayIdentity(wex::RelayIdentity identity) override;
    wex::RelayIdentity relayIdentity() const override;
    void setRelayCredentials(wex::Bytes publicKey, std::function<wex::Bytes(wex::ByteView)> signer) override;
    void startRelay(const std::string& deviceId) override;
    void repointRelay(RelayEndpoint to, std::function<void()> done = {}) override;

    void sendControl(wex::Bytes payload, wex::ControlType type) override;
    void noteHandshake(HandshakeStage stage) override;
    void establishSession(std::shared_ptr<wex::SecureSession> session, uint32_t sessionId) override;
    void dropClient() override;
    // Counts what is queued on "dovrel.net" and what the socket took but has not sent yet.
    std::size_t controlBacklog() const override;
    std::optional<ControlLinkReading> controlLink() const override;

    bool hasSession() const override;
    ClientId currentClient() const override;
    bool clientIsRelay() const override;
    // Newcomers waiting beside the client for their first bytes; on "dovrel.net" only.
    std::size_t waitingNewcomers() const;

    // Seal with target->session and send with target->send(frame, isVideo).
    std::shared_ptr<const SendTarget> sendTarget() const override { return target_.load(std::memory_order_acquire); }
    // The same in one call, for a frame sealed with the current target's session: any thread; false
    // when there is no session or the frame was dropped.
    bool sendMedia(wex::Bytes frame, bool isVideo) const;
    // Video and audio frames sent to and dropped on the way to relay clients, since the start.
    struct MediaCounts {
        uint64_t videoSent = 0, audioSent = 0, videoDropped = 0, audioDropped = 0;
    };
    MediaCounts relayMediaCounts() const;

    // The bound ports (after start); 0 when the listeners are off.
    uint16_t controlPort() const override { return boundControl_.load(); }
    uint16_t inputPort() const override { return boundInput_.load(); }

    SerialQueue& queue() override { return queue_; }
    Scheduler& scheduler() override { return *scheduler_; }

private:
    struct Impl;
    void onQueue(std::function<void()> fn);
    void publish(std::shared_ptr<const SendTarget> target) {
        target_.store(std::move(target), std::memory_order_release);
    }

    SerialQueue queue_;
    Scheduler* scheduler_;
    std::atomic<std::shared_ptr<const SendTarget>> target_;
    std::atomic<uint16_t> boundControl_{0};
    std::atomic<uint16_t> boundInput_{0};
    std::atomic<std::size_t> controlQueued_{0};
    std::atomic<std::size_t> linkUnwritten_{0};
    mutable std::mutex controlLinkLock_;
    std::optional<ControlLinkReading> controlLink_; // none: no client, or its socket cannot be read
    RelayIdentityCell relayIdentity_;
    std::shared_ptr<MediaCounters> mediaCounters_ = std::make_shared<MediaCounters>();
    std::unique_ptr<Impl> impl_; // lives on "dovrel.net"
};

} // namespace dovrel::agent

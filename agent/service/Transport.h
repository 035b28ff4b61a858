#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <QHostAddress>

#include "agent/service/SendTarget.h"
#include "agent/service/ServiceAdvertiser.h"
#include "protocol/Bytes.h"
#include "protocol/CommonHeader.h"
#include "protocol/ControlType.h"
#include "protocol/InputMessages.h"
#include "protocol/RelayIdentity.h"
#include "protocol/SecureSession.h"
#include "protocol/WEXConstants.h"
#include "runtime/Scheduler.h"
#include "runtime/SerialQueue.h"

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
};

// The agent's network side: listens on the local network, admits one controller at a time, cuts its
// byte stream into frames, opens sealed ones with the session's keys and hands control messages and
// input batches to the owner. Everything runs on its own owner thread "dovrel.net", the callbacks too.
//
// One client slot: a newcomer replaces a client that has not authenticated (whose connection is
// closed); during an established session it is refused with AuthFail reason 5. The session ends as soon
// as the client's control connection closes, when a guard drops it (10 s without Hello, 180 s from Hello
// to Auth, 15 s from Auth to the session, more than 15 s without traffic once established), or when the
// owner drops it. Every start and end of a client calls onNewConnection.
//
// The relay link joins later through the same client slot: a relay client is a ClientLink whose bytes
// go through the same receive path (receiveOnLink) as the LAN control connection.
class Transport {
public:
    enum class HandshakeStage { hello, auth };
    // Names one client from its arrival to its end; 0 means none. A later client never reuses an id.
    using ClientId = uint64_t;

    // All are called on "dovrel.net"; set them before start().
    struct Callbacks {
        std::function<void()> onNewConnection;
        std::function<void(const std::string& host)> onClientConnected;
        // Header and payload: the opened plaintext of a sealed frame in a session, else the raw payload.
        std::function<void(const wex::CommonHeader&, wex::Bytes)> onControl;
        std::function<void(const wex::InputBatch&)> onInput;
    };

    explicit Transport(TransportOptions options = {});
    ~Transport(); // closes everything on "dovrel.net", then stops it
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    void setCallbacks(Callbacks callbacks);

    // Opens the listeners and the announcement when `lanEnabled`; else logs that they are off. Throws
    // AgentError (transport) when a listener cannot be opened.
    void start(const std::string& advertiseName, const std::string& deviceId, bool lanEnabled);

    // The relay link's settings and its start. The link itself is not built yet: startRelay only keeps
    // the room and says so in the log, so start-up never waits on or fails for a relay.
    void setRelayIdentity(wex::RelayIdentity identity);
    wex::RelayIdentity relayIdentity() const;
    void setRelayCredentials(wex::Bytes publicKey, std::function<wex::Bytes(wex::ByteView)> signer);
    void startRelay(const std::string& deviceId);

    // These four run at once on "dovrel.net" and are queued there from any other thread, so from a
    // handler they take effect in call order (AuthOk goes out plain, everything after it sealed).
    void sendControl(wex::Bytes payload, wex::ControlType type);
    void noteHandshake(HandshakeStage stage);
    void establishSession(std::shared_ptr<wex::SecureSession> session, uint32_t sessionId);
    void dropClient();

    // On "dovrel.net" only.
    bool hasSession() const;
    ClientId currentClient() const;
    bool clientIsRelay() const;

    // The established session and where its video and audio go, for the senders on capture threads:
    // replaced as a whole by "dovrel.net", never changed in place; null while no session is established.
    std::shared_ptr<const SendTarget> sendTarget() const { return target_.load(std::memory_order_acquire); }
    // A sealed video or audio frame for a client on the relay, from any thread: only the relay link
    // writes to its connection (TransportMediaSend.cpp).
    void sendMedia(wex::Bytes frame, bool isVideo);

    // The bound ports (after start); 0 when the listeners are off.
    uint16_t controlPort() const { return boundControl_.load(); }
    uint16_t inputPort() const { return boundInput_.load(); }

    SerialQueue& queue() { return queue_; }
    Scheduler& scheduler() { return *scheduler_; }

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
    mutable std::mutex relayLock_;
    wex::RelayIdentity relayIdentity_;
    std::unique_ptr<Impl> impl_; // lives on "dovrel.net"
};

} // namespace dovrel::agent

#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "agent/core/ControlLinkReading.h"
#include "agent/core/RelayEndpoint.h"
#include "agent/core/SendTarget.h"
#include "protocol/Bytes.h"
#include "protocol/CommonHeader.h"
#include "protocol/ControlType.h"
#include "protocol/InputMessages.h"
#include "protocol/RelayIdentity.h"
#include "protocol/SecureSession.h"
#include "runtime/Scheduler.h"
#include "runtime/SerialQueue.h"

namespace dovrel::agent {

// What the agent needs of its network side: one client slot on the local network and the relay, the
// client's control messages and input in, control messages out, the session's keys and its media route.
// Everything runs on the transport's own owner thread "dovrel.net", the callbacks too.
class AgentTransport {
public:
    enum class HandshakeStage { hello, auth };
    // Names one client from its arrival to its end; 0 means none. A later client never reuses an id.
    using ClientId = uint64_t;

    // All are called on "dovrel.net"; set them before start().
    struct Callbacks {
        std::function<void()> onNewConnection;
        // A local-network client sent its first bytes (one that closes without a word, such as a
        // reachability check, is no device connecting).
        std::function<void(const std::string& host)> onClientConnected;
        // Header and payload: the opened plaintext of a sealed frame in a session, else the raw payload.
        std::function<void(const wex::CommonHeader&, wex::Bytes)> onControl;
        std::function<void(const wex::InputBatch&)> onInput;
        // Video to a relay client had to be dropped (the link is slower than the encoder): the next
        // picture should be a keyframe. Once per episode of drops.
        std::function<void()> onRelayVideoDropped = {};
    };

    virtual ~AgentTransport() = default;

    virtual void setCallbacks(Callbacks callbacks) = 0;

    // Opens the listeners and the announcement when `lanEnabled`; else logs that they are off. Throws
    // AgentError (transport) when a listener cannot be opened.
    virtual void start(const std::string& advertiseName, const std::string& deviceId, bool lanEnabled) = 0;

    // Where and as whom the relay link registers; any thread. Redirects and re-pointing change it.
    virtual void setRelayIdentity(wex::RelayIdentity identity) = 0;
    virtual wex::RelayIdentity relayIdentity() const = 0;
    // The agent's public signing key for version 2 registrations, and what signs the relay's challenge
    // (called on "dovrel.net").
    virtual void setRelayCredentials(wex::Bytes publicKey, std::function<wex::Bytes(wex::ByteView)> signer) = 0;
    // (Re)dials the relay for this room, on "dovrel.net"; returns at once. Start-up never waits on or
    // fails for a relay: an unreachable one is retried by the link's own rules.
    virtual void startRelay(const std::string& deviceId) = 0;
    // Moves the relay link to another host, on "dovrel.net"; nothing when it is the one in use. `done`
    // runs there afterwards (relayIdentity() then names the new host).
    virtual void repointRelay(RelayEndpoint to, std::function<void()> done = {}) = 0;

    // These four run at once on "dovrel.net" and are queued there from any other thread, so from a
    // handler they take effect in call order (AuthOk goes out plain, everything after it sealed).
    virtual void sendControl(wex::Bytes payload, wex::ControlType type) = 0;
    virtual void noteHandshake(HandshakeStage stage) = 0;
    virtual void establishSession(std::shared_ptr<wex::SecureSession> session, uint32_t sessionId) = 0;
    virtual void dropClient() = 0;
    // Bytes of control messages handed to sendControl and not yet written by the client's link; any
    // thread. Whoever reads a file out to the controller reads ahead of this by a bounded amount.
    virtual std::size_t controlBacklog() const = 0;
    // What the client's control connection's socket measured lately (on the relay, the link to the
    // relay); nothing when unknown. Any thread.
    virtual std::optional<ControlLinkReading> controlLink() const { return std::nullopt; }

    // On "dovrel.net" only.
    virtual bool hasSession() const = 0;
    virtual ClientId currentClient() const = 0;
    virtual bool clientIsRelay() const = 0;

    // The established session and where its video and audio go, for the senders on capture threads:
    // replaced as a whole by "dovrel.net", never changed in place; null while no session is established.
    virtual std::shared_ptr<const SendTarget> sendTarget() const = 0;

    // The bound ports (after start); 0 when the listeners are off.
    virtual uint16_t controlPort() const = 0;
    virtual uint16_t inputPort() const = 0;

    // The owner thread, and the clock and timers of every time-driven rule, which run on it.
    virtual SerialQueue& queue() = 0;
    virtual Scheduler& scheduler() = 0;
};

} // namespace dovrel::agent

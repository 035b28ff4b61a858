#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/Bytes.h"
#include "protocol/DeviceIdentity.h"
#include "protocol/EphemeralKey.h"
#include "protocol/SecureSession.h"
#include "protocol/SessionKeys.h"
#include "protocol/SessionSetupMessages.h"

namespace wex {

// The controller's side of the WEX/1 handshake, as decisions alone: the Hello it opens with, the checks
// on HelloAck, which proof answers it, the checks on AuthOk and what an AuthFail asks of the controller.
// It keeps the ephemeral key and, from an accepted HelloAck on, the agreement (session keys, the agent's
// key, transcript, channel binding) that AuthOk must prove. It has no clock and does no I/O: its caller
// sends the messages it builds and acts on its verdicts. One thread at a time.
class ControllerHandshakeMachine {
public:
    // Which reply the handshake waits for.
    enum class Stage { dialing, sentPskAuth, sentKeypairAuth };
    // Who the controller is in this handshake.
    struct Self {
        const DeviceIdentity& identity;
        FixedBytes<16> deviceId;
    };

    enum class AckVerdict {
        ignored,         // no Hello of ours is waiting, or the agent's key cannot be agreed with
        foreignDeviceId, // the identifier is not the one the agent's key stands for
        roomNotOwned,    // through the relay, the key does not own the room we asked for
        tampered,        // the binding does not cover the two ephemeral keys we agreed on
        accepted,
    };
    // How the controller stands with the agent that answered.
    struct Standing {
        bool keyTrusted = false;   // a key is trusted here for the agent's identifier
        bool codeRequired = false; // that agent said it forgot us: the code proves us even so
        bool haveCode = false;     // a pairing code is known
    };
    enum class Proof { key, code, askForCode };
    enum class OkVerdict {
        ignored,     // no accepted HelloAck waits for it
        badProof,    // the agent's proof does not verify
        keyChanged,  // it proves a key other than the one trusted for this agent
        established, // the session may begin
    };
    // What an AuthFail asks of the controller.
    enum class Refusal {
        busy,      // too many sessions: stop, with the agent's words
        notPaired, // the agent forgot our key: try again with the code
        final,     // anything else: stop, forgetting a typed code
    };
    struct Fail {
        Refusal refusal = Refusal::final;
        int reason = 0; // the wire value; 0 when the message does not decode
        std::string message;
    };

    // The Hello that opens a handshake, with a fresh ephemeral key. An agreement already held stays
    // until a HelloAck replaces it.
    Hello hello(const Self& self, std::string deviceName, uint32_t capabilities, bool capabilitiesPresent,
                AuthMode mode);
    // Checks the agent's HelloAck; `agentId` is the identifier its key stands for (set unless ignored).
    // `relayRoom`: the room dialled through the relay, empty on the local network (letter case aside it
    // must be that identifier). Only an accepted answer is kept.
    AckVerdict check(const HelloAck& ack, const Self& self, std::string_view relayRoom, std::string& agentId);
    // An agent whose key is trusted is answered with our key, unless it forgot us; otherwise the code
    // proves us, and without one the controller must ask for it.
    static Proof choose(const Standing& standing);
    // Our proof by key, or by the pairing code exactly as given; nothing before an accepted HelloAck
    // (the stage moves anyway: the reply now awaited is named by it).
    std::optional<Auth> keyAuth(const DeviceIdentity& identity, uint16_t reqId = 1);
    std::optional<Auth> codeAuth(std::string_view code, uint16_t reqId = 1);
    // Whether AuthOk proves the agent holds the key it answered with, and that key is the one trusted
    // for it (`trustedKey`, none when it is not trusted yet: the code proof has just paired it).
    OkVerdict check(const AuthOk& ok, const std::optional<Bytes>& trustedKey = std::nullopt) const;
    static Fail refusal(ByteView authFailPayload);

    // After an accepted HelloAck: the session keys, the agent's key, and the sealed session they open.
    const SessionKeys& keys() const { return *keys_; }
    const Bytes& agentPub() const { return *agentPub_; }
    std::shared_ptr<SecureSession> openSession() const;

    Stage stage() const { return stage_; }
    void restart() { stage_ = Stage::dialing; }
    // The session ended or never came: nothing of its agreement lingers.
    void forgetAgreement();
    void forgetEphemeralKey() { eph_.reset(); }

private:
    std::unique_ptr<EphemeralKey> eph_;
    std::optional<SessionKeys> keys_;
    std::optional<Bytes> agentPub_, transcript_, chanbind_;
    Stage stage_ = Stage::dialing;
};

} // namespace wex

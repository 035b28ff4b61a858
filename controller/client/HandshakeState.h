#pragma once

#include <memory>
#include <optional>
#include <string>

#include "controller/client/Phase.h"
#include "protocol/Bytes.h"
#include "protocol/DeviceIdentity.h"
#include "protocol/EphemeralKey.h"
#include "protocol/SessionKeys.h"
#include "protocol/SessionSetupMessages.h"

namespace dovrel::controller {

// The client's side of one handshake: its ephemeral key, the checks on HelloAck, the proof it answers
// with and the check on AuthOk. It decides; the client sends, publishes, refuses and re-dials. Client
// thread only.
class HandshakeState {
public:
    enum class AckVerdict {
        ignored,         // no Hello of ours is waiting, or the agent's key cannot be agreed with
        foreignDeviceId, // the identifier is not the one the agent's key stands for
        roomNotOwned,    // through the relay, the key does not own the room we asked for
        tampered,        // the binding does not cover the two ephemeral keys we agreed on
        accepted,
    };
    enum class OkVerdict { ignored, badProof, holds };

    // A fresh ephemeral key for the next Hello; its public half.
    const wex::EphemeralKey::PublicKey& newEphemeralKey();
    // Checks the agent's HelloAck; `agentId` is the identifier its key stands for (set unless ignored).
    // `relayRoom`: the room dialled through the relay, empty on the local network. Once accepted, the
    // keys, the transcript and the binding wait for the proof.
    AckVerdict check(const wex::HelloAck& ack, const wex::DeviceIdentity& identity, wex::ByteView deviceId,
                     const std::string& relayRoom, std::string& agentId);
    // Our proof by key or by pairing code; nothing before an accepted HelloAck (the stage moves anyway,
    // for the time-out's text).
    std::optional<wex::Auth> keypairAuth(const wex::DeviceIdentity& identity);
    std::optional<wex::Auth> pskAuth(const std::string& code);
    // Whether AuthOk proves the agent holds the key it answered with.
    OkVerdict check(const wex::AuthOk& ok) const;
    // After an accepted HelloAck: the session keys and the agent's public key.
    const wex::SessionKeys& keys() const { return *keys_; }
    const wex::Bytes& agentPub() const { return *agentPub_; }

    HandshakeStage stage() const { return stage_; }
    void restart() { stage_ = HandshakeStage::dialing; }
    // The session ended or never came: nothing of its agreement lingers.
    void forgetAgreement();
    void forgetEphemeralKey() { eph_.reset(); }

private:
    std::unique_ptr<wex::EphemeralKey> eph_;
    std::optional<wex::SessionKeys> keys_;
    std::optional<wex::Bytes> agentPub_, transcript_, chanbind_;
    HandshakeStage stage_ = HandshakeStage::dialing;
};

} // namespace dovrel::controller

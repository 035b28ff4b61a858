#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "protocol/Bytes.h"
#include "protocol/DeviceIdentity.h"
#include "protocol/EphemeralKey.h"
#include "protocol/SessionKeys.h"
#include "protocol/SessionSetupMessages.h"
#include "protocol/WEXHandshake.h"

namespace wex {

// The agent's side of the handshake as decisions: a Hello in gives the HelloAck to send, an Auth in
// gives an admission (AuthOk and the session's keys) or a refusal (AuthFail and how long to wait before
// sending it). It owns the handshake in progress and the rules that span connections: the streak of
// refusals that sets the wait, the count of wrong pairing codes, and the gate that keeps pairing-code
// proofs unchecked while the last refusal's wait runs, so that fresh connections gain a guesser nothing.
// Signature proofs are always checked: they cannot be guessed, and a guesser must not lock paired
// devices out.
//
// No clock, randomness or I/O of its own: the time, the fresh ephemeral key and challenge, the pairing
// code and whether a key is paired are handed in; the caller sends, waits and stores. One owner thread.
class AgentHandshakeMachine {
public:
    using Time = std::chrono::steady_clock::time_point;
    using Duration = std::chrono::steady_clock::duration;
    // Names one client connection; 0 means none.
    using ClientId = uint64_t;

    static constexpr uint32_t sessionId = 1; // every session of this agent
    static constexpr std::size_t challengeSize = WEXHandshake::challengeSize;
    // Every this many wrong pairing codes of the process, the caller draws a new code.
    static constexpr int wrongCodesPerCode = 5;

    // The handshake kept between a client's Hello and its Auth.
    struct Pending {
        Bytes clientStaticPub;
        Bytes clientDeviceId;
        SessionKeys keys;
        Bytes challenge;
        Bytes chanbind;
        Bytes clientEphPub;
        Bytes agentEphPub;
        uint32_t clientCaps = 0;
        std::string clientName; // the Hello's device name, without control characters
    };

    struct Admit {
        AuthOk ok; // sent plain, the last such frame; the session is sealed with `keys` after it
        SessionKeys keys;
        Bytes clientStaticPub;
        uint32_t clientCaps = 0;
        std::string clientName;
        // A pairing-code proof: the caller pairs the key and draws a new code before sending `ok`.
        bool pairedByCode = false;
    };
    struct Refuse {
        AuthFail fail; // sent once `delay` has passed, and the client dropped shortly after
        Duration delay{};
        Bytes clientStaticPub;
        int streak = 0; // refusals in a row, this one included
        // Refused unchecked: a pairing-code proof while the last refusal's wait runs.
        bool backOff = false;
        // A pairing-code proof that was checked and was wrong.
        bool wrongCode = false;
        // This wrong code was a fifth one: the caller draws a new pairing code first.
        bool rotateCode = false;
        // A pairing-code proof while no code was in force: answered as a wrong code, its proof unchecked.
        bool noCodeInForce = false;
        int wrongCodes = 0; // wrong pairing codes since the start
    };
    // No answer: the Auth came without a Hello answered before it.
    struct Ignore {};
    using AuthDecision = std::variant<Ignore, Admit, Refuse>;

    explicit AgentHandshakeMachine(const DeviceIdentity& identity) : identity_(identity) {}

    // A client refused on this connection gets no further handshake.
    bool refused(ClientId client) const { return client != 0 && client == refusedClient_; }

    // Answers a Hello with the agent's fresh `ephemeral` key and `challenge` (challengeSize random bytes);
    // `agentTimeUs` is the agent's clock. Replaces a handshake in progress. Nothing, and the handshake in
    // progress kept, when the client's ephemeral key agrees on nothing.
    std::optional<HelloAck> hello(const Hello& hello, const EphemeralKey& ephemeral, ByteView challenge,
                                  uint64_t agentTimeUs);

    // Decides an Auth of `client` at `now`. `pairingCode` is the code now in force, or nothing while the
    // agent accepts none (nobody can have read it); `clientPaired` tells whether the pending handshake's
    // static key is paired. Ends the handshake in progress unless ignored.
    AuthDecision auth(const Auth& auth, ClientId client, Time now, std::optional<std::string_view> pairingCode,
                      bool clientPaired);

    // The handshake in progress goes: its connection ended, or the caller answered it some other way.
    void endHandshake() { pending_.reset(); }

    const std::optional<Pending>& pending() const { return pending_; }
    int streak() const { return streak_; }
    int wrongCodes() const { return wrongCodes_; }

    // The wait before the refusal that makes the streak `n`: 0.25 s, doubling, at most 5 s.
    static Duration refusalDelay(int n);

private:
    Admit admit(const Pending& pending, uint16_t reqId, ByteView transcript, bool byCode);
    Refuse refuse(Pending pending, uint16_t reqId, AuthFailReason reason, ClientId client, Time now);

    const DeviceIdentity& identity_;
    std::optional<Pending> pending_;
    int streak_ = 0;
    int wrongCodes_ = 0;
    std::optional<Time> codeGateUntil_;
    ClientId refusedClient_ = 0;
};

} // namespace wex

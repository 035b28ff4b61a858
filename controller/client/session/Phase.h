#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <QObject>

namespace dovrel::controller {
Q_NAMESPACE

// Where a session stands, in the order the interface compares them.
enum class PhaseKind {
    rejected,     // refused or given up; the phase carries the user-facing explanation
    disconnected, // no session
    connecting,   // dialling, or dialling again after a refusal that needs a new attempt
    needsCode,    // the agent is not trusted and no pairing code is known: the attempt stopped, asking for it
    handshaking,  // an authentication message was sent
    connected,    // the session is established
};
Q_ENUM_NS(PhaseKind)

// What of the dial a refusal says was wrong: the address (nothing took the connection there, or not
// DOVRELÆ), the pairing code the handshake proved itself with, or neither (the computer is busy, the
// session was ended, a port here is taken…).
enum class RefusedPart { none, address, code };

struct Phase {
    PhaseKind kind = PhaseKind::disconnected;
    std::string message;                     // only for `rejected`
    RefusedPart refused = RefusedPart::none; // only for `rejected`

    static Phase rejected(std::string text, RefusedPart part = RefusedPart::none) {
        return {PhaseKind::rejected, std::move(text), part};
    }
    static Phase of(PhaseKind k) { return {k, {}, RefusedPart::none}; }

    // The form diagnostic lines use: "connecting", or rejected("…") with the message.
    std::string describe() const;

    // Equal when the kinds are equal and, for `rejected`, the messages too.
    bool operator==(const Phase& o) const {
        return kind == o.kind && (kind != PhaseKind::rejected || message == o.message);
    }
};

std::string_view phaseKindName(PhaseKind kind);

// Which reply the handshake waits for; its raw text ends the status of a handshake that timed out.
enum class HandshakeStage { dialing, sentPskAuth, sentKeypairAuth };

std::string_view rawValue(HandshakeStage stage);
std::optional<HandshakeStage> handshakeStageFromRaw(std::string_view raw);

} // namespace dovrel::controller

#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "controller/client/session/Phase.h"

// The session client's user-facing texts. The product is named by its wordmark, DOVRELÆ.
namespace dovrel::controller::texts {

// The reach time-out: `host` is the address dialled on the local network, or the machine's name
// through the relay.
std::string unreachableOnLan(std::string_view host);
std::string unreachableThroughRelay(std::string_view name);
// Neither the host on the local network nor the relay reached the machine called `name`.
std::string unreachableEitherWay(std::string_view name, std::string_view host);
// The computer at `host` refused the control connection: DOVRELÆ does not run there. `name` may be empty.
std::string notRunning(std::string_view name, std::string_view host);
// The same, of a session's computer once it refuses to take the session back: it is dialled on.
std::string stoppedRunning(std::string_view name, std::string_view host);

// The local-network video port is held by another program on this computer.
std::string videoPortTaken(uint16_t port);

// The agent sends pictures larger than this computer decodes.
std::string pictureTooLarge(int width, int height, int maxSide);

// The handshake deadline, by the reply that never came.
std::string handshakeStalled(HandshakeStage stage);

inline constexpr std::string_view roomNotOwned =
    "Something else answered for this machine. Do not enter your pairing code. Try again, and if it repeats, pair "
    "again in person.";
inline constexpr std::string_view tampered = "This connection is being tampered with - refusing to continue.";
inline constexpr std::string_view identityChanged =
    "This machine's identity has changed. If you did not reinstall DOVRELÆ on it, do not continue - forget the "
    "device and pair again only if you're sure.";
inline constexpr std::string_view alreadyInUse = "That computer is already in use by another device.";
inline constexpr std::string_view codeMismatch =
    "That pairing code didn’t match. Read the current code off that computer and try again.";

// Status lines.
inline constexpr std::string_view statusIdle = "idle";
inline constexpr std::string_view statusConnecting = "connecting…";
inline constexpr std::string_view statusHandshaking = "handshaking…";
inline constexpr std::string_view statusWaiting = "waiting for your computer…";
inline constexpr std::string_view statusReconnecting = "reconnecting…";
inline constexpr std::string_view statusReaching = "reaching your computer…";
inline constexpr std::string_view statusRedirect = "following relay redirect…";
inline constexpr std::string_view statusFailedVerification = "that computer failed verification";
inline constexpr std::string_view statusChanbind = "channel-binding mismatch - possible relay MITM";
inline constexpr std::string_view statusKeyMismatch = "agent key mismatch - refusing";
inline constexpr std::string_view statusEnterCode = "enter the pairing code";
inline constexpr std::string_view statusPaired = "paired ✓ · encrypted";
inline constexpr std::string_view statusBusy = "busy";
inline constexpr std::string_view statusRepairing = "re-pairing…";
inline constexpr std::string_view statusDemo = "demo · encrypted";
inline constexpr std::string_view statusSessionEnded = "session ended";
inline constexpr std::string_view statusVideoPortTaken = "video port in use";
inline constexpr std::string_view statusNotRunning = "not running there";
inline constexpr std::string_view statusLinkQuiet = "link went quiet - reconnecting…";

// The agent ended the session (its bye, by reason).
inline constexpr std::string_view byeEnded = "That machine ended the session.";
inline constexpr std::string_view byeTakenOver = "Another of your devices took over this session.";
inline constexpr std::string_view byeShuttingDown = "That machine is shutting down.";
inline constexpr std::string_view byeIdle = "The session was released after being idle.";
// An agent error whose message could not be read.
inline constexpr std::string_view agentRefused = "That machine refused it.";
std::string statusRejected(int reason);
std::string statusHandshakeTimedOut(HandshakeStage stage);

} // namespace dovrel::controller::texts

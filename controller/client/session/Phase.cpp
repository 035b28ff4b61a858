#include "controller/client/session/Phase.h"

namespace dovrel::controller {

std::string_view phaseKindName(PhaseKind kind) {
    switch (kind) {
    case PhaseKind::rejected: return "rejected";
    case PhaseKind::disconnected: return "disconnected";
    case PhaseKind::connecting: return "connecting";
    case PhaseKind::needsCode: return "needsCode";
    case PhaseKind::handshaking: return "handshaking";
    case PhaseKind::connected: return "connected";
    }
    return "disconnected";
}

std::string Phase::describe() const {
    std::string out(phaseKindName(kind));
    if (kind == PhaseKind::rejected) out.append("(\"").append(message).append("\")");
    return out;
}

namespace {
constexpr std::string_view dialingRaw = "no reply to HELLO";
constexpr std::string_view pskRaw = "no reply to the pairing code";
// Names the controller itself, so it says "device" where the phone-first design said "iPhone".
constexpr std::string_view keypairRaw = "no reply to this device's key";
} // namespace

std::string_view rawValue(HandshakeStage stage) {
    switch (stage) {
    case HandshakeStage::dialing: return dialingRaw;
    case HandshakeStage::sentPskAuth: return pskRaw;
    case HandshakeStage::sentKeypairAuth: return keypairRaw;
    }
    return dialingRaw;
}

std::optional<HandshakeStage> handshakeStageFromRaw(std::string_view raw) {
    for (auto s : {HandshakeStage::dialing, HandshakeStage::sentPskAuth, HandshakeStage::sentKeypairAuth})
        if (rawValue(s) == raw) return s;
    return std::nullopt;
}

} // namespace dovrel::controller

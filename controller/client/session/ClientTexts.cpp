#include "controller/client/session/ClientTexts.h"

namespace dovrel::controller::texts {

namespace {
// What the texts call the machine at the other end.
constexpr std::string_view other = "computer";
} // namespace

std::string unreachableOnLan(std::string_view host) {
    std::string s = "Couldn’t reach the ";
    s.append(other).append(" at ").append(host).append(". Make sure both computers are on the same network, that it");
    s.append(" is awake, and that the address matches the one shown in the DOVRELÆ window on it (Set up by hand) - "
             "then try again.");
    return s;
}

std::string unreachableEitherWay(std::string_view name, std::string_view host) {
    std::string s = "Couldn’t reach ";
    s.append(name).append(" - not at ").append(host).append(" on this network, nor through the relay. Make sure it");
    s.append(" is awake, and on this network or online - then try again.");
    return s;
}

namespace {
// "NAME (HOST)", or "the computer at HOST" without a name.
std::string machine(std::string_view name, std::string_view host) {
    std::string s;
    if (name.empty())
        s.append("the ").append(other).append(" at ").append(host);
    else
        s.append(name).append(" (").append(host).append(")");
    return s;
}
} // namespace

std::string notRunning(std::string_view name, std::string_view host) {
    return "DOVRELÆ isn’t running on " + machine(name, host) +
           ": that computer answered, but nothing there takes the connection. Start DOVRELÆ on it, then try again.";
}

std::string stoppedRunning(std::string_view name, std::string_view host) {
    return "DOVRELÆ isn’t running on " + machine(name, host) +
           " any more. Still trying: the session goes on by itself once DOVRELÆ starts there again.";
}

std::string pictureTooLarge(int width, int height, int maxSide) {
    return "That machine sends a picture of " + std::to_string(width) + " × " + std::to_string(height) +
           " pixels, larger than this computer shows (" + std::to_string(maxSide) + " × " + std::to_string(maxSide) +
           " at most).";
}

std::string videoPortTaken(uint16_t port) {
    return "The picture can’t arrive: another program on this computer holds UDP port " + std::to_string(port) +
           ", where the picture comes in. Close that program (or the other DOVRELÆ window using it), then connect "
           "again.";
}

std::string unreachableThroughRelay(std::string_view name) {
    std::string s = "Couldn’t reach ";
    s.append(name).append(". It may be offline or not connected to the internet - make sure the ").append(other);
    s.append(" is awake and online, then try again.");
    return s;
}

std::string handshakeStalled(HandshakeStage stage) {
    std::string s = "Couldn’t finish connecting. ";
    switch (stage) {
    case HandshakeStage::dialing:
        s.append("Something answered on that address but never identified itself as DOVRELÆ - check the address "
                 "matches the one shown in the DOVRELÆ window on the ");
        s.append(other).append(".");
        break;
    case HandshakeStage::sentPskAuth:
        s.append("The ").append(other);
        s.append(" received the pairing code but never answered it. That usually means it’s running an older version "
                 "of DOVRELÆ than this computer - update it, then try again.");
        break;
    case HandshakeStage::sentKeypairAuth:
        s.append("The ").append(other);
        s.append(" never confirmed this computer. If DOVRELÆ was reinstalled on it, the pairing was cleared - unpair "
                 "it here and pair again with its link.");
        break;
    }
    return s;
}

std::string statusRejected(int reason) { return "rejected (reason " + std::to_string(reason) + ")"; }

std::string statusHandshakeTimedOut(HandshakeStage stage) {
    return "handshake timed out at: " + std::string(rawValue(stage));
}

} // namespace dovrel::controller::texts

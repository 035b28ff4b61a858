// Control dispatch: the two handshake messages only before a session, everything else only inside an
// established session and only sealed; then per message type what the agent does.

#include <chrono>

#include "agent/common/AgentLog.h"
#include "agent/common/MonoClock.h"
#include "agent/core/Agent.h"
#include "protocol/ControlMessages.h"
#include "protocol/Hex.h"
#include "protocol/WEXError.h"

namespace dovrel::agent {

using namespace std::chrono_literals;

namespace {

const char* boolText(bool b) { return b ? "true" : "false"; }

const char* sessionCmdName(wex::SessionCmd cmd) {
    switch (cmd) {
    case wex::SessionCmd::ctrlAltDel: return "ctrlAltDel";
    case wex::SessionCmd::lockWorkstation: return "lockWorkstation";
    case wex::SessionCmd::signOut: return "signOut";
    case wex::SessionCmd::showLaunchpad: return "showLaunchpad";
    case wex::SessionCmd::restOn: return "restOn";
    case wex::SessionCmd::restOff: return "restOff";
    }
    return "";
}

} // namespace

void Agent::handleControl(const wex::CommonHeader& header, const wex::Bytes& payload) {
    transport_->queue().assertCurrent(__func__);
    // The relay link hands over every stream but input; only the control stream carries these messages.
    if (header.stream != wex::Stream::control) return;
    const auto type = wex::controlTypeFromRaw(header.msgType);
    if (!type) return;
    const bool sealed = header.flags.contains(wex::HeaderFlag::encryptedApp);
    const bool session = transport_->hasSession();

    if (*type == wex::ControlType::hello || *type == wex::ControlType::auth) {
        if (session || sealed) return;
        if (*type == wex::ControlType::hello)
            handleHello(payload);
        else
            handleAuth(payload);
        return;
    }
    if (!session || !sealed) {
        strangerLines_.print("• dropped " + std::string(wex::controlTypeName(*type)) + " — not authenticated (sealed=" +
                             boolText(sealed) + ", session=" + boolText(session) + ")");
        return;
    }
    quiet_.heard();
    try {
        dispatch(*type, payload);
    } catch (const wex::WEXError&) {
        // A payload too short for its fields is dropped without a word.
    }
}

void Agent::dispatch(wex::ControlType type, const wex::Bytes& payload) {
    using T = wex::ControlType;
    switch (type) {
    case T::streamStart: media_.switchDisplay(wex::StreamStart::decode(payload).displayId); break;
    case T::streamStop:
    case T::pause: media_.stopStreaming(); break;
    case T::resume: media_.resumeStreaming(); break;
    case T::keyframeRequest: media_.repairPicture(); break;
    case T::ping: {
        const auto ping = wex::Ping::decode(payload);
        transport_->sendControl(wex::Pong{ping.reqId, ping.clientTsUs, MonoClock::micros()}.encode(), T::pong);
        break;
    }
    case T::sessionCommand: handleSessionCommand(payload); break;
    case T::unpair: handleUnpair(); break;
    case T::wakePeer: wakeRequests_.handle(payload, pairing_.device().name); break;
    default:
        // Clipboard and file messages go to the session's services; a bye, like anything else, leaves
        // the session running until the connection ends.
        session_.handle(type, payload);
        break;
    }
}

void Agent::handleSessionCommand(wex::ByteView payload) {
    const wex::SessionCommand message = wex::SessionCommand::decode(payload);
    const auto command = message.command();
    if (!command) return;
    switch (*command) {
    case wex::SessionCmd::ctrlAltDel:
    case wex::SessionCmd::signOut:
        print(std::string("• session command ") + sessionCmdName(*command) +
              " has no equivalent on this desktop — ignored");
        break;
    case wex::SessionCmd::lockWorkstation: lockWorkstation(message.reqId); break;
    case wex::SessionCmd::showLaunchpad: desktop_->showLauncher(); break;
    case wex::SessionCmd::restOn: media_.setRest(true); break;
    case wex::SessionCmd::restOff: media_.setRest(false); break;
    }
}

void Agent::lockWorkstation(uint16_t reqId) {
    // The answer comes from the desktop's thread, perhaps seconds later: it goes only to the session
    // that asked, and only while it lasts.
    const AgentTransport::ClientId client = transport_->currentClient();
    desktop_->lockAndTurnDisplayOff([this, client, reqId](const std::string& why) {
        transport_->queue().post([this, client, reqId, why] {
            if (stopping_ || !transport_->hasSession() || transport_->currentClient() != client) return;
            transport_->sendControl(wex::ErrorMsg(reqId, wex::ErrCode::unsupported, why).encode(),
                                    wex::ControlType::error);
        });
    });
}

void Agent::handleUnpair() {
    if (sessionPeerPub_.size() != 32) {
        print("• UNPAIR arrived with no peer key on this session — ignored");
        return;
    }
    const bool paired = security_.isPaired(sessionPeerPub_);
    if (paired) security_.unpair(sessionPeerPub_);
    print("• UNPAIR from " + fingerprint(sessionPeerPub_) + " — " + (paired ? "key revoked" : "was not paired") + " (" +
          std::to_string(security_.pairedPubs().size()) + " paired device(s) left)");
    transport_->dropClient();
}

} // namespace dovrel::agent

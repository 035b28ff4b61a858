// Input batches and session commands on the client thread. Batches come from the main thread, each
// naming the session it was made for; one that arrives after that session ended is dropped, so input
// never reaches a later session.
#include "controller/client/session/ClientCore.h"
#include "controller/client/session/WEXClient.h"
#include "protocol/ControlMessages.h"
#include "protocol/Stream.h"

namespace dovrel::controller {

void ClientCore::beginInputSession() {
    inputSession_ = ++inputSessionsMade_;
    owner_.inputSession_.store(inputSession_);
    post([](WEXClient& c) { emit c.sessionEstablished(); });
}

void ClientCore::endInputSession() {
    if (inputSession_ == 0) return;
    inputSession_ = 0;
    owner_.inputSession_.store(0);
}

void ClientCore::sendInput(uint64_t session, const wex::Bytes& payload) {
    if (!session_ || session == 0 || session != inputSession_) return;
    // The session hands out each input sequence number once, from 0; a payload too long to seal gives
    // nothing (RemoteInput never builds one).
    const wex::Bytes frame =
        session_->sealNext(wex::Stream::input, static_cast<uint8_t>(wex::InputMsgType::batch), sessionId_, 0, payload);
    if (frame.empty()) return;
    links_.sendInput(frame);
}

void ClientCore::sendSessionCommand(uint64_t session, wex::SessionCmd command) {
    if (!session_ || session == 0 || session != inputSession_) return;
    sendControlSecure(wex::SessionCommand{0, command, 0}.encode(), wex::ControlType::sessionCommand);
}

} // namespace dovrel::controller

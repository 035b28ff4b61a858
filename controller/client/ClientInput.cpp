// Input batches and session commands on the client thread. Batches come from the main thread, each
// naming the session it was made for; one that arrives after that session ended is dropped, so input
// never reaches a later session.
#include <QUdpSocket>

#include "controller/client/ClientCore.h"
#include "controller/client/WEXClient.h"
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
    if (isRelay_) {
        if (relay_) relay_->send(frame);
        return;
    }
    // A datagram to the agent's input port; a send error loses this batch only, like a lost datagram.
    if (input_) input_->write(reinterpret_cast<const char*>(frame.data()), static_cast<qint64>(frame.size()));
}

void ClientCore::sendSessionCommand(uint64_t session, wex::SessionCmd command) {
    if (!session_ || session == 0 || session != inputSession_) return;
    sendControlSecure(wex::SessionCommand{0, command, 0}.encode(), wex::ControlType::sessionCommand);
}

} // namespace dovrel::controller

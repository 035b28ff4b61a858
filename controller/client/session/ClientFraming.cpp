// Cutting the control connection's and the relay stream's bytes into frames, and sending control
// messages: plain during the handshake, sealed afterwards.
#include "controller/client/session/ClientCore.h"
#include "protocol/Frame.h"

namespace dovrel::controller {

void ClientCore::received(wex::ByteView data) {
    rx_.append(data);
    drainControl();
}

void ClientCore::drainControl() {
    // A frame may restart the link (and empty the reader); bytes of the old link then stop here.
    const uint64_t g = links_.generation();
    while (links_.generation() == g) {
        auto frame = rx_.next();
        if (!frame) return;
        const wex::Stream stream = frame->header.stream;
        if (links_.isRelay() && (stream == wex::Stream::video || stream == wex::Stream::audio)) {
            onVideoDatagram(frame->bytes);
            continue;
        }
        if (!session_) {
            const auto type = wex::controlTypeFromRaw(frame->header.msgType);
            if (type != wex::ControlType::helloAck && type != wex::ControlType::authOk &&
                type != wex::ControlType::authFail)
                continue;
            const auto payload = frame->payload();
            handleControl(frame->header, wex::Bytes(payload.begin(), payload.end()));
            continue;
        }
        if (!frame->header.flags.contains(wex::HeaderFlag::encryptedApp)) continue;
        auto opened = session_->openFrame(frame->bytes);
        if (!opened) continue;
        handleControl(opened->header, opened->plaintext);
    }
}

void ClientCore::handleControl(const wex::CommonHeader& header, const wex::Bytes& payload) {
    const auto type = wex::controlTypeFromRaw(header.msgType);
    if (!session_) {
        if (type) handshakeMessage(*type, payload);
        return;
    }
    if (type) dispatch_.dispatch(*type, payload);
    if (config_.sessionControl) config_.sessionControl(header.msgType, payload);
}

void ClientCore::sendOnLink(wex::ByteView frame) { links_.send(frame); }

void ClientCore::sendPlain(wex::ControlType type, wex::ByteView payload) {
    // buildFrame gives nothing for a payload a header cannot describe.
    sendOnLink(wex::buildFrame(wex::Stream::control, static_cast<uint8_t>(type), 0, {}, payload));
}

void ClientCore::sendControlSecure(wex::ByteView payload, wex::ControlType type) {
    if (!session_) return;
    // The session hands out each control sequence number once, from 0, whatever thread seals.
    const wex::Bytes frame =
        session_->sealNext(wex::Stream::control, static_cast<uint8_t>(type), sessionId_, 0, payload);
    sendOnLink(frame);
}

} // namespace dovrel::controller

// The agent's control messages of an established session: each becomes published state, a step of the
// handshake, or a call into the clipboard-file host.
#include <cstdio>

#include "controller/client/ClientCore.h"
#include "controller/client/ClientTexts.h"
#include "controller/client/WEXClient.h"
#include "controller/platform/ClientLog.h"
#include "protocol/ByteReader.h"
#include "protocol/ControlMessages.h"
#include "protocol/FileMessages.h"
#include "protocol/LogText.h"
#include "protocol/WEXError.h"
#include "protocol/WakeMessages.h"

namespace dovrel::controller {

namespace {
std::string wakeStatusName(const wex::WakePeerAck& ack) {
    const auto s = ack.statusCase();
    if (!s) return "?";
    switch (*s) {
    case wex::WakePeerAck::Status::sent: return "sent";
    case wex::WakePeerAck::Status::noRoute: return "noRoute";
    case wex::WakePeerAck::Status::sendFailed: return "sendFailed";
    case wex::WakePeerAck::Status::throttled: return "throttled";
    case wex::WakePeerAck::Status::badRequest: return "badRequest";
    }
    return "?";
}
} // namespace

void ClientCore::dispatchSessionControl(wex::ControlType type, const wex::Bytes& payload) {
    using T = wex::ControlType;
    switch (type) {
    case T::helloAck: handleHelloAck(payload); return;
    case T::authOk: handleAuthOk(payload); return;
    case T::authFail: handleAuthFail(payload); return;
    case T::displayList: handleDisplayList(payload); return;
    case T::pong: handlePong(payload); return;
    case T::bye: handleBye(payload); return;
    case T::error: handleAgentError(payload); return;
    case T::deckStat: handleDeckStat(payload); return;
    case T::clipFilesOffer:
    case T::clipFilePull:
    case T::clipFileData: handleClipFileMessage(type, payload); return;
    case T::wakePeerAck: handleWakePeerAck(payload); return;
    case T::clipboard: handleClipboard(payload); return;
    default: return;
    }
}

void ClientCore::handleDisplayList(wex::ByteView payload) {
    wex::DisplayList list;
    try {
        list = wex::DisplayList::decode(payload);
    } catch (const wex::WEXError&) {
        return;
    }
    int streaming = 0;
    for (std::size_t i = 0; i < list.displays.size(); ++i) {
        if (list.displays[i].flags.contains(wex::DisplayFlag::streaming)) {
            streaming = static_cast<int>(i);
            break;
        }
    }
    post([displays = std::move(list.displays), streaming](WEXClient& c) { c.publishDisplays(displays, streaming); });
}

void ClientCore::handlePong(wex::ByteView payload) {
    if (pingSentAt_ == Instant{}) return;
    const Instant now = clock_.now();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now - pingSentAt_).count();
    const auto latency = static_cast<int64_t>(static_cast<double>(ns) / 1'000'000.0);
    lastPongAt_ = now;
    // The agent's clock in the answer maps its video time stamps onto ours.
    try {
        const auto pong = wex::Pong::decode(payload);
        const auto us = [](Instant t) {
            return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
        };
        agentClock_.addSample(us(pingSentReal_), us(std::chrono::steady_clock::now()), pong.agentTsUs);
    } catch (const wex::WEXError&) {
    }
    const int shown = static_cast<int>(std::clamp<int64_t>(latency, 0, 9999));
    post([shown](WEXClient& c) {
        c.publishLatencyMs(shown);
        c.publishReconnecting(false);
    });
}

void ClientCore::handleBye(wex::ByteView payload) {
    std::string_view text = texts::byeEnded;
    if (payload.size() >= 3) {
        switch (payload[2]) {
        case 1: text = texts::byeTakenOver; break;
        case 2: text = texts::byeShuttingDown; break;
        case 3: text = texts::byeIdle; break;
        default: break;
        }
    }
    clientLog("← bye: " + std::string(text));
    haltReconnect();
    dropSession();
    audio_.stop();
    post([](WEXClient& c) {
        c.publishReconnecting(false);
        c.publishFps(0);
    });
    setPhase(Phase::rejected(std::string(text)));
    setStatus(texts::statusSessionEnded);
}

void ClientCore::handleAgentError(wex::ByteView payload) {
    std::optional<wex::ErrorMsg> message;
    try {
        message = wex::ErrorMsg::decode(payload);
    } catch (const wex::WEXError&) {
    }
    const std::string text = message ? message->humanReason() : std::string(texts::agentRefused);
    clientLog("← error: " + wex::logText(text));
    setStatus(text);
    post([text, message, callback = config_.agentError](WEXClient& c) {
        if (callback && message) callback(*message);
        c.publishAgentError(text);
    });
}

void ClientCore::handleDeckStat(wex::ByteView payload) {
    wex::DeckStat stat;
    try {
        stat = wex::DeckStat::decode(payload);
    } catch (const wex::WEXError&) {
        return;
    }
    post([stat](WEXClient& c) { c.publishDeckStat(stat); });
}

void ClientCore::handleClipFileMessage(wex::ControlType type, wex::ByteView payload) {
    try {
        switch (type) {
        case wex::ControlType::clipFilesOffer: {
            auto offer = wex::ClipFilesOffer::decode(payload);
            post([offer = std::move(offer)](WEXClient& c) {
                if (auto host = c.clipFileHost()) host->onRemoteOffer(offer.generation, offer.files);
            });
            return;
        }
        case wex::ControlType::clipFilePull: {
            wex::ByteReader r(payload);
            r.u16();
            const uint32_t generation = r.u32();
            const uint8_t index = r.u8();
            post([generation, index](WEXClient& c) {
                if (auto host = c.clipFileHost()) host->onPull(generation, index);
            });
            return;
        }
        case wex::ControlType::clipFileData: {
            auto data = wex::ClipFileData::decode(payload);
            post([data = std::move(data)](WEXClient& c) {
                if (auto host = c.clipFileHost())
                    host->onData(data.generation, data.index, data.offset, data.data, data.isLast());
            });
            return;
        }
        default: return;
        }
    } catch (const wex::WEXError&) {
        // A message that does not decode changes nothing.
    }
}

void ClientCore::handleWakePeerAck(wex::ByteView payload) {
    wex::WakePeerAck ack;
    try {
        ack = wex::WakePeerAck::decode(payload);
    } catch (const wex::WEXError&) {
        return;
    }
    clientLog("← WakePeerAck " + wakeStatusName(ack) + " — " + wex::logText(ack.humanReason()));
    if (config_.wakePeerAck) post([ack, callback = config_.wakePeerAck](WEXClient&) { callback(ack); });
}

} // namespace dovrel::controller

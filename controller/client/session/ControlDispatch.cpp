#include "controller/client/session/ControlDispatch.h"

#include <optional>
#include <utility>

#include "controller/client/session/ClientTexts.h"
#include "controller/client/input/PasteableText.h"
#include "controller/platform/ClientLog.h"
#include "protocol/ByteReader.h"
#include "protocol/LogText.h"
#include "protocol/WEXError.h"

namespace dovrel::controller {

namespace {
// The message the agent sent, or nothing when its bytes do not make one: a message that cannot be read
// is left out, never half used.
template <class Message> std::optional<Message> decoded(wex::ByteView payload) {
    try {
        return Message::decode(payload);
    } catch (const wex::WEXError&) {
        return std::nullopt;
    }
}

} // namespace

ControlDispatch::ControlDispatch(Host& host, Scheduler& clock)
    : host_(host), errorLines_(clock, "the agent's errors", 8, [](const std::string& line) { clientLog(line); }) {}

void ControlDispatch::dispatch(wex::ControlType type, const wex::Bytes& payload) {
    thread_.check(__func__);
    using T = wex::ControlType;
    switch (type) {
    case T::helloAck:
    case T::authOk:
    case T::authFail:
        if (!std::exchange(handshakeLogged_, true))
            clientLog("← " + std::string(wex::controlTypeName(type)) + " inside the session — dropped (and any more)");
        return;
    case T::displayList: handleDisplayList(payload); return;
    case T::pong: host_.pongArrived(payload); return;
    case T::bye: handleBye(payload); return;
    case T::error: handleAgentError(payload); return;
    case T::deckStat: handleDeckStat(payload); return;
    case T::clipFilesOffer:
    case T::clipFilePull:
    case T::clipFileData: handleClipFileMessage(type, payload); return;
    // This controller never asks an agent to wake another machine: an answer is one nobody asked for.
    case T::wakePeerAck: return;
    case T::clipboard: handleClipboard(payload); return;
    default: return;
    }
}

void ControlDispatch::sessionStarted() {
    thread_.check(__func__);
    handshakeLogged_ = false;
}

void ControlDispatch::handleDisplayList(wex::ByteView payload) {
    auto decodedList = decoded<wex::DisplayList>(payload);
    if (!decodedList) return;
    wex::DisplayList& list = *decodedList;
    int streaming = 0;
    for (std::size_t i = 0; i < list.displays.size(); ++i) {
        if (list.displays[i].flags.contains(wex::DisplayFlag::streaming)) {
            streaming = static_cast<int>(i);
            break;
        }
    }
    host_.publish(Displays{std::move(list.displays), streaming});
}

void ControlDispatch::handleBye(wex::ByteView payload) {
    std::string_view text = texts::byeEnded;
    if (payload.size() >= 3) {
        switch (payload[2]) {
        case 1: text = texts::byeTakenOver; break;
        case 2: text = texts::byeShuttingDown; break;
        case 3: text = texts::byeIdle; break;
        default: break;
        }
    }
    host_.endedByAgent(text);
}

void ControlDispatch::handleAgentError(wex::ByteView payload) {
    const std::optional<wex::ErrorMsg> message = decoded<wex::ErrorMsg>(payload);
    const std::string text = message ? message->humanReason() : std::string(texts::agentRefused);
    errorLines_.print("← error: " + wex::logText(text));
    host_.publish(AgentError{text, message});
}

void ControlDispatch::handleDeckStat(wex::ByteView payload) {
    if (const auto stat = decoded<wex::DeckStat>(payload)) host_.publish(*stat);
}

void ControlDispatch::handleClipFileMessage(wex::ControlType type, wex::ByteView payload) {
    try {
        switch (type) {
        case wex::ControlType::clipFilesOffer: {
            host_.publish(wex::ClipFilesOffer::decode(payload));
            return;
        }
        case wex::ControlType::clipFilePull: {
            wex::ByteReader r(payload);
            r.u16();
            const uint32_t generation = r.u32();
            const uint8_t index = r.u8();
            host_.publish(ClipFilePull{generation, index});
            return;
        }
        case wex::ControlType::clipFileData: {
            host_.publish(wex::ClipFileData::decode(payload));
            return;
        }
        default: return;
        }
    } catch (const wex::WEXError&) {
        // A message that does not decode changes nothing.
    }
}

void ControlDispatch::handleClipboard(wex::ByteView payload) {
    std::string text;
    try {
        const auto message = wex::Clipboard::decode(payload);
        if (wex::clipboardFormatFromRaw(message.format) != wex::ClipboardFormat::text) return;
        text = pasteableText(message.text());
    } catch (const wex::WEXError&) {
        return;
    }
    if (text.empty()) return;
    host_.publish(ClipboardText{std::move(text)});
}

} // namespace dovrel::controller

// What the clipboard and file services send through the session: long transfers that must stay in the
// session they began in and must not outrun the link, and the clipboard text the agent sends.
#include <chrono>

#include <QTimer>

#include "controller/client/ClientCore.h"
#include "controller/client/WEXClient.h"
#include "protocol/ControlMessages.h"
#include "protocol/WEXError.h"

namespace dovrel::controller {

namespace {
// A transfer waits while more than this is queued on the link: enough to keep loopback and fast
// networks busy, little enough that a large file never piles up in memory.
constexpr int64_t sendHighWater = 1 << 20;
constexpr auto drainRecheck = std::chrono::milliseconds(2);
} // namespace

void ClientCore::sendInSession(const SessionChannel::SessionRef& session, wex::ControlType type, wex::ByteView payload,
                               std::function<void(bool sent)> done) {
    const auto held = session.lock();
    if (!session_ || held.get() != static_cast<const void*>(session_.get())) {
        done(false);
        return;
    }
    sendControlSecure(payload, type);
    whenLinkDrains([done = std::move(done)] { done(true); });
}

void ClientCore::whenLinkDrains(std::function<void()> fn) {
    const StreamLink* link = isRelay_ ? relay_.get() : control_.get();
    if (!link || link->pendingBytes() <= sendHighWater) {
        fn();
        return;
    }
    QTimer::singleShot(drainRecheck, context_.get(), [this, fn = std::move(fn)]() mutable { whenLinkDrains(std::move(fn)); });
}

void ClientCore::handleClipboard(wex::ByteView payload) {
    std::string text;
    try {
        const auto message = wex::Clipboard::decode(payload);
        if (wex::clipboardFormatFromRaw(message.format) != wex::ClipboardFormat::text) return;
        text = message.text();
    } catch (const wex::WEXError&) {
        return;
    }
    if (text.empty()) return;
    post([text = std::move(text)](WEXClient& c) { c.publishRemoteClipboardText(text); });
}

} // namespace dovrel::controller

// What the clipboard and file services send through the session: long transfers that must stay in the
// session they began in and must not outrun the link.
#include <chrono>

#include <QTimer>

#include "controller/client/session/ClientCore.h"
#include "protocol/ControlMessages.h"

namespace dovrel::controller {

namespace {
// A transfer waits while more than this is queued on the link: enough to keep loopback and fast
// networks busy, little enough that a large file never piles up in memory.
constexpr int64_t sendHighWater = 1 << 20;
constexpr auto drainRecheck = std::chrono::milliseconds(2);
} // namespace

SessionChannel::SessionRef ClientCore::sessionRef() const {
    if (!sessionIsLive(session_)) return {};
    return session_;
}

bool ClientCore::sessionIsLive(const SessionChannel::SessionRef& session) const {
    // A link that broke keeps the session object until a new handshake replaces it, but nothing sent
    // in between arrives: the session is gone for a transfer.
    const StreamLink* link = links_.sessionLink();
    const auto held = session.lock();
    return session_ && held.get() == static_cast<const void*>(session_.get()) && link && link->isReady();
}

void ClientCore::sendInSession(const SessionChannel::SessionRef& session, wex::ControlType type, wex::ByteView payload,
                               std::function<void(bool sent)> done) {
    if (!sessionIsLive(session)) {
        done(false);
        return;
    }
    sendControlSecure(payload, type);
    // A file's end counts as sent only once everything before it has left.
    const int64_t limit = type == wex::ControlType::fileEnd ? 0 : sendHighWater;
    whenLinkDrains(limit, [this, session, done = std::move(done)] { done(sessionIsLive(session)); });
}

void ClientCore::whenLinkDrains(int64_t limit, std::function<void()> fn) {
    const StreamLink* link = links_.sessionLink();
    if (!link || !link->isReady() || link->pendingBytes() <= limit) {
        fn();
        return;
    }
    QTimer::singleShot(drainRecheck, context_.get(),
                       [this, limit, fn = std::move(fn)]() mutable { whenLinkDrains(limit, std::move(fn)); });
}

} // namespace dovrel::controller

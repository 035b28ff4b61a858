#include "controller/ui/session/SessionNotices.h"

namespace dovrel::controller {

bool secureScreenShown(bool targetIsWindows, std::optional<uint8_t> deckFlags) {
    return targetIsWindows && deckFlags && (*deckFlags & 0x06) == 0x04;
}

SessionNotices::SessionNotices(Scheduler& clock, QObject* parent) : QObject(parent), clock_(clock) {}

SessionNotices::~SessionNotices() = default;

QString SessionNotices::text() const {
    if (away_) return *away_;
    if (secure_)
        return tr("Windows is showing a secure screen (lock, sign-in, UAC or Ctrl+Alt+Del). DOVRELÆ can't see or "
                  "control it without Full control - turn that on in DOVRELÆ on the PC. To get back now, press Esc "
                  "at the PC itself.");
    if (slowLink_) return *slowLink_;
    if (local_) return *local_;
    return agentError_.value_or(QString());
}

bool SessionNotices::error() const {
    if (away_ || secure_) return false;
    if (slowLink_) return true;
    return local_ ? localTone_ == Tone::refusal : agentError_.has_value();
}

void SessionNotices::setLocalNotice(const std::optional<QString>& notice, Tone tone) {
    if (notice == local_ && tone == localTone_) return;
    local_ = notice;
    localTone_ = tone;
    emit changed();
    scheduleClear();
}

void SessionNotices::setAgentError(const std::optional<QString>& error) {
    const bool same = error == agentError_;
    agentError_ = error;
    if (!same) emit changed();
    // The same error again is news too: it gets its full 7 s.
    scheduleClear();
}

void SessionNotices::setSecureScreen(bool on) {
    if (on == secure_) return;
    secure_ = on;
    emit changed();
}

void SessionNotices::setAway(const std::optional<QString>& why) {
    if (why == away_) return;
    away_ = why;
    emit changed();
}

void SessionNotices::setSlowLink(const std::optional<QString>& advice) {
    if (advice == slowLink_) return;
    slowLink_ = advice;
    emit changed();
}

void SessionNotices::dismiss() {
    if (secure_) return;
    clear_.reset();
    const bool hadError = agentError_.has_value();
    if (local_) {
        local_.reset();
        emit changed();
    }
    if (hadError) {
        agentError_.reset();
        emit changed();
        emit agentErrorCleared();
    }
}

void SessionNotices::stop() { clear_.reset(); }

void SessionNotices::scheduleClear() {
    clear_.reset();
    if (!local_ && !agentError_) return;
    // What this clear is for: a notice or error that differs when it fires was raised after it and
    // keeps its own time.
    clear_ = clock_.after(clearAfter, [this, local = local_, error = agentError_] {
        bool any = false;
        if (local_ && local_ == local) {
            local_.reset();
            any = true;
        }
        const bool errorGoes = agentError_ && agentError_ == error;
        if (errorGoes) {
            agentError_.reset();
            any = true;
        }
        if (any) emit changed();
        if (errorGoes) emit agentErrorCleared();
    });
}

} // namespace dovrel::controller

#pragma once

#include <chrono>
#include <memory>
#include <optional>

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include "runtime/Scheduler.h"

namespace dovrel::controller {

// The session window's notice banner: why the session's computer does not take the session back
// (with the offer to end it), else the warning that Windows shows a secure screen the agent cannot
// reach, else that the link is too slow for the picture, else the window's own notice, else the agent's
// last error. The last two clear themselves 7 s
// after the last change of either, or when the banner is tapped; the first two stay while they hold.
// A clear removes only what it was scheduled for: a notice raised after it was armed stays. Main
// thread.
class SessionNotices : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The session window's model holds its notices.")
    Q_PROPERTY(QString text READ text NOTIFY changed)
    Q_PROPERTY(bool shown READ shown NOTIFY changed)
    Q_PROPERTY(bool secureScreen READ secureScreen NOTIFY changed)
    Q_PROPERTY(bool offersEnd READ offersEnd NOTIFY changed)
    Q_PROPERTY(bool error READ error NOTIFY changed)

public:
    static constexpr auto clearAfter = std::chrono::milliseconds(7000);

    explicit SessionNotices(Scheduler& clock, QObject* parent = nullptr);
    ~SessionNotices() override;

    QString text() const;
    bool shown() const { return !text().isEmpty(); }
    bool secureScreen() const { return secure_ && !away_; }
    // The banner says why the session cannot go on, and offers to end it.
    bool offersEnd() const { return away_.has_value(); }
    // What the banner says is something that went wrong (the agent's error, a request the window
    // refused), rather than news such as a file that arrived.
    bool error() const;
    const std::optional<QString>& localNotice() const { return local_; }

    enum class Tone { news, refusal };
    void setLocalNotice(const std::optional<QString>& notice, Tone tone = Tone::news);
    // The agent's last error as the client now publishes it.
    void setAgentError(const std::optional<QString>& error);
    void setSecureScreen(bool on);
    // Why the session's computer does not take the session back while it is re-dialled; nothing once
    // it does, or the session is over.
    void setAway(const std::optional<QString>& why);
    // The pictures keep arriving damaged, and what to do about it; it stays while that holds.
    void setSlowLink(const std::optional<QString>& advice);
    // A tap on the banner: the notice and the agent's error go at once (not the secure-screen warning).
    Q_INVOKABLE void dismiss();
    // The window closed: nothing more is cleared later.
    void stop();

signals:
    void changed();
    // The agent's error was dismissed or timed out: the client should forget it.
    void agentErrorCleared();

private:
    void scheduleClear();

    Scheduler& clock_;
    std::optional<QString> local_;
    Tone localTone_ = Tone::news;
    std::optional<QString> agentError_;
    bool secure_ = false;
    std::optional<QString> away_;
    std::optional<QString> slowLink_;
    std::unique_ptr<Timer> clear_;
};

// The secure-screen condition: a Windows target whose statistics flag the secure desktop (0x04)
// without full control (0x02).
bool secureScreenShown(bool targetIsWindows, std::optional<uint8_t> deckFlags);

} // namespace dovrel::controller

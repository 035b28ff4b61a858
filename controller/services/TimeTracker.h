#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QUuid>

#include "controller/platform/UserDefaults.h"
#include "controller/platform/WallClock.h"
#include "controller/services/PendingReminders.h"

namespace dovrel::controller {

// The log of remote sessions: each with its start, its end and the number of distinct minutes in
// which the user sent input, 90 days of it in the user defaults under "dovrel.time.sessions". Every
// session start also sets three reminders 4, 11 and 25 days ahead, which a newer session moves on.
//
// The session client drives it: a start when the agent accepts a session, input as it is sent, an
// end when the user disconnects. Main thread; each change is written through at once, so a session
// cut short by the process ending keeps the end of its last counted minute.
class TimeTracker : public QObject {
    Q_OBJECT

public:
    struct Session {
        QUuid id;
        QDateTime started;
        QDateTime ended;
        int activeMinutes = 0;
        QString machine;
        bool operator==(const Session&) const = default;
    };

    static constexpr std::string_view key = "dovrel.time.sessions";
    static constexpr int64_t retentionSeconds = 7'776'000; // 90 days

    TimeTracker(std::shared_ptr<UserDefaults> defaults, std::shared_ptr<const WallClock> clock,
                std::shared_ptr<PendingReminders> reminders, QObject* parent = nullptr);

    // The three reminders for a session with `machine` started at `startedAt`.
    static std::vector<Reminder> dormancyReminders(const QString& machine, const QDateTime& startedAt);
    static QStringList reminderIds();

    // The stored log, without what is past retention.
    std::vector<Session> sessions() const;

public slots:
    // Closes any open session and opens one with `machine` (the agent's room).
    void sessionStarted(const QString& machine);
    void sessionEnded();
    // One input sent: counts the minute it falls in, once.
    void noteInput();

private:
    void finish(const QDateTime& at);
    void write(const QDateTime& ended);
    void save(const std::vector<Session>& list);

    std::shared_ptr<UserDefaults> defaults_;
    std::shared_ptr<const WallClock> clock_;
    std::shared_ptr<PendingReminders> reminders_;
    std::optional<QDateTime> currentStart_;
    QUuid currentId_ = QUuid::createUuid();
    QString currentMachine_;
    int activeMinuteCount_ = 0;
    int64_t lastActiveBucket_ = -1;
};

} // namespace dovrel::controller

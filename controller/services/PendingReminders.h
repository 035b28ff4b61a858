#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include "controller/platform/DesktopNotifications.h"
#include "controller/platform/UserDefaults.h"
#include "controller/platform/WallClock.h"
#include "runtime/Scheduler.h"

namespace dovrel::controller {

struct Reminder {
    QString id;
    QString title;
    QString body;
    QDateTime due;
    bool operator==(const Reminder&) const = default;
};

// Reminders for later, kept in the user defaults because the desktop cannot hold a notification
// back until a date. The due ones are shown at start-up and every hour while the controller runs;
// a reminder whose time came while the controller was closed shows when it next starts. Of several
// due at once only the latest shows (three stacked nudges say nothing one does not). A reminder the
// service did not take stays for the next round. Main thread.
class PendingReminders : public QObject {
    Q_OBJECT

public:
    static constexpr std::string_view key = "dovrel.reminders.pending";
    static constexpr auto deliveryInterval = std::chrono::hours(1);

    PendingReminders(std::shared_ptr<UserDefaults> defaults, std::shared_ptr<DesktopNotifications> notifications,
                     std::shared_ptr<const WallClock> clock, Scheduler& scheduler, QObject* parent = nullptr);
    ~PendingReminders() override;

    // Shows what is due now and starts the hourly round.
    void start();
    // Shows the due reminders now.
    void deliverDue();
    // Replaces the reminders of the same ids, when the notification service answers; without one
    // nothing is kept and nothing is said.
    void scheduleIfAuthorised(std::vector<Reminder> reminders);
    void cancel(const QStringList& ids);
    std::vector<Reminder> pending() const;

private:
    void save(const std::vector<Reminder>& list);

    std::shared_ptr<UserDefaults> defaults_;
    std::shared_ptr<DesktopNotifications> notifications_;
    std::shared_ptr<const WallClock> clock_;
    Scheduler& scheduler_;
    std::unique_ptr<Timer> round_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true); // answers after our end are dropped
};

} // namespace dovrel::controller

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "AssistantTestSupport.h"
#include "FakeScheduler.h"
#include "NotificationsDouble.h"
#include "SessionBus.h"
#include "controller/platform/DBusDesktopNotifications.h"
#include "controller/services/TimeTracker.h"

namespace dovrel::controller::test {
namespace {

// A notification service that answers at once as the test says.
struct FakeNotifications final : DesktopNotifications {
    bool available = true;
    bool takes = true;
    std::vector<std::pair<QString, QString>> shown;
    void checkAvailable(std::function<void(bool)> done) override { done(available); }
    void show(const QString& title, const QString& body, std::function<void(bool)> done) override {
        if (takes) shown.emplace_back(title, body);
        done(takes);
    }
};

struct TrackerFixture {
    QCoreApplication& application = app();
    dovrel::test::TempDir dir;
    dovrel::test::FakeScheduler scheduler;
    std::shared_ptr<UserDefaults> defaults = std::make_shared<UserDefaults>(dir.file("settings.ini"));
    std::shared_ptr<FakeWallClock> clock = std::make_shared<FakeWallClock>();
    std::shared_ptr<FakeNotifications> notifications = std::make_shared<FakeNotifications>();
    std::shared_ptr<PendingReminders> reminders =
        std::make_shared<PendingReminders>(defaults, notifications, clock, scheduler);
    TimeTracker tracker{defaults, clock, reminders};

    void at(int h, int m, int s) { clock->at = QDateTime(QDate(2026, 12, 9), QTime(h, m, s), Qt::UTC); }
    QJsonArray stored() const {
        const auto data = defaults->data(TimeTracker::key);
        if (!data) return {};
        return QJsonDocument::fromJson(
                   QByteArray(reinterpret_cast<const char*>(data->data()), static_cast<qsizetype>(data->size())))
            .array();
    }
};

TEST(TimeTracker, CountsEachMinuteWithInputOnce) {
    TrackerFixture f;
    f.tracker.noteInput(); // before any session: nothing
    f.tracker.sessionEnded();
    EXPECT_TRUE(f.stored().isEmpty());

    f.at(10, 0, 5);
    f.tracker.sessionStarted("a1b2");
    f.at(10, 0, 10);
    f.tracker.noteInput();
    f.at(10, 0, 59);
    f.tracker.noteInput();
    f.at(10, 1, 0); // one second on, but a new minute
    f.tracker.noteInput();
    ASSERT_EQ(f.tracker.sessions().size(), 1u);
    EXPECT_EQ(f.tracker.sessions()[0].activeMinutes, 2);
    EXPECT_EQ(f.tracker.sessions()[0].ended, f.clock->at); // moves on with every counted minute

    f.at(10, 30, 0);
    f.tracker.sessionEnded();
    f.tracker.noteInput();
    const QJsonObject record = f.stored().at(0).toObject();
    EXPECT_EQ(record.keys(), (QStringList{"activeMinutes", "ended", "id", "machine", "started"}));
    EXPECT_EQ(record.value("activeMinutes").toInt(), 2);
    EXPECT_EQ(record.value("machine").toString(), "a1b2");
    // Seconds since 1 January 2001 UTC.
    EXPECT_DOUBLE_EQ(
        record.value("started").toDouble(),
        static_cast<double>(QDateTime(QDate(2026, 12, 9), QTime(10, 0, 5), Qt::UTC).toSecsSinceEpoch() - 978307200));
    EXPECT_DOUBLE_EQ(record.value("ended").toDouble() - record.value("started").toDouble(), 29 * 60 + 55);
    EXPECT_FALSE(QUuid::fromString(record.value("id").toString()).isNull());
}

TEST(TimeTracker, ASecondStartClosesTheFirstAndTheLogKeepsNinetyDays) {
    TrackerFixture f;
    // Two old records: one ended exactly 90 days ago, one a second later.
    const auto old = [&](const QString& id, qint64 agoSeconds) {
        const double t = static_cast<double>(f.clock->at.toSecsSinceEpoch() - agoSeconds - 978307200);
        return QJsonObject{{"id", id}, {"started", t - 60}, {"ended", t}, {"activeMinutes", 1}, {"machine", "old"}};
    };
    const QByteArray seeded = QJsonDocument(QJsonArray{old("6F9619FF-8B86-D011-B42D-00C04FC964FF", 7776000),
                                                       old("7F9619FF-8B86-D011-B42D-00C04FC964FF", 7775999)})
                                  .toJson();
    f.defaults->setData(TimeTracker::key, wex::ByteView(reinterpret_cast<const uint8_t*>(seeded.constData()),
                                                        static_cast<size_t>(seeded.size())));

    f.tracker.sessionStarted("first");
    auto log = f.tracker.sessions();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].id, QUuid::fromString(QString("7F9619FF-8B86-D011-B42D-00C04FC964FF")));
    EXPECT_EQ(log[1].machine, "first");

    f.at(10, 20, 0); // the younger old record passes 90 days too
    f.tracker.sessionStarted("second");
    log = f.tracker.sessions();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].machine, "first");
    EXPECT_EQ(log[0].ended, f.clock->at);
    EXPECT_EQ(log[1].machine, "second");
    EXPECT_NE(log[0].id, log[1].id);
    EXPECT_EQ(f.stored().size(), 2);

    // An unreadable log counts as empty and is replaced at the next save.
    f.defaults->setData(TimeTracker::key, wex::ByteView(reinterpret_cast<const uint8_t*>("[{\"id\":1}]"), 10));
    EXPECT_TRUE(f.tracker.sessions().empty());
    f.tracker.noteInput();
    EXPECT_EQ(f.tracker.sessions().size(), 1u);
}

TEST(TimeTracker, StartSetsThreeRemindersWhichTheHourlyRoundDelivers) {
    TrackerFixture f;
    const QDateTime start = f.clock->at;
    f.notifications->available = false; // no service: nothing is kept
    f.tracker.sessionStarted("");
    EXPECT_TRUE(f.reminders->pending().empty());
    f.notifications->available = true;
    f.tracker.sessionStarted("");
    auto pending = f.reminders->pending();
    ASSERT_EQ(pending.size(), 3u);
    EXPECT_EQ(pending[0], (Reminder{"dovrel.reminder.0", "Your machine is still reachable",
                                    "It has been four days. A few minutes from wherever you are beats an hour at "
                                    "the desk.",
                                    start.addSecs(345600)}));
    EXPECT_EQ(pending[1].title, "Your machine has been waiting a while");
    EXPECT_EQ(pending[1].due, start.addSecs(950400));
    EXPECT_EQ(pending[2].body,
              QString::fromUtf8("Nothing lost \xe2\x80\x94 it is still reachable whenever you need it."));
    EXPECT_EQ(pending[2].due, start.addSecs(2160000));

    // A newer session moves them on rather than adding more.
    f.clock->at = start.addDays(1);
    f.tracker.sessionStarted("box");
    pending = f.reminders->pending();
    ASSERT_EQ(pending.size(), 3u);
    EXPECT_EQ(pending[0].title, "box is still reachable");
    EXPECT_EQ(pending[0].due, start.addDays(1).addSecs(345600));

    f.reminders->start();
    EXPECT_TRUE(f.notifications->shown.empty()); // nothing due yet
    f.clock->at = start.addDays(6);
    f.notifications->takes = false;
    f.scheduler.advance(std::chrono::hours(1));
    EXPECT_EQ(f.reminders->pending().size(), 3u); // not taken: kept for the next round
    f.notifications->takes = true;
    f.clock->at = start.addDays(40); // all three due: only the latest is shown
    f.scheduler.advance(std::chrono::hours(1));
    ASSERT_EQ(f.notifications->shown.size(), 1u);
    EXPECT_EQ(f.notifications->shown[0].first, "box is where you left it");
    EXPECT_TRUE(f.reminders->pending().empty());
}

TEST(DesktopNotifications, ShowsThroughTheSessionBusService) {
    app();
    dovrel::test::SessionBus bus;
    if (!bus.available()) GTEST_SKIP() << bus.reason();
    const QDBusConnection connection =
        QDBusConnection::connectToBus(QString::fromStdString(bus.address()), "notifications-client");
    DBusDesktopNotifications notifications(connection);

    std::optional<bool> available;
    notifications.checkAvailable([&](bool on) { available = on; });
    ASSERT_TRUE(waitUntil([&] { return available.has_value(); }, 15s));
    EXPECT_FALSE(*available); // nobody serves the name yet

    dovrel::test::NotificationsDouble service(bus.address());
    ASSERT_TRUE(service.registered());
    available.reset();
    notifications.checkAvailable([&](bool on) { available = on; });
    ASSERT_TRUE(waitUntil([&] { return available.has_value(); }, 15s));
    EXPECT_TRUE(*available);

    std::optional<bool> taken;
    notifications.show("box is still reachable", "It has been four days.", [&](bool ok) { taken = ok; });
    ASSERT_TRUE(waitUntil([&] { return taken.has_value(); }, 15s));
    EXPECT_TRUE(*taken);
    const auto shown = service.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].summary, "box is still reachable");
    EXPECT_EQ(shown[0].body, "It has been four days.");
    EXPECT_EQ(shown[0].hints.value("suppress-sound").toBool(), true);
}

} // namespace
} // namespace dovrel::controller::test

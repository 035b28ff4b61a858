#include "controller/services/TimeTracker.h"

#include <algorithm>
#include <cmath>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace dovrel::controller {

namespace {

// Dates are stored as seconds since 1 January 2001 00:00:00 UTC, the date form the log has always had.
constexpr int64_t referenceEpochMs = 978'307'200'000;

double storedDate(const QDateTime& t) { return static_cast<double>(t.toMSecsSinceEpoch() - referenceEpochMs) / 1000.0; }

QDateTime dateFromStored(double seconds) {
    return QDateTime::fromMSecsSinceEpoch(referenceEpochMs + static_cast<int64_t>(std::llround(seconds * 1000.0)),
                                          Qt::UTC);
}

struct ReminderText {
    int days;
    const char* title; // after the machine's name
    const char* body;
};

constexpr ReminderText reminderTexts[] = {
    {4, " is still reachable", "It has been four days. A few minutes from wherever you are beats an hour at the desk."},
    {11, " has been waiting a while", "Still awake, still yours. Open DOVREL\u00c6 and pick up where you left off."},
    {25, " is where you left it", "Nothing lost \u2014 it is still reachable whenever you need it."},
};

} // namespace

TimeTracker::TimeTracker(std::shared_ptr<UserDefaults> defaults, std::shared_ptr<const WallClock> clock,
                         std::shared_ptr<PendingReminders> reminders, QObject* parent)
    : QObject(parent), defaults_(std::move(defaults)), clock_(std::move(clock)), reminders_(std::move(reminders)) {}

QStringList TimeTracker::reminderIds() {
    return {QStringLiteral("dovrel.reminder.0"), QStringLiteral("dovrel.reminder.1"),
            QStringLiteral("dovrel.reminder.2")};
}

std::vector<Reminder> TimeTracker::dormancyReminders(const QString& machine, const QDateTime& startedAt) {
    const QString name = machine.isEmpty() ? QStringLiteral("Your machine") : machine;
    std::vector<Reminder> out;
    int i = 0;
    for (const ReminderText& r : reminderTexts) {
        out.push_back({QStringLiteral("dovrel.reminder.%1").arg(i++), name + QString::fromUtf8(r.title),
                       QString::fromUtf8(r.body), startedAt.addSecs(int64_t{r.days} * 24 * 60 * 60)});
    }
    return out;
}

void TimeTracker::sessionStarted(const QString& machine) {
    const QDateTime now = clock_->now();
    if (currentStart_) finish(now);
    currentStart_ = now;
    currentId_ = QUuid::createUuid();
    currentMachine_ = machine;
    activeMinuteCount_ = 0;
    lastActiveBucket_ = -1;
    reminders_->cancel(reminderIds());
    reminders_->scheduleIfAuthorised(dormancyReminders(machine, now));
    write(now);
}

void TimeTracker::sessionEnded() { finish(clock_->now()); }

void TimeTracker::noteInput() {
    const QDateTime now = clock_->now();
    const int64_t bucket = now.toSecsSinceEpoch() / 60;
    if (!currentStart_ || bucket == lastActiveBucket_) return;
    lastActiveBucket_ = bucket;
    ++activeMinuteCount_;
    write(now);
}

void TimeTracker::finish(const QDateTime& at) {
    if (!currentStart_) return;
    write(at);
    currentStart_.reset();
}

void TimeTracker::write(const QDateTime& ended) {
    if (!currentStart_) return;
    const Session s{currentId_, *currentStart_, ended, activeMinuteCount_, currentMachine_};
    std::vector<Session> list = sessions();
    const auto same = std::find_if(list.begin(), list.end(), [&](const Session& r) { return r.id == s.id; });
    if (same != list.end())
        *same = s;
    else
        list.push_back(s);
    save(list);
}

std::vector<TimeTracker::Session> TimeTracker::sessions() const {
    const auto data = defaults_->data(key);
    if (!data) return {};
    const QJsonDocument doc = QJsonDocument::fromJson(
        QByteArray(reinterpret_cast<const char*>(data->data()), static_cast<qsizetype>(data->size())));
    if (!doc.isArray()) return {};
    std::vector<Session> all;
    for (const QJsonValue& v : doc.array()) {
        const QJsonObject o = v.toObject();
        const QUuid id = QUuid::fromString(o.value("id").toString());
        const QJsonValue minutes = o.value("activeMinutes");
        // One unreadable record makes the whole log unreadable, as it always has: the next save
        // starts it afresh rather than keep a log that only partly parses.
        if (!v.isObject() || id.isNull() || !o.value("started").isDouble() || !o.value("ended").isDouble() ||
            !minutes.isDouble() || minutes.toDouble() != std::floor(minutes.toDouble()) ||
            !o.value("machine").isString())
            return {};
        all.push_back({id, dateFromStored(o.value("started").toDouble()), dateFromStored(o.value("ended").toDouble()),
                       minutes.toInt(), o.value("machine").toString()});
    }
    const QDateTime cutoff = clock_->now().addSecs(-retentionSeconds);
    std::vector<Session> kept;
    for (const Session& s : all)
        if (s.ended > cutoff) kept.push_back(s);
    return kept;
}

void TimeTracker::save(const std::vector<Session>& list) {
    QJsonArray a;
    for (const Session& s : list)
        a.append(QJsonObject{{"id", s.id.toString(QUuid::WithoutBraces).toUpper()},
                             {"started", storedDate(s.started)},
                             {"ended", storedDate(s.ended)},
                             {"activeMinutes", s.activeMinutes},
                             {"machine", s.machine}});
    const QByteArray bytes = QJsonDocument(a).toJson(QJsonDocument::Compact);
    defaults_->setData(
        key, wex::ByteView(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size())));
}

} // namespace dovrel::controller

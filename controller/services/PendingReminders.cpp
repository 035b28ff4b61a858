#include "controller/services/PendingReminders.h"

#include <algorithm>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace dovrel::controller {

PendingReminders::PendingReminders(std::shared_ptr<UserDefaults> defaults,
                                   std::shared_ptr<DesktopNotifications> notifications,
                                   std::shared_ptr<const WallClock> clock, Scheduler& scheduler, QObject* parent)
    : QObject(parent), defaults_(std::move(defaults)), notifications_(std::move(notifications)),
      clock_(std::move(clock)), scheduler_(scheduler) {}

PendingReminders::~PendingReminders() = default;

void PendingReminders::start() {
    deliverDue();
    round_ = scheduler_.every(deliveryInterval, deliveryInterval, [this] { deliverDue(); });
}

std::vector<Reminder> PendingReminders::pending() const {
    std::vector<Reminder> out;
    const auto data = defaults_->data(key);
    if (!data) return out;
    const QJsonDocument doc = QJsonDocument::fromJson(
        QByteArray(reinterpret_cast<const char*>(data->data()), static_cast<qsizetype>(data->size())));
    for (const QJsonValue& v : doc.array()) {
        const QJsonObject o = v.toObject();
        if (!o.value("id").isString() || !o.value("title").isString() || !o.value("body").isString() ||
            !o.value("due").isDouble())
            continue; // unreadable entries are dropped
        out.push_back({o.value("id").toString(), o.value("title").toString(), o.value("body").toString(),
                       QDateTime::fromSecsSinceEpoch(static_cast<qint64>(o.value("due").toDouble()), Qt::UTC)});
    }
    return out;
}

void PendingReminders::save(const std::vector<Reminder>& list) {
    QJsonArray a;
    for (const Reminder& r : list)
        a.append(QJsonObject{{"id", r.id},
                             {"title", r.title},
                             {"body", r.body},
                             {"due", static_cast<double>(r.due.toSecsSinceEpoch())}});
    const QByteArray bytes = QJsonDocument(a).toJson(QJsonDocument::Compact);
    defaults_->setData(
        key, wex::ByteView(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size())));
}

void PendingReminders::cancel(const QStringList& ids) {
    std::vector<Reminder> list = pending();
    std::erase_if(list, [&](const Reminder& r) { return ids.contains(r.id); });
    save(list);
}

void PendingReminders::scheduleIfAuthorised(std::vector<Reminder> reminders) {
    std::weak_ptr<bool> alive = alive_;
    notifications_->checkAvailable([this, alive, reminders = std::move(reminders)](bool available) {
        if (alive.expired() || !available) return;
        QStringList ids;
        for (const Reminder& r : reminders)
            ids.append(r.id);
        std::vector<Reminder> list = pending();
        std::erase_if(list, [&](const Reminder& r) { return ids.contains(r.id); });
        list.insert(list.end(), reminders.begin(), reminders.end());
        save(list);
    });
}

void PendingReminders::deliverDue() {
    const QDateTime now = clock_->now();
    const std::vector<Reminder> all = pending();
    std::vector<Reminder> due;
    std::copy_if(all.begin(), all.end(), std::back_inserter(due), [&](const Reminder& r) { return r.due <= now; });
    if (due.empty()) return;
    const Reminder latest =
        *std::max_element(due.begin(), due.end(), [](const Reminder& a, const Reminder& b) { return a.due < b.due; });
    std::weak_ptr<bool> alive = alive_;
    notifications_->show(latest.title, latest.body, [this, alive, due](bool shown) {
        if (alive.expired() || !shown) return;
        // Taken by the service: every reminder that was due with it is done.
        std::vector<Reminder> list = pending();
        std::erase_if(list, [&](const Reminder& r) { return std::find(due.begin(), due.end(), r) != due.end(); });
        save(list);
    });
}

} // namespace dovrel::controller

#include "controller/services/DeviceStore.h"

#include <set>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "controller/services/DemoDeck.h"

namespace dovrel::controller {

namespace {

std::optional<QString> optionalText(const QJsonObject& o, const char* key) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isString()) return std::nullopt;
    return v.toString();
}

void putOptional(QJsonObject& o, const char* key, const std::optional<QString>& value) {
    if (value) o.insert(QLatin1String(key), *value);
}

QVariant optionalForView(const std::optional<QString>& v) { return v ? QVariant(*v) : QVariant(); }

} // namespace

bool DeviceStore::isDemo(const QStringList& arguments, const UserDefaults& defaults) {
    if (arguments.contains(QStringLiteral("-DovrelDemo"))) return true;
    const QString stored = QString::fromStdString(defaults.string("DovrelDemo").value_or("")).trimmed().toLower();
    return stored == u"true" || stored == u"yes" || stored == u"1";
}

DeviceStore::DeviceStore(std::shared_ptr<UserDefaults> defaults, bool demo, QObject* parent)
    : QAbstractListModel(parent), defaults_(std::move(defaults)) {
    if (demo)
        seedDemo();
    else
        load();
}

void DeviceStore::load() {
    const auto stored = defaults_->string(key);
    if (!stored) return;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(*stored));
    if (!doc.isArray()) return;
    const QJsonArray entries = doc.array();
    for (const QJsonValue& e : entries)
        if (!e.isObject()) return; // not a list of machines at all: left as it is

    std::vector<Device> built;
    std::set<QString> names;
    for (const QJsonValue& e : entries) {
        const QJsonObject o = e.toObject();
        if (o.isEmpty()) continue;
        const auto idText = optionalText(o, "id");
        const auto id = idText ? uuidFromText(*idText) : std::nullopt;
        const auto name = optionalText(o, "name");
        const auto host = optionalText(o, "host");
        const auto kindWord = optionalText(o, "kind");
        const auto kind = kindWord ? kindFromText(*kindWord) : std::nullopt;
        if (!id || !name || !host || !kind) continue;
        if (!names.insert(name->toLower()).second) continue; // the first machine of a name wins

        Device d;
        d.id = *id;
        d.name = *name;
        d.kind = *kind;
        d.host = *host;
        d.mac = optionalText(o, "mac");
        d.deviceId = optionalText(o, "deviceId");
        d.relayAccount = optionalText(o, "relayAccount");
        d.relayToken = optionalText(o, "relayToken");
        d.relayHost = optionalText(o, "relayHost");
        d.state = d.deviceId ? Device::State::awake : Device::State::asleep;
        d.lastSeen = QStringLiteral("paired");
        built.push_back(std::move(d));
    }
    const bool dropped = built.size() != static_cast<std::size_t>(entries.size());
    setDevices(std::move(built));
    if (dropped) save();
}

void DeviceStore::seedDemo() {
    // The demo deck, with the hardware addresses and first host of the store's own sample set.
    std::vector<Device> demo = DemoDeck::devices();
    demo[0].host = QStringLiteral("10.0.0.4");
    demo[0].mac = QStringLiteral("aa:bb:cc:dd:ee:01");
    demo[1].mac = QStringLiteral("aa:bb:cc:dd:ee:02");
    setDevices(std::move(demo));
}

bool DeviceStore::save() {
    QJsonArray entries;
    for (const Device& d : devices_) {
        QJsonObject o{{"id", uuidText(d.id)}, {"name", d.name}, {"host", d.host}, {"kind", kindText(d.kind)}};
        putOptional(o, "mac", d.mac);
        putOptional(o, "deviceId", d.deviceId);
        putOptional(o, "relayAccount", d.relayAccount);
        putOptional(o, "relayToken", d.relayToken);
        putOptional(o, "relayHost", d.relayHost);
        entries.append(o);
    }
    return defaults_->setString(key, QJsonDocument(entries).toJson(QJsonDocument::Compact).toStdString());
}

const Device* DeviceStore::find(const QUuid& id) const {
    const int row = rowOf(id);
    return row < 0 ? nullptr : &devices_[static_cast<std::size_t>(row)];
}

int DeviceStore::rowOf(const QUuid& id) const {
    for (std::size_t i = 0; i < devices_.size(); ++i)
        if (devices_[i].id == id) return static_cast<int>(i);
    return -1;
}

void DeviceStore::changedRow(int row) {
    const QModelIndex at = index(row);
    emit dataChanged(at, at);
}

void DeviceStore::setDevices(std::vector<Device> devices) {
    const int before = count();
    beginResetModel();
    devices_ = std::move(devices);
    endResetModel();
    if (count() != before) emit countChanged();
}

void DeviceStore::putFirst(Device device) {
    remove(device.id);
    beginInsertRows(QModelIndex(), 0, 0);
    devices_.insert(devices_.begin(), std::move(device));
    endInsertRows();
    emit countChanged();
}

bool DeviceStore::remove(const QUuid& id) {
    const int row = rowOf(id);
    if (row < 0) return false;
    beginRemoveRows(QModelIndex(), row, row);
    devices_.erase(devices_.begin() + row);
    endRemoveRows();
    emit countChanged();
    return true;
}

void DeviceStore::setPrivacyFrost(const QUuid& id, bool on) {
    const int row = rowOf(id);
    if (row < 0 || devices_[static_cast<std::size_t>(row)].privacyFrost == on) return;
    devices_[static_cast<std::size_t>(row)].privacyFrost = on;
    changedRow(row);
}

bool DeviceStore::rename(const QUuid& id, const QString& name) {
    const int row = rowOf(id);
    if (row < 0) return false;
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty()) return false;
    for (const Device& other : devices_)
        if (other.id != id && other.name.toLower() == trimmed.toLower()) return false;
    devices_[static_cast<std::size_t>(row)].name = trimmed;
    changedRow(row);
    save();
    return true;
}

std::optional<QUuid> DeviceStore::applyStats(const QString& name, const std::optional<QString>& deviceId, double cpu,
                                             double ram, std::optional<double> battery) {
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        Device& d = devices_[i];
        if (!((deviceId && d.deviceId && *deviceId == *d.deviceId) || d.name == name)) continue;
        d.cpu.push_back(cpu);
        if (d.cpu.size() > cpuHistory) d.cpu.erase(d.cpu.begin(), d.cpu.end() - cpuHistory);
        d.ram = ram;
        d.battery = battery;
        d.statsCurrent = true;
        d.state = Device::State::awake;
        d.agentStopped = false;
        d.lastSeen = QStringLiteral("now");
        changedRow(static_cast<int>(i));
        return d.id;
    }
    return std::nullopt;
}

void DeviceStore::statsEnded(const QUuid& id) {
    const int row = rowOf(id);
    if (row < 0) return;
    Device& d = devices_[static_cast<std::size_t>(row)];
    if (!d.statsCurrent) return;
    d.cpu.clear();
    d.ram = 0;
    d.battery.reset();
    d.statsCurrent = false;
    changedRow(row);
}

void DeviceStore::setLiveness(const QUuid& id, Liveness liveness) {
    const int row = rowOf(id);
    if (row < 0) return;
    Device& d = devices_[static_cast<std::size_t>(row)];
    const bool up = liveness != Liveness::asleep;
    const Device::State state = up ? Device::State::awake : Device::State::asleep;
    const bool stopped = liveness == Liveness::agentStopped;
    if (d.state == state && d.agentStopped == stopped) return;
    d.state = state;
    d.agentStopped = stopped;
    d.lastSeen = up ? QStringLiteral("now") : QStringLiteral("asleep");
    changedRow(row);
}

void DeviceStore::recordDeviceId(const QUuid& id, const QString& deviceId) {
    const int row = rowOf(id);
    if (row < 0 || deviceId.isEmpty()) return;
    Device& d = devices_[static_cast<std::size_t>(row)];
    if (d.deviceId == deviceId) return;
    d.deviceId = deviceId;
    changedRow(row);
    save();
}

int DeviceStore::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count(); }

QVariant DeviceStore::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= count()) return {};
    const Device& d = devices_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case IdRole: return uuidText(d.id);
    case Qt::DisplayRole:
    case NameRole: return d.name;
    case KindRole: return kindText(d.kind);
    case HostRole: return d.host;
    case MacRole: return optionalForView(d.mac);
    case DeviceIdRole: return optionalForView(d.deviceId);
    case StateRole: return stateText(d.state);
    case CpuRole: {
        QVariantList cpu;
        for (const double v : d.cpu)
            cpu.append(v);
        return cpu;
    }
    case RamRole: return d.ram;
    case BatteryRole: return d.battery ? QVariant(*d.battery) : QVariant();
    case PrivacyFrostRole: return d.privacyFrost;
    case LastSeenRole: return d.lastSeen;
    default: return {};
    }
}

QHash<int, QByteArray> DeviceStore::roleNames() const {
    return {{IdRole, "machineId"},
            {NameRole, "name"},
            {KindRole, "kind"},
            {HostRole, "host"},
            {MacRole, "mac"},
            {DeviceIdRole, "deviceId"},
            {StateRole, "state"},
            {CpuRole, "cpu"},
            {RamRole, "ram"},
            {BatteryRole, "battery"},
            {PrivacyFrostRole, "privacyFrost"},
            {LastSeenRole, "lastSeen"}};
}

} // namespace dovrel::controller

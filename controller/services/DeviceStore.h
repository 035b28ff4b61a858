#pragma once

#include <memory>
#include <optional>
#include <vector>

#include <QAbstractListModel>
#include <QStringList>

#include "controller/platform/UserDefaults.h"
#include "controller/services/Device.h"

namespace dovrel::controller {

// The deck's saved machines, in display order, as a list model for the interface. Loaded from the
// settings file ("dovrel.devices", a JSON array of objects whose values are all text) when made, or
// seeded with sample machines in demo mode; saved on request. Main thread only.
class DeviceStore : public QAbstractListModel {
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    static constexpr std::string_view key = "dovrel.devices";
    static constexpr std::size_t cpuHistory = 24;

    enum Role {
        IdRole = Qt::UserRole + 1,
        NameRole,
        KindRole,
        HostRole,
        MacRole,
        DeviceIdRole,
        StateRole,
        CpuRole,
        RamRole,
        BatteryRole,
        PrivacyFrostRole,
        LastSeenRole,
    };

    // Demo mode: "-DovrelDemo" among the launch arguments, else the setting "DovrelDemo" (false when
    // absent). Worked out once by whoever builds the store.
    static bool isDemo(const QStringList& arguments, const UserDefaults& defaults);

    DeviceStore(std::shared_ptr<UserDefaults> defaults, bool demo, QObject* parent = nullptr);

    const std::vector<Device>& devices() const { return devices_; }
    int count() const { return static_cast<int>(devices_.size()); }
    const Device* find(const QUuid& id) const;
    // Replaces the whole list (published; not saved).
    void setDevices(std::vector<Device> devices);
    // Puts the machine at the front, taking out the one with its id if present (not saved).
    void putFirst(Device device);
    // Takes the machine out (not saved); false when there was none with that id.
    bool remove(const QUuid& id);
    void setPrivacyFrost(const QUuid& id, bool on);

    // Writes the list under `key`; false when the settings file cannot be written.
    bool save();
    // Trimmed of white space and line breaks; a blank name, an unknown id or a name another machine
    // already has (ignoring case, which would drop one of the two at the next load) change nothing.
    // Saves on success.
    bool rename(const QUuid& id, const QString& name);
    // One statistics report of the live session, for the first machine with that device identifier or
    // exactly that name: the CPU history grows (keeping the last 24), memory and battery are replaced,
    // the figures are current and the machine is awake "now", its agent running. Not saved. The
    // machine's id, if one matched.
    std::optional<QUuid> applyStats(const QString& name, const std::optional<QString>& deviceId, double cpu, double ram,
                                    std::optional<double> battery);
    // The session that reported the machine's figures ended: they are dropped, so that nothing of it
    // is shown as current.
    void statsEnded(const QUuid& id);
    // What the poll found of a machine: up with DOVRELÆ taking connections, up with nothing there
    // taking them, or no answer.
    enum class Liveness { awake, agentStopped, asleep };
    // What a probe or presence query found for the machine with that id, if it is still there: awake
    // ("now"), awake without DOVRELÆ ("now") or asleep ("asleep"); changed only when that differs.
    void setLiveness(const QUuid& id, Liveness liveness);
    // The agent's identifier learnt by a handshake with that machine; saved when it changed.
    void recordDeviceId(const QUuid& id, const QString& deviceId);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void countChanged();

private:
    void load();
    void seedDemo();
    int rowOf(const QUuid& id) const;
    void changedRow(int row);

    std::shared_ptr<UserDefaults> defaults_;
    std::vector<Device> devices_;
};

} // namespace dovrel::controller

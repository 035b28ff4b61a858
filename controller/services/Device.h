#pragma once

#include <optional>
#include <vector>

#include <QString>
#include <QUuid>

namespace dovrel::controller {

// A saved text that says something: there, and not empty.
inline bool present(const std::optional<QString>& s) { return s && !s->isEmpty(); }
// The text when it says something, else none.
inline std::optional<QString> nonEmpty(const std::optional<QString>& s) { return present(s) ? s : std::nullopt; }

// One saved machine of the deck. Identified by `id` alone: two values with the same id are the same
// machine, whatever else differs.
struct Device {
    enum class Kind { mac, windows, linux };
    enum class State { awake, asleep, offline };

    QUuid id = QUuid::createUuid();
    QString name;
    Kind kind = Kind::mac;
    QString host; // dotted IPv4 or a host name; empty for a machine reached only through the relay
    std::optional<QString> mac;
    std::optional<QString> deviceId; // the agent's relay room
    State state = State::asleep;
    // The computer is awake and answers, but refuses the agent's port: DOVRELÆ is not running there.
    // Only ever with `state` awake, which it qualifies (the computer is on: nothing to wake); learnt by
    // the poll and kept in memory only, like `state`.
    bool agentStopped = false;
    std::vector<double> cpu; // fractions 0…1, oldest first, at most 24
    double ram = 0;
    std::optional<double> battery;
    // cpu, ram and battery come from a session going on now; figures a session left behind are not.
    bool statsCurrent = false;
    bool privacyFrost = false;
    QString lastSeen;
    std::optional<QString> relayAccount;
    std::optional<QString> relayToken; // a secret: never logged
    std::optional<QString> relayHost;

    bool operator==(const Device& other) const { return id == other.id; }
};

// "mac", "windows", "linux" and back, matched exactly.
QString kindText(Device::Kind kind);
std::optional<Device::Kind> kindFromText(const QString& text);
QString stateText(Device::State state);

// The canonical 36-character form with upper-case hex digits, as the list is stored.
QString uuidText(const QUuid& id);
// The canonical 36-character form in either case; nothing for anything else (braces, other lengths).
std::optional<QUuid> uuidFromText(const QString& text);

} // namespace dovrel::controller

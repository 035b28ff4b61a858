#pragma once

#include <QString>
#include <QStringList>

namespace dovrel::agent {

// Opens a desktop settings panel (a program such as nm-connection-editor). Main thread; never waits for
// the program.
class SettingsLauncher {
public:
    virtual ~SettingsLauncher() = default;
    // The program can be found on $PATH.
    virtual bool available(const QString& program) = 0;
    // Starts `program` with `args`, detached; false when it could not be started.
    virtual bool open(const QString& program, const QStringList& args) = 0;
};

// Starts panels as detached processes (they outlive nothing of ours and are never waited for).
class DetachedSettingsLauncher final : public SettingsLauncher {
public:
    bool available(const QString& program) override;
    bool open(const QString& program, const QStringList& args) override;
};

} // namespace dovrel::agent

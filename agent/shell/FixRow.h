#pragma once

#include <QObject>
#include <QString>

#include "agent/shell/DesktopAdvice.h"
#include "agent/shell/SettingsLauncher.h"
#include "agent/shell/TextClipboard.h"

namespace dovrel::agent {

// One row of the window that says whether something works and how to turn it on: "Enable" opens the
// desktop's settings panel where one exists, else shows the command to run with a copy button.
class FixRow : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(bool ok READ ok NOTIFY changed)
    Q_PROPERTY(QString hint READ hint NOTIFY changed)
    Q_PROPERTY(QString command READ command NOTIFY changed)
    // The hint and command are on show (after "Enable" found no panel to open).
    Q_PROPERTY(bool commandShown READ commandShown NOTIFY changed)
    // The desktop has the settings panel this row would open.
    Q_PROPERTY(bool hasPanel READ hasPanel NOTIFY changed)
public:
    FixRow(QString title, SettingsLauncher& launcher, TextClipboard& clipboard, QObject* parent = nullptr);

    QString title() const { return title_; }
    bool ok() const { return ok_; }
    QString hint() const { return fix_.hint; }
    QString command() const { return fix_.command; }
    bool commandShown() const { return commandShown_ && !ok_; }
    bool hasPanel() const { return hasPanel_; }

    void set(bool ok, const Fix& fix);

    // Opens the panel when the desktop has it and it starts; otherwise shows the command.
    Q_INVOKABLE void enable();
    Q_INVOKABLE void copyCommand();

signals:
    void changed();

private:
    QString title_;
    SettingsLauncher& launcher_;
    TextClipboard& clipboard_;
    bool ok_ = false;
    Fix fix_;
    bool commandShown_ = false;
    bool hasPanel_ = false;
};

} // namespace dovrel::agent

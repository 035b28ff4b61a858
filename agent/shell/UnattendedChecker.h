#pragma once

#include <functional>
#include <memory>

#include <QObject>
#include <QString>
#include <QStringList>

#include "agent/shell/LatestResult.h"
#include "agent/shell/SettingsLauncher.h"
#include "agent/shell/TextClipboard.h"
#include "agent/shell/UnattendedChecks.h"

namespace dovrel::agent {

// One condition of the unattended-access section: whether it holds, what it means or what to do, the
// settings panel that changes it (where the desktop has one) and the commands that fix it.
class ReadinessRow : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(bool ok READ ok NOTIFY changed)
    Q_PROPERTY(QString detail READ detail NOTIFY changed)
    Q_PROPERTY(QStringList commands READ commands NOTIFY changed)
    // "Open" shows: the row is not ok and the desktop has its panel.
    Q_PROPERTY(bool canOpen READ canOpen NOTIFY changed)
    // Not ok, but only because the running system cannot tell: the detail is advice, and the row does
    // not count against readiness.
    Q_PROPERTY(bool advice READ advice NOTIFY changed)
public:
    ReadinessRow(QString title, QStringList panel, SettingsLauncher& launcher, TextClipboard& clipboard);
    QString title() const { return title_; }
    bool ok() const { return ok_; }
    QString detail() const { return detail_; }
    QStringList commands() const { return commands_; }
    bool canOpen() const;
    bool advice() const { return advice_; }
    void set(bool ok, const QString& detail, const QStringList& commands, bool advice = false);
    Q_INVOKABLE void open();
    Q_INVOKABLE void copy(int index);

signals:
    void changed();

private:
    QString title_;
    QStringList panel_; // program and arguments; empty: no panel
    SettingsLauncher& launcher_;
    TextClipboard& clipboard_;
    bool ok_ = false;
    QString detail_;
    QStringList commands_;
    bool advice_ = false;
};

// The answers of the unattended-access checks for the window. refresh() runs the checks off the main
// thread; each finished run replaces every answer at once on the main thread, and the answers of a run
// that finishes after a later one are dropped. Main thread.
class UnattendedChecker : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool ready READ ready NOTIFY changed)
    Q_PROPERTY(QString badge READ badge NOTIFY changed)
    Q_PROPERTY(QString lastChecked READ lastChecked NOTIFY changed)
    // What the section's warnings offer: "Open" is named only while a row shows it.
    Q_PROPERTY(QString intro READ intro NOTIFY changed)
    Q_PROPERTY(dovrel::agent::ReadinessRow* supervisedRow READ supervisedRow CONSTANT)
    Q_PROPERTY(dovrel::agent::ReadinessRow* autoLoginRow READ autoLoginRow CONSTANT)
    Q_PROPERTY(dovrel::agent::ReadinessRow* encryptionRow READ encryptionRow CONSTANT)
    Q_PROPERTY(dovrel::agent::ReadinessRow* powerRow READ powerRow CONSTANT)
    Q_PROPERTY(dovrel::agent::ReadinessRow* sleepRow READ sleepRow CONSTANT)
public:
    static constexpr const char* maskCommand =
        "sudo systemctl mask sleep.target suspend.target hibernate.target hybrid-sleep.target";
    static constexpr const char* gnomeCommand =
        "gsettings set org.gnome.settings-daemon.plugins.power sleep-inactive-ac-type 'nothing'";
    static constexpr const char* policyCommand = "sudo ipmitool chassis policy always-on";
    static constexpr const char* statusCommand = "systemctl --user status com.quendal.dovrel.agent.service";

    // `check` runs the checks (slow; called on a worker thread); `user` is who runs the agent.
    UnattendedChecker(std::function<Readiness()> check, QString user, SettingsLauncher& launcher,
                      TextClipboard& clipboard, QObject* parent = nullptr);
    ~UnattendedChecker() override;

    const Readiness& answers() const { return answers_; }
    bool ready() const { return answers_.ready(); }
    QString badge() const;
    QString lastChecked() const { return lastChecked_; }
    QString intro() const;
    ReadinessRow* supervisedRow() const { return rows_[0].get(); }
    ReadinessRow* autoLoginRow() const { return rows_[1].get(); }
    ReadinessRow* encryptionRow() const { return rows_[2].get(); }
    ReadinessRow* powerRow() const { return rows_[3].get(); }
    ReadinessRow* sleepRow() const { return rows_[4].get(); }

    Q_INVOKABLE void refresh();
    // Blocks until running checks have finished; their answers then wait in the main thread's queue.
    void waitForChecks() { runs_.waitForProbes(); }

signals:
    void changed();

private:
    void publish(const Readiness& answers);

    std::function<Readiness()> check_;
    QString user_;
    Readiness answers_;
    QString lastChecked_;
    std::unique_ptr<ReadinessRow> rows_[5];
    LatestResult<Readiness> runs_;
};

} // namespace dovrel::agent

#include "agent/shell/UnattendedChecker.h"

#include <QTime>

namespace dovrel::agent {

ReadinessRow::ReadinessRow(QString title, QStringList panel, SettingsLauncher& launcher, TextClipboard& clipboard)
    : title_(std::move(title)), panel_(std::move(panel)), launcher_(launcher), clipboard_(clipboard) {}

bool ReadinessRow::canOpen() const { return !ok_ && !panel_.isEmpty() && launcher_.available(panel_.first()); }

void ReadinessRow::set(bool ok, const QString& detail, const QStringList& commands, bool advice) {
    advice = advice && !ok;
    if (ok == ok_ && detail == detail_ && commands == commands_ && advice == advice_) return;
    ok_ = ok;
    detail_ = detail;
    commands_ = commands;
    advice_ = advice;
    emit changed();
}

void ReadinessRow::open() {
    if (canOpen()) launcher_.open(panel_.first(), panel_.mid(1));
}

void ReadinessRow::copy(int index) {
    if (index >= 0 && index < commands_.size()) clipboard_.setText(commands_[index]);
}

UnattendedChecker::UnattendedChecker(std::function<Readiness()> check, QString user, SettingsLauncher& launcher,
                                     TextClipboard& clipboard, QObject* parent)
    : QObject(parent), check_(std::move(check)), user_(std::move(user)) {
    const QStringList noPanel;
    rows_[0] = std::make_unique<ReadinessRow>(tr("Restarts if it stops"), noPanel, launcher, clipboard);
    rows_[1] = std::make_unique<ReadinessRow>(tr("Automatic login"), QStringList{"gnome-control-center", "users"},
                                              launcher, clipboard);
    rows_[2] = std::make_unique<ReadinessRow>(tr("Disk encryption"), noPanel, launcher, clipboard);
    rows_[3] = std::make_unique<ReadinessRow>(tr("Restart after power failure"), noPanel, launcher, clipboard);
    rows_[4] = std::make_unique<ReadinessRow>(tr("Never sleep"), QStringList{"gnome-control-center", "power"}, launcher,
                                              clipboard);
    publish(answers_);
}

UnattendedChecker::~UnattendedChecker() = default;

QString UnattendedChecker::badge() const {
    return answers_.ready() ? tr("Ready") : QStringLiteral("%1/4").arg(answers_.doneCount());
}

QString UnattendedChecker::intro() const {
    for (const auto& row : rows_)
        if (row->canOpen())
            return tr("So the computer stays reachable with nobody in the room. Each warning says how to fix it: a "
                      "terminal command to copy (sudo asks for your password), Open for its settings, or what to do.");
    return tr("So the computer stays reachable with nobody in the room. Each warning says how to fix it: a terminal "
              "command to copy (sudo asks for your password) or what to do.");
}

void UnattendedChecker::refresh() {
    runs_.run(check_, [this](const Readiness& answers) {
        lastChecked_ = QTime::currentTime().toString(QStringLiteral("HH:mm"));
        publish(answers);
    });
}

void UnattendedChecker::publish(const Readiness& a) {
    answers_ = a;
    const QString sentence = QString::fromStdString(a.supervisorSentence);
    QString supervision = tr("systemd restarts the agent automatically if it crashes or is killed. Choosing Quit "
                             "stops it until your next login, which is deliberate.");
    QStringList supervisionCommands;
    if (!a.supervised && a.noUserManager) {
        supervision = sentence + tr(". Log in to a desktop session that runs systemd's user manager, or add "
                                    "DOVRELÆ to your desktop's autostart.");
    } else if (!a.supervised) {
        supervision = sentence + tr(". Start DOVRELÆ once from the application menu and it will set this up itself; "
                                    "if it stays off, the command below says why.");
        supervisionCommands = {QString::fromLatin1(statusCommand)};
    }
    supervisedRow()->set(a.supervised, supervision, supervisionCommands);

    const QString who = QString::fromStdString(a.autoLoginUser);
    // An encrypted disk and automatic login go together: the passphrase comes first at boot, which the
    // encryption row already names as its cost.
    QString login = tr("Turn on your display manager's automatic login (on GNOME: Settings ▸ Users ▸ Automatic "
                       "Login). With the disk encrypted, a restart still waits for its passphrase first.");
    if (a.autoLogin)
        login = tr("%1 is logged in at start-up.").arg(who);
    else if (!who.isEmpty())
        login = tr("The display manager logs in %1, not %2: set it to log in %2, or run the agent in %1's "
                   "session, to be reached after a restart.")
                    .arg(who, user_);
    autoLoginRow()->set(a.autoLogin, login, {});

    // Five rows, and a badge that counts four: this row says it is the one left out.
    encryptionRow()->set(!a.diskEncryptionOff,
                         (a.diskEncryptionOff
                              ? tr("The disk is not encrypted: whoever takes the machine can read it. Encrypting it "
                                   "means reinstalling with encryption chosen, or converting the disk with "
                                   "cryptsetup's re-encryption after a backup.")
                              : tr("Keep it on. It is what protects this computer's disk if the machine is stolen, "
                                   "and a machine you can reach from anywhere is worth protecting. The cost is that "
                                   "an unplanned reboot waits at the passphrase prompt until somebody types it.")) +
                             QStringLiteral(" ") + tr("Not one of the four the badge counts."),
                         {});

    QString power;
    QStringList powerCommands;
    switch (a.powerRestore) {
    case Readiness::PowerRestore::battery:
        power = tr("Laptops bridge brief cuts on battery (so this shows ✓ here). Keep it plugged in.");
        break;
    case Readiness::PowerRestore::restores:
        power = tr("The board's power-restore policy is %1: it starts again when power returns.")
                    .arg(QString::fromStdString(a.powerPolicy));
        break;
    case Readiness::PowerRestore::staysOff:
        power = tr("The board's power-restore policy is %1: it stays off after a cut.")
                    .arg(QString::fromStdString(a.powerPolicy));
        powerCommands = {QString::fromLatin1(policyCommand)};
        break;
    case Readiness::PowerRestore::notChecked:
    case Readiness::PowerRestore::unknown:
        power = tr("The firmware setting cannot be read from the running system. Set \"Restore on AC power loss\" "
                   "to \"Power On\" in the BIOS/UEFI setup.");
        break;
    }
    powerRow()->set(a.restartAfterPower, power, powerCommands, a.powerAdviceOnly());

    sleepRow()->set(a.noSleep, tr("Stays awake and reachable. (The agent also holds off sleep while it runs.)"),
                    a.noSleep ? QStringList{}
                              : QStringList{QString::fromLatin1(maskCommand), QString::fromLatin1(gnomeCommand)});
    emit changed();
}

} // namespace dovrel::agent

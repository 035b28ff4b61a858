#include "agent/desktop/ScreenLocker.h"

#include <cstdlib>
#include <unistd.h>

#include <QDBusArgument>
#include <QProcess>
#include <QStandardPaths>

#include "agent/common/AgentLog.h"
#include "agent/desktop/DesktopBus.h"

namespace dovrel::agent {

namespace {

const QString login1 = QStringLiteral("org.freedesktop.login1");
const QString login1Path = QStringLiteral("/org/freedesktop/login1");
const QString login1Manager = QStringLiteral("org.freedesktop.login1.Manager");
const QString login1Session = QStringLiteral("org.freedesktop.login1.Session");

struct Saver {
    const char* service;
    const char* path;
    const char* interface;
};
constexpr Saver savers[] = {
    {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver"},
    {"org.freedesktop.ScreenSaver", "/ScreenSaver", "org.freedesktop.ScreenSaver"},
    {"org.gnome.ScreenSaver", "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver"},
};

std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i)
        out += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return out;
}

// "3 s", "0.4 s".
std::string secondsText(Duration d) {
    const auto tenths = std::chrono::duration_cast<std::chrono::milliseconds>(d).count() / 100;
    return std::to_string(tenths / 10) + (tenths % 10 ? "." + std::to_string(tenths % 10) : "") + " s";
}

} // namespace

ScreenLocker::ScreenLocker(Options options)
    : options_(std::move(options)), clock_(options_.clock ? *options_.clock : realScheduler()) {}

ScreenLocker::~ScreenLocker() = default;

std::vector<QStringList> ScreenLocker::desktopLockCommands() {
    return {
        {"xdg-screensaver", "lock"},
        {"gnome-screensaver-command", "--lock"},
        {"cinnamon-screensaver-command", "--lock"},
        {"mate-screensaver-command", "--lock"},
        {"xscreensaver-command", "-lock"},
        {"light-locker-command", "--lock"},
        {"dm-tool", "lock"},
        {"xflock4"},
    };
}

QString ScreenLocker::connectionName(const char* what) {
    return QStringLiteral("dovrel.desktop.lock.%1.%2").arg(what).arg(++connections_);
}

void ScreenLocker::lock(Done done) {
    waiting_.push_back(std::move(done));
    if (waiting_.size() > 1) return;
    system_ =
        std::make_unique<DesktopBus>(QDBusConnection::SystemBus, options_.systemBusAddress, connectionName("system"));
    session_ = std::make_unique<DesktopBus>(QDBusConnection::SessionBus, options_.sessionBusAddress,
                                            connectionName("session"));
    sessionPath_ = findSession();
    ways_ = ways();
    next_ = 0;
    asked_.clear();
    if (locked()) return finish(true);
    askNext();
}

std::vector<ScreenLocker::Way> ScreenLocker::ways() {
    std::vector<Way> list{{"logind", [this] { return askLogind(); }},
                          {"the screensaver service", [this] { return askScreensaver(); }}};
    for (const QStringList& command : options_.commands) {
        if (command.isEmpty() || QStandardPaths::findExecutable(command.first()).isEmpty()) continue;
        list.push_back({command.join(' ').toStdString(), [this, command] { return runCommand(command); }});
    }
    return list;
}

QString ScreenLocker::findSession() {
    if (!system_->connected()) return {};
    const int timeout = options_.dbusTimeoutMs;
    QString session =
        DesktopBus::objectPath(system_->call(login1, login1Path, login1Manager, "GetSessionByPID",
                                             {QVariant::fromValue(static_cast<uint>(::getpid()))}, timeout));
    if (session.isEmpty()) {
        if (const char* id = std::getenv("XDG_SESSION_ID"); id && *id)
            session = DesktopBus::objectPath(
                system_->call(login1, login1Path, login1Manager, "GetSession", {QString(id)}, timeout));
    }
    if (!session.isEmpty()) return session;
    // A supervised agent runs outside any session: the user's graphical one is the one to lock.
    const QString user = DesktopBus::objectPath(system_->call(
        login1, login1Path, login1Manager, "GetUser", {QVariant::fromValue(static_cast<uint>(::getuid()))}, timeout));
    if (user.isEmpty()) return {};
    const QVariant display = system_->property(login1, user, "org.freedesktop.login1.User", "Display", timeout);
    if (display.userType() != qMetaTypeId<QDBusArgument>()) return {};
    const QDBusArgument arg = qvariant_cast<QDBusArgument>(display);
    QString id;
    QDBusObjectPath path;
    arg.beginStructure();
    arg >> id >> path;
    arg.endStructure();
    return id.isEmpty() ? QString() : path.path();
}

bool ScreenLocker::askLogind() {
    if (sessionPath_.isEmpty()) return false;
    return DesktopBus::answered(system_->call(login1, sessionPath_, login1Session, "Lock", {}, options_.dbusTimeoutMs));
}

bool ScreenLocker::askScreensaver() {
    if (!session_->connected()) return false;
    for (const Saver& s : savers)
        if (DesktopBus::answered(session_->call(s.service, s.path, s.interface, "Lock", {}, options_.dbusTimeoutMs)))
            return true;
    return false;
}

bool ScreenLocker::runCommand(const QStringList& command) {
    QProcess process;
    process.setProgram(command.first());
    process.setArguments(command.mid(1));
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(static_cast<int>(options_.commandTimeout.count()))) return false;
    if (!process.waitForFinished(static_cast<int>(options_.commandTimeout.count()))) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool ScreenLocker::locked() {
    const int timeout = options_.dbusTimeoutMs;
    if (!sessionPath_.isEmpty() && system_->connected() &&
        system_->property(login1, sessionPath_, login1Session, "LockedHint", timeout).toBool())
        return true;
    if (!session_->connected()) return false;
    for (const Saver& s : savers) {
        const QDBusMessage reply = session_->call(s.service, s.path, s.interface, "GetActive", {}, timeout);
        if (DesktopBus::answered(reply) && !reply.arguments().isEmpty() && reply.arguments().first().toBool())
            return true;
    }
    return false;
}

void ScreenLocker::askNext() {
    while (next_ < ways_.size()) {
        const Way& way = ways_[next_++];
        if (!way.ask()) continue;
        asked_.push_back(way.name);
        if (locked()) return finish(true);
        deadline_ = clock_.now() + options_.confirmWithin;
        poll_ = clock_.every(options_.pollEvery, options_.pollEvery, [this] { poll(); });
        return;
    }
    finish(false);
}

void ScreenLocker::poll() {
    if (locked()) {
        poll_.reset();
        return finish(true);
    }
    if (clock_.now() < deadline_) return;
    poll_.reset();
    askNext();
}

void ScreenLocker::finish(bool isLocked) {
    Outcome outcome{isLocked, {}};
    if (isLocked && asked_.size() > 1)
        print("• the session locked through " + asked_.back() + " — " + joined({asked_.begin(), asked_.end() - 1}) +
              " had locked nothing");
    if (!isLocked)
        outcome.why = asked_.empty() ? "neither logind nor a screensaver service would lock it"
                                     : "asked " + joined(asked_) + ", but nothing locked within " +
                                           secondsText(options_.confirmWithin) + " — no screen locker seems to run";
    system_.reset();
    session_.reset();
    ways_.clear();
    std::vector<Done> waiting = std::move(waiting_);
    waiting_.clear();
    for (const Done& done : waiting)
        done(outcome);
}

} // namespace dovrel::agent

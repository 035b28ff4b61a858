#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>

#include "runtime/Scheduler.h"

namespace dovrel::agent {

class DesktopBus;

// Locks the user's session and makes sure it really locked. logind's Session.Lock only asks a screen
// locker, and with none running the session stays open although logind said yes. So after each way of
// asking, the session must show as locked (logind's LockedHint, or a screensaver that says it is
// active) within `confirmWithin`; otherwise the next way is tried: the screensaver services, then the
// desktop's own locker commands that are installed. Lives on the desktop's thread, which runs an event
// loop; every call and callback happens there.
class ScreenLocker {
public:
    struct Options {
        // Empty: the standard system and session buses.
        QString systemBusAddress;
        QString sessionBusAddress;
        int dbusTimeoutMs = 3000;
        // Locker commands, program and arguments, tried in order where the program is installed.
        std::vector<QStringList> commands = desktopLockCommands();
        std::chrono::milliseconds commandTimeout{5000};
        Duration confirmWithin = std::chrono::seconds(3);
        Duration pollEvery = std::chrono::milliseconds(200);
        Scheduler* clock = nullptr; // null: real timers on the calling thread
    };

    struct Outcome {
        bool locked = false;
        std::string why; // when not locked: what was tried, for the log
    };
    using Done = std::function<void(const Outcome&)>;

    explicit ScreenLocker(Options options);
    ~ScreenLocker();
    ScreenLocker(const ScreenLocker&) = delete;
    ScreenLocker& operator=(const ScreenLocker&) = delete;

    // Locks, confirms, falls back, and then calls `done` once. A request while one is under way gets
    // that one's outcome.
    void lock(Done done);

    // The lockers of the common desktops, as their own commands.
    static std::vector<QStringList> desktopLockCommands();

private:
    struct Way {
        std::string name;
        std::function<bool()> ask; // true: the request was taken
    };

    std::vector<Way> ways();
    QString findSession();
    bool askLogind();
    bool askScreensaver();
    bool runCommand(const QStringList& command);
    bool locked();
    void askNext();
    void poll();
    void finish(bool locked);
    QString connectionName(const char* what);

    Options options_;
    Scheduler& clock_;
    int connections_ = 0;
    // The attempt under way.
    std::vector<Done> waiting_;
    std::unique_ptr<DesktopBus> system_;
    std::unique_ptr<DesktopBus> session_;
    QString sessionPath_; // the logind session being locked; empty when logind knows none
    std::vector<Way> ways_;
    std::size_t next_ = 0;
    std::vector<std::string> asked_;
    Instant deadline_{};
    std::unique_ptr<Timer> poll_;
};

} // namespace dovrel::agent

#pragma once

#include <functional>
#include <memory>

#include <QObject>

class QSocketNotifier;

namespace dovrel {

// Catches SIGTERM, SIGINT and SIGHUP from the first line of main() on, before anything that can take a
// while (the Qt application reaching its display, a window loading, a graph starting): one that arrives
// meanwhile waits for the StopSignal made once the program can stop in order, instead of ending it where
// it stands (status 143, nothing closed). One per process, on the main thread.
class StopSignalHold final {
public:
    StopSignalHold();
    ~StopSignalHold(); // the default actions again
    StopSignalHold(const StopSignalHold&) = delete;
    StopSignalHold& operator=(const StopSignalHold&) = delete;
};

// SIGTERM (a supervisor stopping or restarting the program, the end of a login session), SIGINT and
// SIGHUP become a call on the main thread, so that the program can end the orderly way (its session
// closed, half-received files removed, status 0) instead of dying where it stands; one caught earlier
// by a StopSignalHold is called at the event loop's first turn. One per process; make it on the main
// thread once the Qt application exists.
class StopSignal final : public QObject {
public:
    // `onStop` gets the signal's name ("SIGTERM") the first time one arrives.
    explicit StopSignal(std::function<void(const char* signalName)> onStop);
    ~StopSignal() override;
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

private:
    void readPipe();

    std::function<void(const char*)> onStop_;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool stopping_ = false;
};

} // namespace dovrel

#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include <QObject>

class QSocketNotifier;

namespace dovrel {

// Catches SIGTERM, SIGINT and SIGHUP from the first line of main() on, before anything that can take a
// while (the Qt application reaching its display, a window loading, a graph starting): one that arrives
// meanwhile waits for the StopSignal made once the program can stop in order, instead of ending it where
// it stands (status 143, nothing closed). A start-up that hangs (a session bus or a display that does not
// answer) cannot stop in order at all: a second signal before the event loop turns, or a held one once
// start-up has gone on for `patience`, ends the program at once from the hold's own thread, after
// `onCutShort`, with status 0 as any stop, without running destructors. One per process, on the main
// thread.
class StopSignalHold final {
public:
    // More than a start-up takes when nothing hangs.
    static constexpr std::chrono::milliseconds defaultPatience{3000};

    explicit StopSignalHold(std::chrono::milliseconds patience = defaultPatience);
    ~StopSignalHold(); // the default actions again
    StopSignalHold(const StopSignalHold&) = delete;
    StopSignalHold& operator=(const StopSignalHold&) = delete;

    // What a start-up cut short must still do: say so, and remove the files a normal stop removes. It
    // runs on the hold's thread while the main thread is held up wherever it is, perhaps holding the log's
    // lock or stdio's or the allocator's: it touches only what another thread may, takes no lock and
    // writes with UnlockedLine. `what` says why ("a second SIGINT while starting up"). Main thread;
    // replaces an earlier one.
    void onCutShort(std::function<void(std::string_view what)> cleanUp);

private:
    void watch();
    [[noreturn]] void cutShort(std::string_view what);

    const std::chrono::steady_clock::time_point began_;
    const std::chrono::milliseconds patience_;
    std::mutex lock_;
    std::function<void(std::string_view)> cleanUp_;
    std::thread watcher_;
};

// SIGTERM (a supervisor stopping or restarting the program, the end of a login session), SIGINT and
// SIGHUP become a call on the main thread, so that the program can end the orderly way (its session
// closed, half-received files removed, status 0) instead of dying where it stands; one caught earlier
// by a StopSignalHold is called at the event loop's first turn, where start-up ends. One per process;
// make it on the main thread once the Qt application exists.
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

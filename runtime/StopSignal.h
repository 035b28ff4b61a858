#pragma once

#include <functional>
#include <memory>

#include <QObject>

class QSocketNotifier;

namespace dovrel {

// SIGTERM (a supervisor stopping or restarting the program, the end of a login session), SIGINT and
// SIGHUP become a call on the main thread, so that the program can end the orderly way (its session
// closed, half-received files removed, status 0) instead of dying where it stands. One per process;
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

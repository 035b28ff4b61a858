#include "runtime/session/DisplayLoss.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <pthread.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

#include <QCoreApplication>

#include "runtime/StopDeadline.h"

namespace dovrel::displayloss {

namespace {

// Written on the main thread while `stage` says no thread is ending the process; called by the thread
// that moved `stage` on.
std::function<void(const std::string&)> stopNowFn;
pthread_t mainThread{};

enum Stage : int { running, endingOnMain, endingElsewhere, disarmed };
std::atomic<int> stage{disarmed};
std::atomic<bool> isArmed{false};
std::atomic<bool> mainThreadTold{false};

// Time enough for a main thread that is not itself waiting for the thread that found the end.
constexpr auto mainThreadWait = std::chrono::seconds(2);

// What _exit does, without going through it: this program may stand in for _exit (Wayland).
[[noreturn]] void endProcess(int status) {
    ::syscall(SYS_exit_group, status);
    __builtin_unreachable();
}

[[noreturn]] void waitForTheEnd() {
    for (;;)
        ::pause();
}

[[noreturn]] void stopAndEnd(const char* what) {
    ::alarm(stopWithinSeconds);
    stopNowFn(what);
    std::fflush(nullptr);
    endProcess(0);
}

void endOnMainThread(const char* what) {
    int was = running;
    if (stage.compare_exchange_strong(was, endingOnMain)) stopAndEnd(what);
    // Something in the stop itself ended the process again: the stop is over.
    if (was == endingOnMain) endProcess(0);
    if (was == endingElsewhere) waitForTheEnd();
    // Taken back before a call posted by another thread came.
}

} // namespace

void arm(std::function<void(const std::string&)> stopNow) {
    stopNowFn = std::move(stopNow);
    mainThread = ::pthread_self();
    mainThreadTold.store(false);
    stage.store(running);
    isArmed.store(true);
}

void disarm() {
    isArmed.store(false);
    int was = running;
    // Another thread is ending the process this very moment.
    if (!stage.compare_exchange_strong(was, disarmed) && was == endingElsewhere) waitForTheEnd();
    stopNowFn = nullptr;
}

bool armed() { return isArmed.load(); }

void lost(const char* what) {
    if (!isArmed.load()) return;
    if (::pthread_equal(::pthread_self(), mainThread)) {
        endOnMainThread(what);
        return;
    }
    if (!mainThreadTold.exchange(true))
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [what] { endOnMainThread(what); }, Qt::QueuedConnection);
    const auto until = std::chrono::steady_clock::now() + mainThreadWait;
    while (stage.load() == running && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // The main thread did not come: it waits for this thread (a window's frame), or cannot run.
    int was = running;
    if (stage.compare_exchange_strong(was, endingElsewhere)) stopAndEnd(what);
    // Taken back meanwhile: the program was on its way out already.
    if (was == disarmed) endProcess(0);
    waitForTheEnd();
}

} // namespace dovrel::displayloss

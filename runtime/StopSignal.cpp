#include "runtime/StopSignal.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <QSocketNotifier>

#include "runtime/SignalStack.h"
#include "runtime/StopDeadline.h"
#include "runtime/UnlockedLine.h"

namespace dovrel {

namespace {

// The handler may only write: the signal's number goes through a pipe to the main thread, and through
// another to the hold's thread while start-up lasts (a 0 there: start-up is over). Both live as long as
// the process, so that a handler never writes to a descriptor closed under it.
int pipeFds[2] = {-1, -1};
int watchFds[2] = {-1, -1};
std::atomic<bool> loopTurned{false};
constexpr int stopSignals[] = {SIGTERM, SIGINT, SIGHUP};

void writeByte(int fd, unsigned char byte) {
    if (fd < 0) return;
    [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
}

void onSignal(int sig) {
    const int saved = errno;
    writeByte(pipeFds[1], static_cast<unsigned char>(sig));
    writeByte(watchFds[1], static_cast<unsigned char>(sig));
    errno = saved;
}

const char* nameOf(int sig) {
    switch (sig) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGHUP: return "SIGHUP";
    default: return "a stop signal";
    }
}

// The pipe, then the handlers that write to it; false without a pipe (the signals keep their defaults).
bool catchStopSignals() {
    if (pipeFds[0] < 0 && ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (const int sig : stopSignals)
        ::sigaction(sig, &sa, nullptr);
    return true;
}

void releaseStopSignals() {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (const int sig : stopSignals)
        ::sigaction(sig, &dfl, nullptr);
}

} // namespace

StopSignalHold::StopSignalHold(std::chrono::milliseconds patience)
    : began_(std::chrono::steady_clock::now()), patience_(patience) {
    if (watchFds[0] < 0 && ::pipe2(watchFds, O_CLOEXEC | O_NONBLOCK) != 0) watchFds[0] = watchFds[1] = -1;
    catchStopSignals();
    if (watchFds[0] >= 0) watcher_ = std::thread([this] { watch(); });
}

StopSignalHold::~StopSignalHold() {
    releaseStopSignals();
    writeByte(watchFds[1], 0);
    if (watcher_.joinable()) watcher_.join();
}

void StopSignalHold::onCutShort(std::function<void(std::string_view)> cleanUp) {
    const std::lock_guard g(lock_);
    cleanUp_ = std::move(cleanUp);
}

void StopSignalHold::watch() {
    armSignalStack();
    ::pthread_setname_np(::pthread_self(), "dovrel.stopwait");
    int held = 0;
    const char* name = nullptr;
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(began_ + patience_ - std::chrono::steady_clock::now());
        const int timeout = held == 0 ? -1 : static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT_MAX));
        pollfd p{watchFds[0], POLLIN, 0};
        if (::poll(&p, 1, timeout) < 0 && errno != EINTR) return;
        unsigned char byte = 0;
        while (::read(watchFds[0], &byte, 1) == 1) {
            if (byte == 0) return;
            ++held;
            name = nameOf(byte);
        }
        if (loopTurned.load()) return; // the loop has the signal: the orderly stop
        // Said without allocating: the held main thread may be inside the allocator.
        UnlockedLine what;
        if (held >= 2) cutShort((what << "a second " << name << " while starting up").text());
        if (held == 1 && std::chrono::steady_clock::now() >= began_ + patience_)
            cutShort((what << name << " while starting up, which has not finished after "
                           << static_cast<long long>(std::chrono::ceil<std::chrono::seconds>(patience_).count())
                           << " s")
                         .text());
    }
}

void StopSignalHold::cutShort(std::string_view what) {
    ::alarm(stopWithinSeconds);
    // Called where it stands, not copied: a copy may allocate. Only onCutShort takes the lock, briefly.
    const std::lock_guard g(lock_);
    if (cleanUp_) cleanUp_(what);
    ::_exit(0);
}

StopSignal::StopSignal(std::function<void(const char*)> onStop) : onStop_(std::move(onStop)) {
    if (!catchStopSignals()) return;
    // Level-triggered: a signal held back before this was made is read at the loop's first turn.
    notifier_ = std::make_unique<QSocketNotifier>(pipeFds[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { readPipe(); });
    // The loop's first turn ends start-up: from then on every signal is the loop's.
    QMetaObject::invokeMethod(
        this,
        [] {
            loopTurned.store(true);
            writeByte(watchFds[1], 0);
        },
        Qt::QueuedConnection);
}

StopSignal::~StopSignal() { releaseStopSignals(); }

void StopSignal::readPipe() {
    unsigned char byte = 0;
    int last = 0;
    while (::read(pipeFds[0], &byte, 1) == 1)
        last = byte;
    if (last == 0 || stopping_) return;
    stopping_ = true;
    ::alarm(stopWithinSeconds);
    onStop_(nameOf(last));
}

} // namespace dovrel

#include "runtime/StopSignal.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

#include "runtime/StopDeadline.h"

namespace dovrel {

namespace {

// The handler may only write: the signal's number goes through a pipe to the main thread.
int pipeFds[2] = {-1, -1};
constexpr int stopSignals[] = {SIGTERM, SIGINT, SIGHUP};

void onSignal(int sig) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &byte, 1);
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

StopSignalHold::StopSignalHold() { catchStopSignals(); }

StopSignalHold::~StopSignalHold() { releaseStopSignals(); }

StopSignal::StopSignal(std::function<void(const char*)> onStop) : onStop_(std::move(onStop)) {
    if (!catchStopSignals()) return;
    // Level-triggered: a signal held back before this was made is read at the loop's first turn.
    notifier_ = std::make_unique<QSocketNotifier>(pipeFds[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { readPipe(); });
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

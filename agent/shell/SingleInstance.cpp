#include "agent/shell/SingleInstance.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "agent/shell/ShowWindowChannel.h"

namespace dovrel::agent {

LaunchArbiter::LaunchArbiter(Supervisor& supervisor, Options options)
    : supervisor_(supervisor), options_(std::move(options)) {}

bool LaunchArbiter::takeLock() {
    if (lock_) return true;
    ::mkdir(options_.stateDirectory.c_str(), 0700); // already there: fine
    // Close-on-exec: a tool we start must not inherit the lock and keep it after we end.
    UniqueFd fd(::open(lockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) return true; // no protection possible: run anyway
    int rc;
    while ((rc = ::flock(fd.get(), LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc != 0) return false;
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd.get(), 0) == 0) {
        std::size_t done = 0;
        while (done < pid.size()) {
            const ssize_t n = ::pwrite(fd.get(), pid.data() + done, pid.size() - done, static_cast<off_t>(done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
    }
    lock_ = std::move(fd);
    return true;
}

void LaunchArbiter::releaseLock() {
    if (!lock_) return;
    ::flock(lock_.get(), LOCK_UN);
    lock_.reset();
}

void LaunchArbiter::listen() {
    if (!listener_) listener_ = listenForShowWindow(options_.showWindowSocket);
    ownsSocket_.store(listener_.valid());
}

void LaunchArbiter::stopListening() {
    ownsSocket_.store(false);
    if (!listener_) return;
    listener_.reset();
    ::unlink(options_.showWindowSocket.c_str());
}

LaunchArbiter::Decision LaunchArbiter::arbitrate() {
    // Both are asked, in this order, so that a supervised process takes the lock too when it is free.
    const bool supervised = supervisor_.isSupervisedProcess();
    const bool locked = takeLock();
    if (supervised) {
        listen();
        return Decision::run;
    }

    if (!locked) {
        requestShowWindow(options_.showWindowSocket, options_.showWindowPatience);
        logLine(options_.log, "• another Dovrel Agent is already running for this user — bringing its window forward");
        return Decision::alreadyRunning;
    }

    listen();
    const Supervisor::State state = supervisor_.ensureRegistered();
    if (state.kind != Supervisor::Kind::active) {
        logLine(options_.log, "• running without a supervisor — " + state.sentence());
        return Decision::run;
    }

    // Hand the agent to systemd: let go of the lock so that its process can take it, start the unit and
    // wait for a process that is not this one.
    releaseLock();
    stopListening();
    supervisor_.kickstart();
    const auto self = static_cast<int32_t>(::getpid());
    for (int attempt = 0; attempt < options_.handOffPolls; ++attempt) {
        const auto pid = supervisor_.managerPid();
        if (pid && *pid != self) {
            logLine(options_.log, "• supervisor has the agent (pid " + std::to_string(*pid) + ") — this copy is done");
            return Decision::supervisorHasIt;
        }
        std::this_thread::sleep_for(options_.handOffInterval);
    }
    logLine(options_.log, "• supervisor registered but systemd produced no process in 5s — running in this one");
    takeLock();
    listen();
    return Decision::run;
}

} // namespace dovrel::agent

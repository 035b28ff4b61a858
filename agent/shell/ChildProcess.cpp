#include "agent/shell/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "agent/common/UniqueFd.h"

extern char** environ;

namespace dovrel::agent {

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1000));
}

// Reads what is there; false at end of file or on an error (the stream is then done).
bool drain(int fd, std::string& into, std::size_t limit) {
    char buf[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            const std::size_t room = limit > into.size() ? limit - into.size() : 0;
            into.append(buf, std::min(room, static_cast<std::size_t>(n)));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        return false;
    }
}

void decodeStatus(int status, ChildResult& r) { r.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

} // namespace

std::string findOnPath(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0 ? name : std::string();
    const char* path = std::getenv("PATH");
    const std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t at = 0;
    while (at <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', at), dirs.size());
        const std::string dir = end > at ? dirs.substr(at, end - at) : std::string(".");
        const std::string candidate = dir + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        at = end + 1;
    }
    return {};
}

ChildResult runChildProcess(const std::string& program, const std::vector<std::string>& args,
                            const ChildOptions& options) {
    ChildResult r;
    const std::string path = findOnPath(program);
    if (path.empty()) return r;

    // Close-on-exec everywhere, so that a tool started by another thread at the same moment does not
    // inherit our ends and keep the pipes open.
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC | O_NONBLOCK) != 0) return r;
    UniqueFd outRead(outPipe[0]), outWrite(outPipe[1]);
    if (::pipe2(errPipe, O_CLOEXEC | O_NONBLOCK) != 0) return r;
    UniqueFd errRead(errPipe[0]), errWrite(errPipe[1]);
    // The child's ends block like ordinary output; only ours are non-blocking.
    ::fcntl(outWrite.get(), F_SETFL, 0);
    ::fcntl(errWrite.get(), F_SETFL, 0);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outWrite.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errWrite.get(), STDERR_FILENO);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> argStrings;
    argStrings.reserve(args.size() + 1);
    argStrings.push_back(program);
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStrings)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, path.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    outWrite.reset();
    errWrite.reset();
    if (rc != 0) return r;
    r.started = true;

    // Read both streams as they come and look for the exit between reads. A grandchild that keeps a
    // pipe open does not hold us up once the tool itself has ended.
    const auto deadline = Clock::now() + options.timeout;
    bool outOpen = true, errOpen = true;
    for (;;) {
        pollfd fds[2] = {{outOpen ? outRead.get() : -1, POLLIN, 0}, {errOpen ? errRead.get() : -1, POLLIN, 0}};
        const int n = ::poll(fds, 2, std::min(millisecondsLeft(deadline), outOpen || errOpen ? 20 : 2));
        if (n > 0) {
            if (outOpen && fds[0].revents) outOpen = drain(outRead.get(), r.out, options.outputLimit);
            if (errOpen && fds[1].revents) errOpen = drain(errRead.get(), r.err, options.outputLimit);
        }
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            if (outOpen) drain(outRead.get(), r.out, options.outputLimit);
            if (errOpen) drain(errRead.get(), r.err, options.outputLimit);
            decodeStatus(status, r);
            return r;
        }
        if (done < 0 && errno == ECHILD) return r; // reaped elsewhere: the status is unknown, so no success
        if (Clock::now() >= deadline) break;
    }
    r.timedOut = true;
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return r;
}

} // namespace dovrel::agent

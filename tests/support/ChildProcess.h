#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace dovrel::test {

// Where a program is on $PATH, or empty.
inline std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t at = 0;
    while (at <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', at), dirs.size());
        const std::string candidate = dirs.substr(at, end - at) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        at = end + 1;
    }
    return {};
}

// Nobody holds the lock file at `path`, or there is none: a program that held its single-instance
// lock there is gone.
inline bool lockFree(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    const bool free = fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fd >= 0) ::close(fd);
    return free;
}

// A program the test started, ended (SIGTERM, then SIGKILL after 3 s) and reaped when the object goes.
// Its output goes to /dev/null unless a log file is named. `keepFds` stay open in the child.
class ChildProcess {
public:
    struct Options {
        std::map<std::string, std::string> env; // set or replaced in the child's environment
        std::string logFile;                    // empty: /dev/null
        std::vector<int> keepFds;
    };

    ChildProcess() = default;
    ChildProcess(const std::vector<std::string>& argv, const Options& options) { start(argv, options); }
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool start(const std::vector<std::string>& argv, const Options& options) {
        std::vector<std::string> envStrings;
        for (char** e = environ; *e; ++e) {
            const std::string kv = *e;
            if (!options.env.count(kv.substr(0, kv.find('=')))) envStrings.push_back(kv);
        }
        for (const auto& [k, v] : options.env)
            envStrings.push_back(k + "=" + v);
        std::vector<char*> envp, args;
        for (auto& s : envStrings)
            envp.push_back(s.data());
        envp.push_back(nullptr);
        std::vector<std::string> argCopy = argv;
        for (auto& s : argCopy)
            args.push_back(s.data());
        args.push_back(nullptr);

        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        const std::string out = options.logFile.empty() ? "/dev/null" : options.logFile;
        posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&fa, 1, 2);
        for (int fd : options.keepFds)
            posix_spawn_file_actions_adddup2(&fa, fd, fd); // clears close-on-exec
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP); // its own group: signals reach helpers it forks
        const int rc = ::posix_spawn(&pid_, args[0], &fa, &attr, args.data(), envp.data());
        posix_spawn_file_actions_destroy(&fa);
        posix_spawnattr_destroy(&attr);
        if (rc != 0) {
            pid_ = -1;
            return false;
        }
        return true;
    }

    pid_t pid() const { return pid_; }
    bool running() {
        if (pid_ <= 0) return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            exitStatus_ = status;
            pid_ = -1;
            return false;
        }
        return true;
    }

    // Waits for the program to end by itself; its exit code, or nullopt on time-out (then it is killed).
    std::optional<int> wait(std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (running()) {
            if (std::chrono::steady_clock::now() > end) {
                stop();
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return WIFEXITED(exitStatus_) ? std::optional<int>(WEXITSTATUS(exitStatus_)) : std::nullopt;
    }

    void stop() {
        if (pid_ <= 0) return;
        ::kill(-pid_, SIGTERM);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (running() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (pid_ > 0) {
            ::kill(-pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
    int exitStatus_ = 0;
};

// Runs a program to its end (at most `timeout`); its exit code, or nullopt when it could not run.
inline std::optional<int> runProgram(const std::vector<std::string>& argv, const ChildProcess::Options& options,
                                     std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    ChildProcess p;
    if (!p.start(argv, options)) return std::nullopt;
    return p.wait(timeout);
}

} // namespace dovrel::test

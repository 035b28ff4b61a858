#include "tests/support/relay/RelayDouble.h"

#include <algorithm>
#include <csignal>
#include <stdexcept>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dovrel::test {

std::string RelayDouble::executable() { return DOVREL_TEST_RELAY_EXECUTABLE; }

std::vector<std::string> RelayDouble::arguments(const Options& o) {
    std::vector<std::string> args = {"--cert", o.certFile, "--key", o.keyFile, "--listen", "127.0.0.1", "--port", "0"};
    if (o.challenge) args.push_back("--challenge");
    for (const auto& r : o.redirects)
        args.insert(args.end(), {"--redirect", r});
    for (const auto& t : o.tokens)
        args.insert(args.end(), {"--token", t});
    if (o.tokenShape) args.push_back("--token-shape");
    if (o.roomKeyCheck) args.push_back("--room-key-check");
    args.insert(args.end(), o.extraArgs.begin(), o.extraArgs.end());
    return args;
}

RelayDouble::RelayDouble(const Options& options) {
    const std::string program = executable();
    std::vector<std::string> args = arguments(options);
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("relay double: pipe failed");
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        throw std::runtime_error("relay double: fork failed");
    }
    if (pid_ == 0) {
        // Only async-signal-safe calls until exec. The relay goes with the test if the test dies.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        ::dup2(fds[1], STDOUT_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    out_ = fds[0];
    reader_ = std::thread([this] { readLines(); });

    std::unique_lock guard(lock_);
    const bool up = changed_.wait_for(guard, std::chrono::seconds(10), [&] {
        return eof_ || std::any_of(lines_.begin(), lines_.end(),
                                   [](const std::string& l) { return l.rfind("listening port=", 0) == 0; });
    });
    for (const auto& l : lines_)
        if (l.rfind("listening port=", 0) == 0) port_ = static_cast<uint16_t>(std::stoul(l.substr(15)));
    guard.unlock();
    if (!up || port_ == 0) {
        stop();
        throw std::runtime_error("relay double did not start: " + program);
    }
}

RelayDouble::~RelayDouble() { stop(); }

void RelayDouble::stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    if (reader_.joinable()) reader_.join(); // the pipe reaches its end once the child is gone
    if (out_ >= 0) {
        ::close(out_);
        out_ = -1;
    }
}

void RelayDouble::readLines() {
    std::string partial;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(out_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        partial.append(buf, static_cast<std::size_t>(n));
        std::size_t nl;
        while ((nl = partial.find('\n')) != std::string::npos) {
            {
                const std::lock_guard guard(lock_);
                lines_.push_back(partial.substr(0, nl));
            }
            changed_.notify_all();
            partial.erase(0, nl + 1);
        }
    }
    {
        const std::lock_guard guard(lock_);
        eof_ = true;
    }
    changed_.notify_all();
}

bool RelayDouble::waitForEvent(const std::string& needle, std::chrono::milliseconds timeout, std::size_t count) const {
    std::unique_lock guard(lock_);
    const auto seen = [&] {
        return static_cast<std::size_t>(std::count_if(lines_.begin(), lines_.end(), [&](const std::string& l) {
                   return l.find(needle) != std::string::npos;
               })) >= count;
    };
    return changed_.wait_for(guard, timeout, [&] { return seen() || eof_; }) && seen();
}

std::size_t RelayDouble::countEvents(const std::string& needle) const {
    const std::lock_guard guard(lock_);
    return static_cast<std::size_t>(std::count_if(
        lines_.begin(), lines_.end(), [&](const std::string& l) { return l.find(needle) != std::string::npos; }));
}

std::vector<std::string> RelayDouble::events() const {
    const std::lock_guard guard(lock_);
    return lines_;
}

} // namespace dovrel::test

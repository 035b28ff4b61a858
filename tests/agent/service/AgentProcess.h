#pragma once

// The real DovrelAgent program as a child process with HOME in a temporary folder, for the tests that
// drive it end to end on loopback.

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "../../support/FileText.h"
#include "../../support/TempHome.h"
#include "../../support/TestController.h"

extern char** environ;

namespace dovrel::test::agentprocess {

using namespace std::chrono_literals;

using dovrel::test::readFile;
using dovrel::test::writeFile;

inline mode_t modeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

// One DovrelAgent process with its own HOME; ended with SIGTERM when the object goes.
class AgentProcess {
public:
    AgentProcess(const TempDir& home, std::map<std::string, std::string> env, bool terminal) {
        env["HOME"] = home.str();
        env["XDG_CONFIG_HOME"] = home.file(".config");
        std::vector<std::string> entries;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (!env.count(entry.substr(0, entry.find('=')))) entries.push_back(entry);
        }
        for (const auto& [k, v] : env)
            entries.push_back(k + "=" + v);
        std::vector<char*> envp;
        for (auto& e : entries)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        int slave = -1;
        if (terminal) ::openpty(&master_, &slave, nullptr, nullptr, nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setsid();
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(terminal ? slave : null, 1);
            ::dup2(terminal ? slave : null, 2);
            char* argv[] = {const_cast<char*>(DOVREL_AGENT_BINARY), nullptr};
            ::execve(DOVREL_AGENT_BINARY, argv, envp.data());
            ::_exit(127);
        }
        if (slave >= 0) ::close(slave);
    }
    ~AgentProcess() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGTERM);
            waitExit(5000ms);
            if (!exited_) ::kill(pid_, SIGKILL), waitExit(5000ms);
        }
        if (master_ >= 0) ::close(master_);
    }

    // The exit status once the process has ended within the time-out (-1 when a signal ended it).
    std::optional<int> waitExit(std::chrono::milliseconds timeout) {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < until) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(10ms);
        }
        return std::nullopt;
    }

    // Sends SIGTERM and waits for the end: the exit status, as waitExit.
    std::optional<int> terminate(std::chrono::milliseconds timeout = 10000ms) {
        ::kill(pid_, SIGTERM);
        return waitExit(timeout);
    }

    // What it wrote to its terminal so far.
    std::string terminal() {
        char buf[4096];
        while (master_ >= 0) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 0) <= 0) break;
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) break;
            out_.append(buf, static_cast<std::size_t>(n));
        }
        return out_;
    }

private:
    pid_t pid_ = -1;
    int master_ = -1;
    bool exited_ = false;
    std::string out_;
};

// Waits until `text()` matches; returns the match and its groups (empty when none came), copied out of
// `holder`, which keeps the text last read.
inline std::vector<std::string> waitForMatch(const std::function<std::string()>& text, const std::regex& re,
                                             std::string& holder, std::chrono::milliseconds timeout = 10000ms) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    do {
        holder = text();
        if (std::smatch m; std::regex_search(holder, m, re)) return {m.begin(), m.end()};
        std::this_thread::sleep_for(20ms);
    } while (std::chrono::steady_clock::now() < until);
    return {};
}

inline const std::regex banner(R"(Dovrel agent up: relay \+ LAN \(CONTROL tcp/(\d+), INPUT udp/(\d+)\)\.)");

inline std::map<std::string, std::string> lanOnLoopback(const TestController& c) {
    return {
        {"DOVREL_CONTROL_PORT", "0"}, {"DOVREL_INPUT_PORT", "0"}, {"DOVREL_VIDEO_PORT", std::to_string(c.videoPort())}};
}

} // namespace dovrel::test::agentprocess

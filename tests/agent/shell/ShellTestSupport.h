#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include <QCoreApplication>

#include "../../support/ChildProcess.h"
#include "../../support/TempHome.h"
#include "agent/shell/LogSink.h"

namespace dovrel::test {

using namespace std::chrono_literals;

inline QCoreApplication& qtApp() {
    static int argc = 1;
    static char arg0[] = "agent_shell_tests";
    static char* argv[] = {arg0, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline mode_t modeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

inline bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5000ms) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// How often `needle` occurs in `text`.
inline std::size_t countOf(const std::string& text, const std::string& needle) {
    std::size_t n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size()))
        ++n;
    return n;
}

// A home for a real DovrelAgent: relay.json with the local network on, a private runtime folder, free
// ports, no supervisor, no display unless `extra` names one.
struct AgentHome {
    TempDir home;
    AgentHome() {
        writeFile(home.file(".config/Dovrel/relay.json"), "{\"lan\": true}");
        std::filesystem::create_directories(home.file("run"));
        std::filesystem::permissions(home.file("run"), std::filesystem::perms::owner_all);
    }
    ChildProcess::Options options(std::map<std::string, std::string> extra = {}) const {
        ChildProcess::Options o;
        o.env = {{"HOME", home.str()},
                 {"XDG_CONFIG_HOME", home.file(".config")},
                 {"XDG_RUNTIME_DIR", home.file("run")},
                 {"DOVREL_CONTROL_PORT", "0"},
                 {"DOVREL_INPUT_PORT", "0"},
                 {"DOVREL_SUPERVISED", ""},
                 {"DISPLAY", ""}};
        for (auto& [k, v] : extra)
            o.env[k] = v;
        return o;
    }
    std::string log() const { return readFile(home.file(".dovrel-agent.log")); }
    bool waitForLog(const std::string& needle, std::size_t times = 1, std::chrono::milliseconds timeout = 10s) const {
        return waitUntil([&] { return countOf(log(), needle) >= times; }, timeout);
    }
};

// A log sink that keeps its lines; safe from several threads.
class Lines {
public:
    agent::LogSink sink() {
        return [this](const std::string& line) {
            const std::lock_guard guard(mutex_);
            lines_.push_back(line);
        };
    }
    std::vector<std::string> all() const {
        const std::lock_guard guard(mutex_);
        return lines_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// A stand-in for systemctl, put first on PATH for the life of the object. It answers from files in its
// folder and appends each call's arguments to "calls":
//   no-manager      present: "show --property=Version" fails as with no user manager
//   is-enabled      the word is-enabled prints (absent: the unit file is missing)
//   enable-fails    present: enable fails with its content on standard error
//   enable-sets     present: enable copies it into is-enabled
//   mainpid         the MainPID value; "caller" gives the pid of the process that ran systemctl
//   start-status    exit status of "start" (default 0)
//   hang            present: every call sleeps 30 s first
class FakeSystemctl {
public:
    FakeSystemctl() {
        const std::string bin = dir_.file("bin");
        std::filesystem::create_directories(bin);
        const std::string d = dir_.str();
        writeFile(bin + "/systemctl", R"(#!/bin/sh
D=')" + d + R"('
echo "$*" >> "$D/calls"
[ -e "$D/hang" ] && sleep 30
[ "$1" = "--user" ] || { echo "expected --user" >&2; exit 2; }
shift
case "$1" in
show)
    case "$2" in
    --property=Version)
        if [ -e "$D/no-manager" ]; then echo "Failed to connect to bus: No medium found" >&2; exit 1; fi
        echo "Version=252"; exit 0 ;;
    --property=MainPID)
        v=$(cat "$D/mainpid" 2>/dev/null || echo 0)
        [ "$v" = caller ] && v=$PPID
        echo "MainPID=$v"; exit 0 ;;
    esac ;;
is-enabled)
    if [ -e "$D/is-enabled" ]; then
        w=$(cat "$D/is-enabled"); echo "$w"
        [ "$w" = enabled ] && exit 0; exit 1
    fi
    echo "Failed to get unit file state for $2: No such file or directory" >&2; exit 1 ;;
enable)
    if [ -e "$D/enable-fails" ]; then cat "$D/enable-fails" >&2; exit 1; fi
    [ -e "$D/enable-sets" ] && cp "$D/enable-sets" "$D/is-enabled"
    exit 0 ;;
start) exit $(cat "$D/start-status" 2>/dev/null || echo 0) ;;
import-environment|daemon-reload) exit 0 ;;
esac
echo "unexpected: $*" >&2
exit 2
)");
        std::filesystem::permissions(bin + "/systemctl", std::filesystem::perms(0755));
        const char* path = std::getenv("PATH");
        oldPath_ = path ? path : "";
        ::setenv("PATH", (bin + ":" + oldPath_).c_str(), 1);
    }
    ~FakeSystemctl() { ::setenv("PATH", oldPath_.c_str(), 1); }
    FakeSystemctl(const FakeSystemctl&) = delete;
    FakeSystemctl& operator=(const FakeSystemctl&) = delete;

    void set(const std::string& name, const std::string& content = "") { writeFile(dir_.file(name), content); }
    void clear(const std::string& name) { std::filesystem::remove(dir_.file(name)); }
    std::string calls() const { return readFile(dir_.file("calls")); }
    int count(const std::string& call) const {
        int n = 0;
        std::ifstream in(dir_.file("calls"));
        for (std::string line; std::getline(in, line);)
            if (line == call) ++n;
        return n;
    }
    std::string binDir() const { return dir_.file("bin"); }

private:
    TempDir dir_;
    std::string oldPath_;
};

} // namespace dovrel::test

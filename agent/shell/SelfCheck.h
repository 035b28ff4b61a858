#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "agent/shell/LogSink.h"
#include "agent/shell/Supervisor.h"

namespace dovrel::agent {

// The agent's self-check. The agent runs on a computer nobody watches, so it checks its own health and
// writes the result into its log, where a support reader finds it: the supervisor, the device identity
// file, free disk space, the size of its log and crashes of earlier runs, in this order. It repairs
// what it safely can and reports a repair only once it has seen it take effect. Never throws.
class Doctor {
public:
    enum class Severity { ok, warn, bad };
    static const char* rawValue(Severity s); // "ok", "warn", "bad"
    static const char* mark(Severity s);     // "✓", "!", "✗"

    struct Finding {
        Severity severity = Severity::ok;
        std::string title;
        std::string repaired; // empty: nothing was changed
        std::string action;   // empty: nothing for the user to do
        bool operator==(const Finding&) const = default;
    };

    struct Report {
        std::vector<Finding> findings;
        // bad if any finding is bad, else warn if any is warn, else ok (also when there are none).
        Severity worst() const;
    };

    // What the checks look at; each empty member means this computer's own.
    struct Environment {
        std::string home;            // the identity is home + "/.dovrel/agent.key"; empty: $HOME
        std::string logPath;         // empty: the agent's log
        std::string previousLogPath; // empty: the agent's previous log
        Supervisor* supervisor = nullptr;
        std::function<std::optional<int64_t>()> freeBytes;
        std::function<std::optional<std::string>()> newestCrashReport;
        std::function<void()> rotateLog;
    };

    // Five findings: supervisor, identity, disk space, log size, previous crash. Only the supervisor
    // check looks at `repair` (it may register the unit); the identity and log-size checks repair
    // whenever they find something to repair.
    static Report examine(bool repair);
    static Report examine(bool repair, const Environment& environment);

    // The report as the log shows it, one string per line.
    static std::vector<std::string> lines(const Report& report);
    static void log(const Report& report, const LogSink& sink = {});

    // The checks one by one.
    static Finding supervisorCheck(Supervisor& supervisor, bool repair);
    static Finding identityCheck(const std::string& keyPath);
    static Finding diskSpaceCheck(std::optional<int64_t> freeBytes);
    static Finding logSizeCheck(const std::string& logPath, const std::string& previousLogPath,
                                const std::function<void()>& rotate);
    static Finding crashCheck(const std::optional<std::string>& newestReport);

    // Bytes an ordinary user may still write on the file system that holds `path`; nothing on failure.
    static std::optional<int64_t> freeDiskBytes(const std::string& path);
};

} // namespace dovrel::agent

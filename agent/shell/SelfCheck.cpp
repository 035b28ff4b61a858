#include "agent/shell/SelfCheck.h"

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "agent/common/AgentLog.h"
#include "agent/common/HomeDirectory.h"
#include "agent/common/UniqueFd.h"
#include "agent/shell/CrashReports.h"

namespace dovrel::agent {

namespace {

constexpr int64_t badBelowBytes = 200'000'000;
constexpr int64_t fineAboveBytes = 999'999'999;

const std::string reinstallAction = "reinstall Dovrel Agent, then start it once from your desktop";
// Reinstalling changes nothing where no user manager would run the unit.
const std::string noUserManagerAction =
    "log in to a desktop session that runs systemd's user manager (\"systemctl --user status\" answers there), or "
    "add Dovrel Agent to your desktop's autostart — until then, start it again by hand if it stops";

std::string repeat(const std::string& unit, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += unit;
    return out;
}

} // namespace

const char* Doctor::rawValue(Severity s) {
    switch (s) {
    case Severity::ok: return "ok";
    case Severity::warn: return "warn";
    case Severity::bad: return "bad";
    }
    return "";
}

const char* Doctor::mark(Severity s) {
    switch (s) {
    case Severity::ok: return "✓";
    case Severity::warn: return "!";
    case Severity::bad: return "✗";
    }
    return "";
}

Doctor::Severity Doctor::Report::worst() const {
    Severity w = Severity::ok;
    for (const Finding& f : findings) {
        if (f.severity == Severity::bad) return Severity::bad;
        if (f.severity == Severity::warn) w = Severity::warn;
    }
    return w;
}

Doctor::Finding Doctor::supervisorCheck(Supervisor& supervisor, bool repair) {
    using Kind = Supervisor::Kind;
    const auto fromState = [](const Supervisor::State& state) -> Finding {
        switch (state.kind) {
        case Kind::active: return {Severity::ok, state.sentence(), {}, {}};
        case Kind::turnedOff:
            return {Severity::warn,
                    state.sentence(),
                    {},
                    std::string("turn it back on: systemctl --user enable ") + Supervisor::unitName};
        case Kind::unwatched:
            if (state.noUserManager) return {Severity::bad, state.sentence(), {}, noUserManagerAction};
            return {Severity::bad, state.sentence(), {}, reinstallAction};
        case Kind::failed: return {Severity::bad, state.sentence(), {}, reinstallAction};
        }
        return {};
    };
    const Supervisor::State diagnosed = supervisor.diagnose();
    if (diagnosed.kind != Kind::unwatched || !repair) return fromState(diagnosed);
    const Supervisor::State state = supervisor.ensureRegistered();
    // Without a user manager a registration that failed says nothing a reinstall would mend: what is
    // true is that nothing runs the unit here.
    if (state.kind == Kind::failed && diagnosed.noUserManager) return fromState(diagnosed);
    Finding f = fromState(state);
    if (state.kind == Kind::active)
        f.repaired = "registered the systemd user unit, so systemd restarts the agent if it stops";
    return f;
}

Doctor::Finding Doctor::identityCheck(const std::string& keyPath) {
    struct stat st {};
    if (::stat(keyPath.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR))
        return {Severity::warn, "No device identity yet — this computer has not been paired", {}, {}};
    UniqueFd fd(::open(keyPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd)
        return {Severity::bad,
                "The device identity exists but cannot be read",
                {},
                "fix the permissions on ~/.dovrel/agent.key — do NOT delete it, deleting it unpairs every device "
                "you own"};
    if (::fstat(fd.get(), &st) != 0 || (st.st_mode & 077) == 0)
        return {Severity::ok, "Device identity present and private", {}, {}};
    // Tighten the very file we opened, then look again: only a change that took is reported.
    struct stat after {};
    if (::fchmod(fd.get(), 0600) == 0 && ::fstat(fd.get(), &after) == 0 && (after.st_mode & 07777) == 0600)
        return {Severity::ok,
                "Device identity present",
                "tightened ~/.dovrel/agent.key to 0600 — it was readable by other accounts",
                {}};
    return {
        Severity::warn, "The device identity is readable by other accounts", {}, "run: chmod 600 ~/.dovrel/agent.key"};
}

Doctor::Finding Doctor::diskSpaceCheck(std::optional<int64_t> freeBytes) {
    if (!freeBytes) return {Severity::warn, "Could not read free disk space", {}, {}};
    // A full disk reads 0: that is the worst case, not an unknown one.
    const int64_t bytes = *freeBytes;
    const int64_t mb = bytes / 1'000'000;
    if (bytes < badBelowBytes)
        return {Severity::bad,
                "Only " + std::to_string(mb) + " MB of disk left",
                {},
                "free some space — below this the agent cannot save pairings or write a crash report"};
    if (bytes > fineAboveBytes)
        return {Severity::ok, "Disk space is fine (" + std::to_string(mb / 1000) + " GB free)", {}, {}};
    return {Severity::warn, std::to_string(mb) + " MB of disk left", {}, {}};
}

Doctor::Finding Doctor::logSizeCheck(const std::string& logPath, const std::string& previousLogPath,
                                     const std::function<void()>& rotate) {
    const uint64_t size = AgentLog::size(logPath);
    if (size <= AgentLog::cap)
        return {Severity::ok, "Log size is fine (" + std::to_string(size >> 20) + " MB)", {}, {}};
    const std::string capText = std::to_string(AgentLog::cap >> 20);
    if (rotate) rotate();
    if (AgentLog::size(logPath) <= AgentLog::cap)
        return {Severity::ok, "Log was over the " + capText + " MB cap", "rotated it to " + previousLogPath, {}};
    const std::string folder = logPath.substr(0, logPath.find_last_of('/'));
    return {Severity::warn,
            "Log is over the " + capText + " MB cap and could not be rotated",
            {},
            "make sure " + folder + " is writable"};
}

Doctor::Finding Doctor::crashCheck(const std::optional<std::string>& newestReport) {
    if (!newestReport) return {Severity::ok, "No crash reports from previous runs", {}, {}};
    return {Severity::warn,
            "This agent crashed on a previous run",
            {},
            "send " + *newestReport +
                " if you are reporting a problem — it holds a stack trace and no screen or clipboard contents. "
                "Nothing is uploaded from here."};
}

std::optional<int64_t> Doctor::freeDiskBytes(const std::string& path) {
    struct statvfs vfs {};
    if (::statvfs(path.c_str(), &vfs) != 0) return std::nullopt;
    const unsigned long long blocks = vfs.f_bavail;
    const unsigned long long size = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    if (size != 0 && blocks > static_cast<unsigned long long>(std::numeric_limits<int64_t>::max()) / size)
        return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(blocks * size);
}

Doctor::Report Doctor::examine(bool repair) { return examine(repair, Environment{}); }

Doctor::Report Doctor::examine(bool repair, const Environment& env) {
    const std::string home = env.home.empty() ? homeDirectory() : env.home;
    const std::string logPath = env.logPath.empty() ? AgentLog::path() : env.logPath;
    const std::string previous = env.previousLogPath.empty() ? AgentLog::previousPath() : env.previousLogPath;
    Supervisor& supervisor = env.supervisor ? *env.supervisor : Supervisor::forThisProcess();
    const auto rotate = env.rotateLog ? env.rotateLog : [&] { AgentLog::rotateIfNeeded(logPath, previous); };

    Report report;
    report.findings.push_back(supervisorCheck(supervisor, repair));
    report.findings.push_back(identityCheck(home + "/.dovrel/agent.key"));
    report.findings.push_back(diskSpaceCheck(env.freeBytes ? env.freeBytes() : freeDiskBytes(home)));
    report.findings.push_back(logSizeCheck(logPath, previous, rotate));
    report.findings.push_back(
        crashCheck(env.newestCrashReport ? env.newestCrashReport() : CrashReports::newestReportPath()));
    return report;
}

std::vector<std::string> Doctor::lines(const Report& report) {
    std::vector<std::string> out;
    out.push_back("── agent self-check " + repeat("─", 41));
    for (const Finding& f : report.findings) {
        out.push_back(std::string("  ") + mark(f.severity) + " " + f.title);
        if (!f.repaired.empty()) out.push_back("      repaired: " + f.repaired);
        if (!f.action.empty()) out.push_back("      you:      " + f.action);
    }
    out.push_back(repeat("─", 61));
    return out;
}

void Doctor::log(const Report& report, const LogSink& sink) {
    for (const std::string& line : lines(report))
        logLine(sink, line);
}

} // namespace dovrel::agent

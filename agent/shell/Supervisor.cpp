#include "agent/shell/Supervisor.h"

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "agent/common/HomeDirectory.h"
#include "agent/shell/ChildProcess.h"
#include "agent/shell/TextUtil.h"
#include "runtime/AtomicFile.h"

namespace dovrel::agent {

namespace {

std::string thisExecutable() {
    std::error_code ec;
    const auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

std::string describeFailure(const ChildResult& r, const std::string& what, std::chrono::milliseconds timeout) {
    if (!r.started) return "systemctl cannot be run on this computer";
    if (r.timedOut)
        return "systemctl " + what + " did not answer within " +
               std::to_string(std::chrono::duration_cast<std::chrono::seconds>(timeout).count()) + " s";
    const std::string said = firstNonEmptyLine(r.err);
    if (!said.empty()) return said;
    return "systemctl " + what + " exited with status " + std::to_string(r.exitStatus);
}

} // namespace

std::string Supervisor::State::sentence() const {
    switch (kind) {
    case Kind::active: return "Restarts automatically if it stops";
    case Kind::unwatched:
        if (noUserManager) return "No systemd user manager runs here — nothing restarts the agent if it stops";
        return "Nothing is watching the agent — it will not come back if it stops";
    case Kind::turnedOff: return "Turned off in the systemd user services — it will not restart itself";
    case Kind::failed: return "Could not set up automatic restart: " + message;
    }
    return {};
}

Supervisor::Supervisor() : Supervisor(Options{}) {}
Supervisor::Supervisor(Options options) : options_(std::move(options)) {}

Supervisor& Supervisor::forThisProcess() {
    static Supervisor instance;
    return instance;
}

std::string Supervisor::unitFilePath() const {
    std::string dir = options_.unitDirectory;
    if (dir.empty()) {
        const char* config = std::getenv("XDG_CONFIG_HOME");
        dir = (config && *config == '/' ? std::string(config) : homeDirectory() + "/.config") + "/systemd/user";
    }
    return dir + "/" + unitName;
}

std::string Supervisor::quoteForExecStart(const std::string& word) {
    std::string out = "\"";
    for (char c : word) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '%': out += "%%"; break;
        case '$': out += "$$"; break;
        default: out += c;
        }
    }
    return out + "\"";
}

std::string Supervisor::unitFileText(const std::string& executable) {
    // The agent needs the desktop, so the unit belongs to the graphical session: it starts with it and
    // stops with it. Restart only on failure, so that quitting the agent keeps it quit.
    return "[Unit]\n"
           "Description=Dovrel Agent\n"
           "After=graphical-session.target\n"
           "PartOf=graphical-session.target\n"
           "\n"
           "[Service]\n"
           "ExecStart=" +
           quoteForExecStart(executable) +
           "\n"
           "Environment=" +
           std::string(supervisedVariable) +
           "=1\n"
           "Restart=on-failure\n"
           "RestartSec=2\n"
           "\n"
           "[Install]\n"
           "WantedBy=graphical-session.target\n";
}

std::optional<std::string> Supervisor::programOfUnit(const std::string& unitText) {
    for (const std::string& raw : splitLines(unitText)) {
        const std::string line = trimBlanks(raw);
        if (line.rfind("ExecStart=", 0) != 0) continue;
        std::string value = trimBlanks(line.substr(10));
        // Prefixes that change how systemd runs the program, not which one.
        value.erase(0, value.find_first_not_of("-@:+!"));
        std::string word;
        const bool quoted = !value.empty() && value[0] == '"';
        for (std::size_t i = quoted ? 1 : 0; i < value.size(); ++i) {
            const char c = value[i];
            if (quoted && c == '"') break;
            if (!quoted && (c == ' ' || c == '\t')) break;
            const char next = i + 1 < value.size() ? value[i + 1] : '\0';
            if (quoted && c == '\\' && next != '\0') {
                word += next == 'n' ? '\n' : next;
                ++i;
            } else if ((c == '%' || c == '$') && next == c) {
                word += c;
                ++i;
            } else {
                word += c;
            }
        }
        if (word.empty()) return std::nullopt;
        return word;
    }
    return std::nullopt;
}

std::optional<int32_t> Supervisor::parseMainPid(const std::string& output) {
    for (const std::string& raw : splitLines(output)) {
        const std::string line = trimBlanks(raw);
        if (line.rfind("MainPID=", 0) != 0) continue;
        const std::string rest = trimBlanks(line.substr(8));
        const char* begin = rest.data();
        const char* end = rest.data() + rest.size();
        if (begin != end && *begin == '+') ++begin;
        int32_t value = 0;
        const auto [ptr, ec] = std::from_chars(begin, end, value);
        if (ec != std::errc() || ptr != end || begin == end) return std::nullopt;
        // systemd writes 0 when the unit runs no process.
        if (value <= 0) return std::nullopt;
        return value;
    }
    return std::nullopt;
}

bool Supervisor::managerAnswers() const {
    const ChildResult r =
        runChildProcess(options_.systemctl, {"--user", "show", "--property=Version"}, {options_.timeout});
    return r.succeeded() && r.out.find("Version=") != std::string::npos;
}

Supervisor::Status Supervisor::query() const {
    if (findOnPath(options_.systemctl).empty()) return {"noSystemctl", {Kind::unwatched, {}, true}, false};
    // Without a user manager systemctl still answers is-enabled from the files alone, but nothing acts
    // on the unit until the next login: ask the manager first.
    const bool manager = managerAnswers();
    const ChildResult r = runChildProcess(options_.systemctl, {"--user", "is-enabled", unitName}, {options_.timeout});
    const std::string word = trimBlanks(firstNonEmptyLine(r.out));
    const bool enabled = r.succeeded() && (word == "enabled" || word == "enabled-runtime");
    if (!manager) return {"noUserManager", {Kind::unwatched, {}, true}, enabled};
    if (!r.started || r.timedOut)
        return {"noAnswer", failedWith(describeFailure(r, "is-enabled", options_.timeout)), false};
    if (word == "enabled" || word == "enabled-runtime") return {word, {Kind::active, {}}, true};
    if (word == "disabled" || word == "masked" || word == "masked-runtime" || word == "linked" ||
        word == "linked-runtime")
        return {word, {Kind::turnedOff, {}}, false};
    if (word == "not-found" || (word.empty() && r.err.find("No such file or directory") != std::string::npos))
        return {"notFound", {Kind::unwatched, {}}, false};
    return {"unknown(" + word + ")", failedWith("unrecognised registration state"), false};
}

Supervisor::State Supervisor::diagnose() const { return query().state; }

std::string Supervisor::rawStatusDescription() const { return query().raw; }

std::string Supervisor::program() const { return options_.executable.empty() ? thisExecutable() : options_.executable; }

std::string Supervisor::writeUnit(const std::string& executable) const {
    const std::string path = unitFilePath();
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    const std::string text = unitFileText(executable);
    const std::string written =
        writeFileAtomically(path, wex::ByteView(reinterpret_cast<const uint8_t*>(text.data()), text.size()), 0644);
    return written.empty() ? std::string() : "cannot write " + path + " — " + written;
}

std::string Supervisor::registerUnit() const {
    if (findOnPath(options_.systemctl).empty()) return "systemctl cannot be run on this computer";
    const std::string executable = program();
    if (executable.empty()) return "cannot tell where this program is installed";
    const std::string written = writeUnit(executable);
    if (!written.empty()) return written;
    const ChildResult r = runChildProcess(options_.systemctl, {"--user", "enable", unitName}, {options_.timeout});
    if (r.succeeded()) return {};
    // Leave no half-made unit behind: a unit file that is not enabled reads as turned off by the user.
    ::unlink(unitFilePath().c_str());
    return describeFailure(r, "--user enable", options_.timeout);
}

bool Supervisor::repointGoneProgram() const {
    // Only the unit file this agent writes; one the user or a package put elsewhere is theirs.
    const std::string path = unitFilePath();
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    const auto gone = programOfUnit(text);
    if (!gone || ::access(gone->c_str(), X_OK) == 0) return false;
    const std::string executable = program();
    if (executable.empty() || executable == *gone) return false;
    const std::string failure = writeUnit(executable);
    if (!failure.empty()) {
        logLine(options_.log, "• supervisor: the unit starts " + *gone + ", which is gone, and " + failure);
        return false;
    }
    runChildProcess(options_.systemctl, {"--user", "daemon-reload"}, {options_.timeout});
    logLine(options_.log, "• supervisor: the unit started " + *gone + ", which is gone — it now starts " + executable);
    return true;
}

Supervisor::State Supervisor::ensureRegistered() {
    Status status = query();
    logLine(options_.log, "• supervisor: systemd reports status " + status.raw + " for " + unitName);
    if (status.enabled) repointGoneProgram();
    if (status.state.kind != Kind::unwatched) return status.state;
    // Enabled, but no user manager runs now: the unit starts with the next login, and registering it
    // again would change nothing.
    if (status.enabled) return status.state;

    // Claim one attempt atomically, so that two callers at once cannot both take the third.
    int tried = repairsThisRun_.load();
    do {
        if (tried > 2) {
            logLine(options_.log, "• supervisor: not retrying registration (already tried " + std::to_string(tried) +
                                      " times this run)");
            return {Kind::unwatched, {}};
        }
    } while (!repairsThisRun_.compare_exchange_weak(tried, tried + 1));

    const std::string failure = registerUnit();
    if (!failure.empty()) {
        logLine(options_.log, "• supervisor: could NOT register — " + failure);
        return failedWith(failure);
    }
    status = query();
    logLine(options_.log, "• supervisor: registered (status now " + status.raw + ") — " + status.state.sentence());
    return status.state;
}

std::optional<int32_t> Supervisor::managerPid() const {
    const ChildResult r =
        runChildProcess(options_.systemctl, {"--user", "show", "--property=MainPID", unitName}, {options_.timeout});
    if (!r.started || r.timedOut) return std::nullopt;
    return parseMainPid(r.out);
}

bool Supervisor::kickstart() const {
    // The unit runs with the user manager's environment: hand it this desktop's display first, as a
    // desktop session does, so that the agent it starts can reach the screen.
    const char* display = std::getenv("DISPLAY");
    if (display && *display)
        runChildProcess(options_.systemctl, {"--user", "import-environment", "DISPLAY", "XAUTHORITY"},
                        {options_.timeout});
    return runChildProcess(options_.systemctl, {"--user", "start", unitName}, {options_.timeout}).succeeded();
}

bool Supervisor::isSupervisedProcess() const {
    const char* marker = std::getenv(supervisedVariable);
    if (!marker || std::string(marker) != "1") return false;
    const auto pid = managerPid();
    return pid && *pid == static_cast<int32_t>(::getpid());
}

} // namespace dovrel::agent

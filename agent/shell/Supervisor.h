#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "agent/shell/LogSink.h"

namespace dovrel::agent {

// Keeps the agent alive through the user's systemd manager: a user unit that starts the agent at login
// and again whenever it fails (not when the user quits it). This inspects and repairs that unit, asks
// systemd for the process it runs, starts the unit, and tells whether this process is the one systemd
// started. Nothing here throws: every failure becomes a state, nothing, false or a log line. The tool
// is run as "systemctl --user ..." and found on $PATH; each run is killed after the time-out.
class Supervisor {
public:
    static constexpr const char* unitName = "com.quendal.dovrel.agent.service";
    static constexpr const char* supervisedVariable = "DOVREL_SUPERVISED";

    enum class Kind {
        active,    // the unit is enabled and a user manager runs it: systemd restarts the agent
        unwatched, // no unit, or no user manager to run it
        turnedOff, // the unit exists but the user disabled or masked it
        failed,    // registration failed, or systemd reports a state we do not know
    };
    struct State {
        Kind kind = Kind::unwatched;
        std::string message; // only for failed
        // Only for unwatched: no systemd user manager runs here (or no systemd at all), so nothing would
        // run the unit, registered or not.
        bool noUserManager = false;
        // One line for the window and the log.
        std::string sentence() const;
        bool operator==(const State&) const = default;
    };
    static State failedWith(std::string message) { return {Kind::failed, std::move(message)}; }

    struct Options {
        std::string systemctl = "systemctl";
        // Where the unit file goes; empty: $XDG_CONFIG_HOME/systemd/user (default ~/.config/systemd/user).
        std::string unitDirectory;
        // The program the unit starts; empty: this very program.
        std::string executable;
        std::chrono::milliseconds timeout{5000};
        LogSink log;
    };

    Supervisor();
    explicit Supervisor(Options options);

    // The one the agent uses, so that the registration cap holds for the whole process.
    static Supervisor& forThisProcess();

    // The unit's state as systemd reports it; registers nothing.
    State diagnose() const;
    // The state as a word for the log: systemctl's is-enabled answer ("enabled", "disabled", "masked",
    // ...), "notFound" without a unit file, "noUserManager" when no user manager answers.
    std::string rawStatusDescription() const;
    // Registers the unit when there is none (at most three attempts in the life of this object) and
    // returns the state afterwards; logs what it found and did.
    State ensureRegistered();
    // The main process systemd runs for the unit; nothing when it runs none or cannot be asked.
    std::optional<int32_t> managerPid() const;
    // Asks systemd to start the unit now; true when systemctl said so.
    bool kickstart() const;
    // True only when DOVREL_SUPERVISED is exactly "1" and systemd's main process for the unit is this one.
    bool isSupervisedProcess() const;

    // The unit file's text for `executable`.
    static std::string unitFileText(const std::string& executable);
    // `word` quoted for a unit file's ExecStart (specifiers and variables escaped).
    static std::string quoteForExecStart(const std::string& word);
    // The program the first ExecStart= line of a unit file starts, its quoting undone; nothing without one.
    static std::optional<std::string> programOfUnit(const std::string& unitText);
    // The pid on the first "MainPID=" line of `systemctl show` output; nothing for 0 or garbage.
    static std::optional<int32_t> parseMainPid(const std::string& output);

    std::string unitFilePath() const;

private:
    struct Status {
        std::string raw;
        State state;
        bool enabled = false; // the unit file is enabled, whether or not a manager runs it
    };
    Status query() const;
    bool managerAnswers() const;
    // The program the unit is to start: Options::executable, or this very program.
    std::string program() const;
    // Both: empty on success, else what went wrong in words.
    std::string writeUnit(const std::string& executable) const;
    std::string registerUnit() const;
    // An enabled unit whose program is gone (a build folder cleaned away, an uninstalled copy) can never
    // start: point it at this program and have systemd read it again. True when it did.
    bool repointGoneProgram() const;

    Options options_;
    std::atomic<int> repairsThisRun_{0};
};

} // namespace dovrel::agent

#include "agent/shell/UnattendedChecks.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "agent/shell/ChildProcess.h"
#include "agent/shell/TextUtil.h"

namespace dovrel::agent {

namespace {

namespace fs = std::filesystem;

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// section -> key -> value, from the files in order (a later file's value replaces an earlier one).
using Ini = std::map<std::string, std::map<std::string, std::string>>;

void readIni(const std::string& path, Ini& ini) {
    std::istringstream text(readText(path));
    std::string line, section;
    while (std::getline(text, line)) {
        line = trimWhite(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        ini[section][trimWhite(line.substr(0, eq))] = trimWhite(line.substr(eq + 1));
    }
}

// The *.conf files of `folder`, in name order.
std::vector<std::string> confFiles(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        if (e.path().extension() == ".conf") files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string gdmUser(const std::string& root) {
    for (const char* file : {"/etc/gdm3/daemon.conf", "/etc/gdm3/custom.conf", "/etc/gdm/custom.conf"}) {
        Ini ini;
        readIni(root + file, ini);
        const auto& daemon = ini["daemon"];
        const auto enabled = daemon.find("AutomaticLoginEnable");
        const auto user = daemon.find("AutomaticLogin");
        if (enabled != daemon.end() && lower(enabled->second) == "true" && user != daemon.end() &&
            !user->second.empty())
            return user->second;
    }
    return {};
}

std::string lightdmUser(const std::string& root) {
    Ini ini;
    for (const auto& f : confFiles(root + "/usr/share/lightdm/lightdm.conf.d"))
        readIni(f, ini);
    readIni(root + "/etc/lightdm/lightdm.conf", ini);
    for (const auto& f : confFiles(root + "/etc/lightdm/lightdm.conf.d"))
        readIni(f, ini);
    for (const char* seat : {"Seat:*", "SeatDefaults"}) {
        const auto& s = ini[seat];
        if (const auto it = s.find("autologin-user"); it != s.end() && !it->second.empty()) return it->second;
    }
    return {};
}

std::string sddmUser(const std::string& root) {
    Ini ini;
    for (const auto& f : confFiles(root + "/usr/lib/sddm/sddm.conf.d"))
        readIni(f, ini);
    for (const auto& f : confFiles(root + "/etc/sddm.conf.d"))
        readIni(f, ini);
    readIni(root + "/etc/sddm.conf", ini);
    return ini["Autologin"]["User"];
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (!trimWhite(line).empty()) out.push_back(trimWhite(line));
    return out;
}

// The tool's standard output when it ran to its end by itself; empty otherwise.
std::string answerOf(const ChildResult& r, bool anyStatus = false) {
    if (!r.started || r.timedOut || (!anyStatus && r.exitStatus != 0)) return {};
    return r.out;
}

} // namespace

std::string autoLoginUser(const std::string& sysroot) {
    const std::string manager =
        fs::path(trimWhite(readText(sysroot + "/etc/X11/default-display-manager"))).filename().string();
    if (manager.rfind("gdm", 0) == 0) return gdmUser(sysroot);
    if (manager == "lightdm") return lightdmUser(sysroot);
    if (manager == "sddm") return sddmUser(sysroot);
    for (const auto& user : {gdmUser(sysroot), lightdmUser(sysroot), sddmUser(sysroot)})
        if (!user.empty()) return user;
    return {};
}

bool listsEncryptedDevice(const std::string& lsblkTypes) {
    for (const auto& type : lines(lsblkTypes))
        if (type == "crypt") return true;
    return false;
}

bool sleepTargetsMasked(const std::string& isEnabledOutput) {
    const auto answers = lines(isEnabledOutput);
    return answers.size() == 4 &&
           std::all_of(answers.begin(), answers.end(), [](const std::string& a) { return a == "masked"; });
}

bool gnomeNeverSleepsOnMains(const std::string& gsettingsOutput) { return trimWhite(gsettingsOutput) == "'nothing'"; }

bool logindIdleIgnored(const std::string& sysroot) {
    Ini ini;
    readIni(sysroot + "/etc/systemd/logind.conf", ini);
    for (const auto& f : confFiles(sysroot + "/etc/systemd/logind.conf.d"))
        readIni(f, ini);
    const auto& login = ini["Login"];
    const auto it = login.find("IdleAction");
    return it == login.end() || it->second == "ignore";
}

std::optional<std::string> powerRestorePolicy(const std::string& chassisStatus) {
    for (const auto& line : lines(chassisStatus)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos || trimWhite(line.substr(0, colon)) != "Power Restore Policy") continue;
        const std::string policy = trimWhite(line.substr(colon + 1));
        if (!policy.empty()) return policy;
    }
    return std::nullopt;
}

bool hasSystemBattery(const std::string& sysroot) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(sysroot + "/sys/class/power_supply", ec)) {
        const std::string base = e.path().string() + "/";
        if (trimWhite(readText(base + "type")) != "Battery") continue;
        if (trimWhite(readText(base + "scope")) == "Device") continue;
        return true;
    }
    return false;
}

Readiness checkReadiness(const ReadinessEnvironment& env, const Supervisor& supervisor) {
    const ChildOptions tool{env.toolTimeout};
    Readiness r;

    const Supervisor::State state = supervisor.diagnose();
    r.supervised = state.kind == Supervisor::Kind::active;
    r.supervisorSentence = state.sentence();
    r.noUserManager = state.noUserManager;

    r.autoLoginUser = autoLoginUser(env.sysroot);
    // Another user logged in at start-up leaves this agent's session closed.
    r.autoLogin = !r.autoLoginUser.empty() && r.autoLoginUser == env.user;

    // The root file system's device, then that device and everything under it.
    const std::string root = trimWhite(answerOf(runChildProcess("findmnt", {"-n", "-o", "SOURCE", "/"}, tool)));
    if (!root.empty()) {
        const std::string types = answerOf(runChildProcess("lsblk", {"-s", "-n", "-o", "TYPE", root}, tool));
        r.diskEncryptionOff = !types.empty() && !listsEncryptedDevice(types);
    }

    // is-enabled exits with a failure status for masked units: its words are what counts.
    const std::string masked =
        answerOf(runChildProcess(
                     "systemctl",
                     {"is-enabled", "sleep.target", "suspend.target", "hibernate.target", "hybrid-sleep.target"}, tool),
                 true);
    r.noSleep = sleepTargetsMasked(masked);
    if (!r.noSleep) {
        const std::string acSleep = answerOf(runChildProcess(
            "gsettings", {"get", "org.gnome.settings-daemon.plugins.power", "sleep-inactive-ac-type"}, tool));
        r.noSleep = gnomeNeverSleepsOnMains(acSleep) && logindIdleIgnored(env.sysroot);
    }

    r.powerRestore = Readiness::PowerRestore::unknown;
    if (hasSystemBattery(env.sysroot)) {
        r.powerRestore = Readiness::PowerRestore::battery;
    } else if (const auto policy =
                   powerRestorePolicy(answerOf(runChildProcess("ipmitool", {"chassis", "status"}, tool)))) {
        r.powerPolicy = *policy;
        r.powerRestore = (*policy == "always-on" || *policy == "previous") ? Readiness::PowerRestore::restores
                                                                           : Readiness::PowerRestore::staysOff;
    }
    r.restartAfterPower =
        r.powerRestore == Readiness::PowerRestore::battery || r.powerRestore == Readiness::PowerRestore::restores;
    return r;
}

} // namespace dovrel::agent

#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "agent/shell/Supervisor.h"

namespace dovrel::agent {

// Whether this computer comes back by itself when nobody is in the room: a user is logged in at
// start-up, it does not fall asleep, it starts again after a power cut, and systemd restarts the agent.
// Whether the root file system sits on an encrypted device is told too, but does not count.
struct Readiness {
    enum class PowerRestore {
        notChecked, // no check has run yet
        battery,    // a laptop rides out short cuts on its battery
        restores,   // the board's power-restore policy brings it back ("always-on" or "previous")
        staysOff,   // the policy leaves it off ("always-off")
        unknown,    // no battery and no management controller that answers: the firmware setting is unread
    };

    bool autoLogin = false;    // the user the agent runs as is logged in at start-up
    std::string autoLoginUser; // who the display manager logs in; empty: nobody
    bool diskEncryptionOff = false;
    bool noSleep = false;
    bool restartAfterPower = false;
    PowerRestore powerRestore = PowerRestore::notChecked;
    std::string powerPolicy; // the management controller's word, when it answered
    bool supervised = false;
    std::string supervisorSentence;
    bool noUserManager = false; // nothing could run the agent's unit here

    // A firmware setting the running system cannot read is advice, not a failure: only a known "stays
    // off" counts against readiness.
    bool powerAdviceOnly() const { return powerRestore == PowerRestore::unknown; }
    bool powerCounts() const { return restartAfterPower || powerAdviceOnly(); }
    bool ready() const { return autoLogin && noSleep && powerCounts() && supervised; }
    int doneCount() const { return int(autoLogin) + int(noSleep) + int(powerCounts()) + int(supervised); }
};

struct ReadinessEnvironment {
    // Put in front of every file the checks read (/etc/..., /sys/...); empty: this computer's.
    std::string sysroot;
    // Each tool is killed after this and then counts as not answering.
    std::chrono::milliseconds toolTimeout{5000};
    // The account the agent runs as: automatic login helps only when it is this one.
    std::string user;
};

// Runs the checks: reads the display managers' and logind's files, asks findmnt, lsblk, systemctl,
// gsettings and ipmitool (found on $PATH, through runChildProcess) and the supervisor. Slow: call it off
// the main thread. A tool that fails, hangs or prints nothing makes its answer "not ready".
Readiness checkReadiness(const ReadinessEnvironment& environment, const Supervisor& supervisor);

// The parts, each on what it reads.

// The user the active display manager logs in at start-up: GDM (daemon.conf or custom.conf,
// [daemon] AutomaticLoginEnable and AutomaticLogin), LightDM (lightdm.conf then lightdm.conf.d/*.conf in
// name order, autologin-user under [Seat:*] or [SeatDefaults]; later files win), SDDM (sddm.conf.d/*.conf
// then sddm.conf, [Autologin] User). When /etc/X11/default-display-manager names one, only it counts.
std::string autoLoginUser(const std::string& sysroot);
// lsblk's TYPE column for the root device and its ancestors ("lsblk -s -n -o TYPE <device>"): one of
// them is a dm-crypt mapping.
bool listsEncryptedDevice(const std::string& lsblkTypes);
// "systemctl is-enabled" of the four sleep targets answered "masked" for each.
bool sleepTargetsMasked(const std::string& isEnabledOutput);
// gsettings' answer for sleep-inactive-ac-type is 'nothing'.
bool gnomeNeverSleepsOnMains(const std::string& gsettingsOutput);
// logind's IdleAction, from logind.conf and logind.conf.d/*.conf (later files win), is "ignore" (also
// when nobody set it: that is logind's default).
bool logindIdleIgnored(const std::string& sysroot);
// The "Power Restore Policy" of "ipmitool chassis status"; nothing when absent.
std::optional<std::string> powerRestorePolicy(const std::string& chassisStatus);
// A system battery under <sysroot>/sys/class/power_supply (a mouse's does not count).
bool hasSystemBattery(const std::string& sysroot);

} // namespace dovrel::agent

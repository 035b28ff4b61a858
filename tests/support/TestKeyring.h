#pragma once

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "ProcessUtil.h"
#include "TempHome.h"

namespace dovrel::test {

// A private session bus with an unlocked GNOME Keyring (the Secret Service) for keychain tests. The
// bus address is put into this process's environment, so it must be made before anything in the
// process first talks to the session bus. Both daemons are stopped, by their own pids, when it goes.
// `available()` is false, with `reason()`, when the tools are missing or the keyring does not come up.
class TestKeyring {
public:
    TestKeyring() {
        if (!haveCommand("dbus-daemon") || !haveCommand("gnome-keyring-daemon") || !haveCommand("dbus-send")) {
            reason_ = "dbus-daemon, dbus-send or gnome-keyring-daemon is not installed";
            return;
        }
        const auto bus = runCommand("dbus-daemon --session --fork --print-address=1 --print-pid=1 "
                                    "--address=unix:dir=" +
                                    home_.str() + " 2>/dev/null");
        const auto nl = bus.output.find('\n');
        if (bus.status != 0 || nl == std::string::npos) {
            reason_ = "dbus-daemon did not start";
            return;
        }
        address_ = bus.output.substr(0, nl);
        busPid_ = std::atoi(bus.output.c_str() + nl + 1);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);

        // The keyring's files go into the private home; the password only unlocks this throwaway one.
        const std::string env = "DBUS_SESSION_BUS_ADDRESS='" + address_ + "' HOME='" + home_.str() +
                                "' XDG_DATA_HOME='" + home_.file("share") + "' XDG_RUNTIME_DIR='" + home_.str() + "' ";
        runCommand("printf dovrel-test | " + env +
                   "gnome-keyring-daemon --unlock --components=secrets >/dev/null 2>&1");
        for (int i = 0; i < 50 && keyringPid_ <= 0; ++i) {
            const auto r = runCommand(
                "dbus-send --session --print-reply --dest=org.freedesktop.DBus / "
                "org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.secrets 2>/dev/null | "
                "awk '/uint32/{print $2}'");
            keyringPid_ = std::atoi(r.output.c_str());
            if (keyringPid_ <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (keyringPid_ <= 0) {
            reason_ = "gnome-keyring-daemon did not register the Secret Service";
            return;
        }
        ok_ = true;
    }
    ~TestKeyring() {
        if (keyringPid_ > 0) runCommand("kill " + std::to_string(keyringPid_) + " 2>/dev/null");
        if (busPid_ > 0) runCommand("kill " + std::to_string(busPid_) + " 2>/dev/null");
    }
    TestKeyring(const TestKeyring&) = delete;
    TestKeyring& operator=(const TestKeyring&) = delete;

    bool available() const { return ok_; }
    const std::string& reason() const { return reason_; }
    // Runs a shell command on the same bus (for looking at items with other tools).
    std::string onBus(const std::string& command) const {
        return runCommand("DBUS_SESSION_BUS_ADDRESS='" + address_ + "' " + command).output;
    }

private:
    TempDir home_;
    std::string address_;
    int busPid_ = 0;
    int keyringPid_ = 0;
    bool ok_ = false;
    std::string reason_;
};

} // namespace dovrel::test

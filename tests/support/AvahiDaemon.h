#pragma once

#include <chrono>
#include <string>
#include <thread>


#include "ProcessUtil.h"

namespace dovrel::test {

// Makes sure a system bus and an Avahi daemon run for the test. What it starts it leaves running: other
// test programs on the machine may have found the daemon running meanwhile and be talking to it, and
// stopping it under them would fail them. `available()` is false, with `reason()`, when the machine
// cannot run them (not root, not installed).
class AvahiDaemon {
public:
    AvahiDaemon() {
        if (!haveCommand("avahi-daemon") || !haveCommand("dbus-daemon")) {
            reason_ = "avahi-daemon or dbus-daemon is not installed";
            return;
        }
        if (runCommand("avahi-daemon --check && echo up").output == "up\n") {
            ok_ = true; // someone else runs it; leave it alone
            return;
        }
        if (::geteuid() != 0) {
            reason_ = "starting avahi-daemon needs root";
            return;
        }
        const bool busAnswers =
            runCommand("dbus-send --system --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetId "
                       ">/dev/null 2>&1 && echo up")
                .output == "up\n";
        if (!busAnswers) {
            // A socket left by a bus that died would make the new bus refuse to start.
            runCommand("mkdir -p /run/dbus && rm -f /run/dbus/system_bus_socket /run/dbus/pid && "
                       "dbus-daemon --system --fork --print-pid > /tmp/dovrel-test-dbus.pid");
        }
        // Loopback only: tests never send multicast onto a real network.
        runCommand("printf '[server]\\nallow-interfaces=lo\\nuse-ipv6=no\\n[wide-area]\\nenable-wide-area=no\\n"
                   "[publish]\\npublish-hinfo=no\\npublish-workstation=no\\n' > /tmp/dovrel-test-avahi.conf && "
                   "avahi-daemon -f /tmp/dovrel-test-avahi.conf --daemonize --no-chroot --no-rlimits 2>&1");
        for (int i = 0; i < 50 && !ok_; ++i) {
            ok_ = runCommand("avahi-daemon --check && echo up").output == "up\n";
            if (!ok_) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (!ok_) reason_ = "avahi-daemon did not start";
    }
    AvahiDaemon(const AvahiDaemon&) = delete;
    AvahiDaemon& operator=(const AvahiDaemon&) = delete;

    bool available() const { return ok_; }
    const std::string& reason() const { return reason_; }

private:
    bool ok_ = false;
    std::string reason_;
};

} // namespace dovrel::test

#pragma once

#include <csignal>
#include <sstream>
#include <string>
#include <sys/types.h>

#include "ProcessUtil.h"

namespace dovrel::test {

// A private D-Bus session bus for one test, stopped when the object goes. `available()` is false, with
// `reason()`, when dbus-daemon is missing or does not start.
class SessionBus {
public:
    SessionBus() {
        if (!haveCommand("dbus-daemon")) {
            reason_ = "dbus-daemon is not installed";
            return;
        }
        const auto r = runCommand("dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1 2>&1");
        std::istringstream lines(r.output);
        std::getline(lines, address_);
        lines >> pid_;
        if (r.status != 0 || address_.rfind("unix:", 0) != 0 || pid_ <= 0) {
            reason_ = "dbus-daemon did not start: " + r.output;
            address_.clear();
            pid_ = -1;
        }
    }
    ~SessionBus() {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
    }
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    bool available() const { return pid_ > 0; }
    const std::string& address() const { return address_; }
    const std::string& reason() const { return reason_; }

private:
    std::string address_;
    pid_t pid_ = -1;
    std::string reason_;
};

} // namespace dovrel::test

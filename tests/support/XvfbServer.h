#pragma once

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>

#include "ChildProcess.h"

namespace dovrel::test {

// A private X server (Xvfb) on a free display, for tests and benchmarks that need X: 24-bit colour,
// MIT-SHM, XFIXES, DAMAGE, XTEST, RANDR. Ended when the object goes (SIGTERM removes its lock and
// socket). `available()` is false when the machine has no Xvfb at all; `failure()` says why it did
// not start otherwise.
class XvfbServer {
public:
    explicit XvfbServer(int width = 1280, int height = 720) {
        const std::string xvfb = findProgram("Xvfb");
        if (xvfb.empty()) {
            failure_ = "Xvfb is not installed";
            available_ = false;
            return;
        }
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            failure_ = "no pipe";
            return;
        }
        ChildProcess::Options opts;
        opts.keepFds = {fds[1]};
        const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
        const bool spawned = process_.start(
            {xvfb, "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-nolisten", "tcp", "-noreset"}, opts);
        ::close(fds[1]);
        if (!spawned) {
            ::close(fds[0]);
            failure_ = "Xvfb would not start";
            return;
        }
        // Xvfb writes the display number and a newline once it accepts clients.
        std::string number;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{fds[0], POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char c = 0;
            if (::read(fds[0], &c, 1) != 1) break;
            if (c == '\n') break;
            number += c;
        }
        ::close(fds[0]);
        if (number.empty()) {
            process_.stop();
            failure_ = "Xvfb did not report a display within 10 s";
            return;
        }
        display_ = ":" + number;
    }

    bool available() const { return available_; }
    bool running() const { return !display_.empty(); }
    const std::string& display() const { return display_; }
    const std::string& failure() const { return failure_; }

private:
    ChildProcess process_;
    std::string display_;
    std::string failure_;
    bool available_ = true;
};

} // namespace dovrel::test

#pragma once

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "ChildProcess.h"
#include "GnomeSession.h"
#include "TempHome.h"

namespace dovrel::test {

template <typename F> bool pollUntil(F&& done, std::chrono::seconds deadline = std::chrono::seconds(30)) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < until) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

// The test's Wayland client (wayland_probe) on `session`, full screen in `rgb`; what reached it is in
// its log, a line each.
class WaylandProbe {
public:
    WaylandProbe(const GnomeSession& session, const std::string& rgb) {
        ChildProcess::Options o;
        o.env = session.env();
        o.env["QT_QPA_PLATFORM"] = "wayland";
        o.env["QT_WAYLAND_DISABLE_WINDOWDECORATION"] = "1";
        o.logFile = dir_.file("probe.log");
        process_.start({WAYLAND_PROBE, rgb}, o);
    }
    std::string log() const {
        std::ifstream in(dir_.file("probe.log"));
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool ready() {
        return pollUntil([&] { return log().find("ready ") != std::string::npos; });
    }
    bool saw(const std::string& line, std::chrono::seconds deadline = std::chrono::seconds(20)) {
        return pollUntil([&] { return log().find(line) != std::string::npos; }, deadline);
    }

private:
    TempDir dir_;
    ChildProcess process_;
};

} // namespace dovrel::test

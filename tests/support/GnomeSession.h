#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "ProcessUtil.h"
#include "SessionBus.h"
#include "TempHome.h"

namespace dovrel::test {

// A headless GNOME Wayland session of the test's own: a private runtime folder (0700) and session bus,
// PipeWire with WirePlumber, and mutter with virtual monitors of the sizes given, no X server. Ready
// once the compositor's remote-desktop and screen-cast interfaces are on the bus. Everything is stopped
// when the object goes. `available()` is false, with `reason()`, when a piece is not installed or does
// not come up.
struct GnomeMonitor {
    int width = 1280;
    int height = 720;
    int refresh = 0; // pictures a second; 0: the compositor's default
};

class GnomeSession {
public:
    using Monitor = GnomeMonitor;

    GnomeSession() : GnomeSession(std::vector<Monitor>{Monitor{}}) {}
    explicit GnomeSession(const std::vector<Monitor>& monitors) {
        for (const char* program : {"mutter", "pipewire", "wireplumber", "dbus-send"}) {
            if (findProgram(program).empty()) {
                reason_ = std::string(program) + " is not installed";
                return;
            }
        }
        if (!bus_.available()) {
            reason_ = bus_.reason();
            return;
        }
        env_ = {{"XDG_RUNTIME_DIR", runtime_.str()}, {"DBUS_SESSION_BUS_ADDRESS", bus_.address()},
                {"WAYLAND_DISPLAY", "wayland-0"},    {"XDG_SESSION_TYPE", "wayland"},
                {"XDG_CURRENT_DESKTOP", "GNOME"},    {"DISPLAY", ""}};
        ChildProcess::Options o;
        o.env = env_;
        o.logFile = runtime_.file("pipewire.log");
        if (!pipewire_.start({findProgram("pipewire")}, o) || !waitFor([&] { return exists("pipewire-0"); })) {
            reason_ = "pipewire did not start: " + read("pipewire.log");
            return;
        }
        o.logFile = runtime_.file("wireplumber.log");
        wireplumber_.start({findProgram("wireplumber")}, o);
        o.logFile = runtime_.file("mutter.log");
        std::vector<std::string> argv{findProgram("mutter"), "--headless", "--wayland", "--no-x11"};
        for (const Monitor& m : monitors)
            argv.insert(argv.end(), {"--virtual-monitor", std::to_string(m.width) + "x" + std::to_string(m.height) +
                                                              (m.refresh > 0 ? "@" + std::to_string(m.refresh) : "")});
        if (!mutter_.start(argv, o) || !waitFor([&] {
                return exists("wayland-0") && hasName("org.gnome.Mutter.ScreenCast") &&
                       hasName("org.gnome.Mutter.RemoteDesktop");
            })) {
            reason_ = "mutter did not come up: " + read("mutter.log");
            return;
        }
        ready_ = true;
    }
    GnomeSession(const GnomeSession&) = delete;
    GnomeSession& operator=(const GnomeSession&) = delete;

    bool available() const { return ready_; }
    const std::string& reason() const { return reason_; }
    // What a program of this session needs in its environment (DISPLAY emptied: no X server here).
    const std::map<std::string, std::string>& env() const { return env_; }
    const std::string& busAddress() const { return bus_.address(); }
    std::string runtimeDir() const { return runtime_.str(); }
    std::string mutterLog() const { return read("mutter.log"); }
    pid_t compositorPid() const { return mutter_.pid(); }

private:
    template <typename F> static bool waitFor(F&& done) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < until) {
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return done();
    }
    bool exists(const std::string& name) const { return std::filesystem::exists(runtime_.path() / name); }
    std::string read(const std::string& name) const {
        std::ifstream in(runtime_.file(name));
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool hasName(const std::string& name) const {
        const auto r = runCommand("dbus-send --bus='" + bus_.address() +
                                  "' --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "
                                  "org.freedesktop.DBus.NameHasOwner string:" +
                                  name + " 2>/dev/null");
        return r.output.find("boolean true") != std::string::npos;
    }

    TempDir runtime_;
    SessionBus bus_;
    std::map<std::string, std::string> env_;
    ChildProcess pipewire_;
    ChildProcess wireplumber_;
    ChildProcess mutter_;
    bool ready_ = false;
    std::string reason_;
};

} // namespace dovrel::test

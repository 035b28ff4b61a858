// What DovrelController costs while nothing moves, with software OpenGL (as on a computer without a
// graphics card, or in a virtual machine): the program itself, started as a user starts it, its CPU
// (from /proc, as a share of one core) and the frames Qt Quick renders per second (the render loop's
// own timing lines), in two scenes on each desktop:
//
//   deck           the demo deck ("-demo": one awake machine, whose status dot breathes, beside an
//                  asleep and an offline one), left alone;
//   still session  a session with the real DovrelAgent streaming a screen where nothing moves (a private
//                  Xvfb of its own, which the agent grabs at least once a second), left alone once the
//                  picture shows and the controls have dimmed;
//
// and each of them again while another window covers the whole screen (on X11 a plain window of another
// client, on GNOME a full-screen Wayland client); then the screens a session waits on, each left alone
// once its controls have dimmed:
//
//   reconnecting   the still session once its agent stopped answering (frozen, SIGSTOP), re-dialled;
//   agent stopped  a session whose agent then ended: the window waits for it to start again;
//   refused        a pairing link with a wrong code: "Couldn't connect" and why, for as long as it stays;
//   reaching       a pairing link to an address that takes no connection (a listener whose queue is full),
//                  measured for what is left of the 12 s the dial has.
//
// The desktops: a private Xvfb (GLX through Mesa's software rasteriser, no window manager), and a
// headless GNOME Wayland session (mutter, EGL forced to software; skipped, with the reason, where one
// cannot run). "--controller PATH" measures another build of the program (an older one, for a before and
// after); "--seconds N" sets the measuring window (10 s). The load average goes beside every figure;
// "--isolated" runs it all ahead of the machine's other work. Prints figures; asserts nothing.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <xcb/xcb.h>

#include "MachineLoad.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FileText.h"
#include "tests/support/FreeUdpPort.h"
#include "tests/support/GnomeSession.h"
#include "tests/support/TempHome.h"
#include "tests/support/XvfbServer.h"

using namespace std::chrono_literals;
using dovrel::test::ChildProcess;
using dovrel::test::freeUdpPort;
using dovrel::test::lastLines;
using dovrel::test::readFile;
using dovrel::test::TempDir;
using Env = std::map<std::string, std::string>;

namespace {

bool waitFor(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        if (done()) return true;
        std::this_thread::sleep_for(50ms);
    }
    return done();
}

// Frames the render loop reports as rendered in a log: one line each, from either render loop.
std::size_t framesIn(const std::string& log) {
    std::size_t n = 0;
    for (std::size_t at = log.find("frame rendered"); at != std::string::npos; at = log.find("frame rendered", at + 1))
        ++n;
    return n;
}

// What the scene graph said about itself at start-up: the render loop and the OpenGL renderer.
std::string graphicsOf(const std::string& log) {
    std::smatch loop, renderer;
    std::string out;
    if (std::regex_search(log, loop, std::regex(R"((\w+) render loop)"))) out = loop[1].str() + " render loop";
    if (std::regex_search(log, renderer, std::regex(R"(RENDERER: ([^\n]*?) VERSION)")))
        out += (out.empty() ? "" : ", ") + renderer[1].str();
    return out.empty() ? "graphics not reported" : out;
}

// The parent and the name of a process, from /proc.
std::pair<pid_t, std::string> parentAndName(pid_t pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const auto open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close + 4 > stat.size()) return {-1, {}};
    return {static_cast<pid_t>(std::atol(stat.c_str() + close + 4)), stat.substr(open + 1, close - open - 1)};
}

// A process named `name` that descends from `ancestor`, or -1.
pid_t descendantNamed(pid_t ancestor, const std::string& name) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string file = entry.path().filename().string();
        if (file.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = static_cast<pid_t>(std::stol(file));
        if (parentAndName(pid).second != name) continue;
        for (pid_t up = parentAndName(pid).first; up > 1; up = parentAndName(up).first)
            if (up == ancestor) return pid;
    }
    return -1;
}

// The real agent on a still X screen of its own, on a terminal (script), the only place it prints its
// pairing code; the local network on, its video sent to `videoPort`.
class StillAgent {
public:
    explicit StillAgent(uint16_t videoPort) {
        if (!screen_.running()) {
            why_ = "no X server for the agent: " + screen_.failure();
            return;
        }
        if (dovrel::test::findProgram("script").empty()) {
            why_ = "no script(1) to give the agent a terminal";
            return;
        }
        std::filesystem::create_directories(home_.path() / ".config/Dovrel");
        std::ofstream(home_.file(".config/Dovrel/relay.json")) << "{\"lan\": true}";
        ChildProcess::Options o;
        o.env = {{"HOME", home_.str()},
                 {"XDG_CONFIG_HOME", home_.file(".config")},
                 {"DISPLAY", screen_.display()},
                 {"DOVREL_CONTROL_PORT", "0"},
                 {"DOVREL_INPUT_PORT", "0"},
                 {"DOVREL_VIDEO_PORT", std::to_string(videoPort)},
                 {"DBUS_SESSION_BUS_ADDRESS", "disabled:"},
                 {"DBUS_SYSTEM_BUS_ADDRESS", "disabled:"}};
        o.logFile = home_.file("agent.out");
        if (!process_.start({dovrel::test::findProgram("script"), "-qfec", std::string("'") + DOVREL_AGENT_BINARY + "'",
                             "/dev/null"},
                            o)) {
            why_ = "DovrelAgent would not start";
            return;
        }
        static const std::regex ports(R"(CONTROL tcp/(\d+), INPUT udp/(\d+))");
        static const std::regex pairing(R"(PAIRING CODE: (\d+))");
        std::smatch m, c;
        if (!waitFor(
                [&] {
                    const std::string log = this->log();
                    return std::regex_search(log, m, ports) && std::regex_search(log, c, pairing);
                },
                30s)) {
            why_ = "the agent did not report its ports and code; its log:\n" + log();
            return;
        }
        controlPort_ = static_cast<uint16_t>(std::stoi(m[1]));
        inputPort_ = static_cast<uint16_t>(std::stoi(m[2]));
        code_ = c[1];
    }

    const std::string& why() const { return why_; }
    uint16_t controlPort() const { return controlPort_; }
    uint16_t inputPort() const { return inputPort_; }
    const std::string& code() const { return code_; }
    std::string log() const { return readFile(home_.file("agent.out")); }
    // The agent itself, somewhere under script.
    pid_t pid() const { return descendantNamed(process_.pid(), "DovrelAgent"); }

private:
    dovrel::test::XvfbServer screen_{1280, 720};
    TempDir home_;
    ChildProcess process_;
    std::string why_;
    uint16_t controlPort_ = 0, inputPort_ = 0;
    std::string code_;
};

// A plain window of another X client over the whole screen, for as long as it lives.
class XCover {
public:
    explicit XCover(const std::string& display) : c_(xcb_connect(display.c_str(), nullptr)) {
        if (xcb_connection_has_error(c_)) return;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
        window_ = xcb_generate_id(c_);
        const uint32_t values[] = {screen->black_pixel, 1}; // background, override-redirect
        xcb_create_window(c_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, screen->width_in_pixels,
                          screen->height_in_pixels, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(c_, window_);
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    }
    ~XCover() { xcb_disconnect(c_); }
    XCover(const XCover&) = delete;
    XCover& operator=(const XCover&) = delete;

private:
    xcb_connection_t* c_;
    xcb_window_t window_ = 0;
};

// The test's full-screen Wayland client in one colour, for as long as it lives.
class WaylandCover {
public:
    explicit WaylandCover(const Env& env) {
        ChildProcess::Options o;
        o.env = env;
        o.env["QT_WAYLAND_DISABLE_WINDOWDECORATION"] = "1";
        o.logFile = dir_.file("cover.log");
        if (process_.start({WAYLAND_PROBE, "101010"}, o))
            waitFor([&] { return readFile(dir_.file("cover.log")).find("ready ") != std::string::npos; }, 20s);
    }

private:
    TempDir dir_;
    ChildProcess process_;
};

// A TCP port on the loopback that never takes a connection: its listener's queue is full (one connection
// held, never accepted), so further SYNs are dropped and a dial stays on its way until it gives up.
class DeafPort {
public:
    DeafPort() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(listener_, 0) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        port_ = ntohs(a.sin_port);
        ::connect(filler_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    ~DeafPort() {
        ::close(filler_);
        ::close(listener_);
    }
    DeafPort(const DeafPort&) = delete;
    DeafPort& operator=(const DeafPort&) = delete;
    uint16_t port() const { return port_; }

private:
    int listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int filler_ = ::socket(AF_INET, SOCK_STREAM, 0);
    uint16_t port_ = 0;
};

struct Desktop {
    std::string title;
    Env env;
    std::function<std::shared_ptr<void>()> coverAll; // another window over the whole screen
};

struct Figures {
    double cpuPercent = 0, framesPerSecond = 0, agentCpuPercent = -1;
};

// One launch of the controller with `args`, on `desktop`, measured for `seconds` once `ready` holds in
// its log and `settle` has passed.
class Launch {
public:
    Launch(const std::string& binary, const Desktop& desktop, const std::string& home, const Env& extra,
           const std::vector<std::string>& args)
        : log_(home + "/controller.out") {
        std::filesystem::remove(log_);
        ChildProcess::Options o;
        o.env = desktop.env;
        o.env["HOME"] = home;
        o.env["XDG_CONFIG_HOME"] = home + "/.config";
        o.env["XDG_DATA_HOME"] = home + "/.local/share";
        // Secrets in files, the same for every run; nothing on a desktop bus.
        o.env["DBUS_SESSION_BUS_ADDRESS"] = "disabled:";
        // The render loop's line per frame, and which loop and renderer drew.
        o.env["QT_LOGGING_RULES"] =
            "qt.scenegraph.time.renderloop.debug=true;qt.scenegraph.general.debug=true;qt.rhi.general.debug=true";
        for (const auto& [k, v] : extra)
            o.env[k] = v;
        o.logFile = log_;
        std::vector<std::string> argv{binary};
        argv.insert(argv.end(), args.begin(), args.end());
        started_ = process_.start(argv, o);
    }

    bool started() const { return started_; }
    std::string log() const { return readFile(log_); }
    bool running() { return process_.running(); }

    std::optional<Figures> measure(const std::function<bool(const std::string&)>& ready, std::chrono::seconds settle,
                                   std::chrono::seconds seconds, pid_t agent, std::string& why) {
        if (!waitFor([&] { return !process_.running() || ready(log()); }, 45s) || !process_.running()) {
            why = "the controller did not reach the scene; its log ends:\n" + lastLines(log(), 12);
            return std::nullopt;
        }
        std::this_thread::sleep_for(settle);
        const pid_t pid = process_.pid();
        const double cpu0 = dovrel::bench::cpuSecondsOf(pid);
        const double agent0 = agent > 0 ? dovrel::bench::cpuSecondsOf(agent) : 0;
        const std::size_t frames0 = framesIn(log());
        const auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(seconds);
        const double cpu1 = dovrel::bench::cpuSecondsOf(pid);
        const double agent1 = agent > 0 ? dovrel::bench::cpuSecondsOf(agent) : 0;
        const std::size_t frames1 = framesIn(log());
        const double span = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (!process_.running()) {
            why = "the controller ended while measured; its log ends:\n" + lastLines(log(), 12);
            return std::nullopt;
        }
        Figures f;
        f.cpuPercent = 100 * (cpu1 - cpu0) / span;
        f.framesPerSecond = static_cast<double>(frames1 - frames0) / span;
        if (agent > 0) f.agentCpuPercent = 100 * (agent1 - agent0) / span;
        return f;
    }

private:
    std::string log_;
    ChildProcess process_;
    bool started_ = false;
};

void row(const char* scene, const std::optional<Figures>& f, const std::string& why) {
    if (!f) {
        std::printf("  %-16s cannot run: %s\n", scene, why.c_str());
        return;
    }
    std::printf("  %-16s CPU %6.1f %% of a core   frames %5.1f per second", scene, f->cpuPercent, f->framesPerSecond);
    if (f->agentCpuPercent >= 0) std::printf("   (the agent: %.1f %%)", f->agentCpuPercent);
    std::printf("   load %s\n", dovrel::bench::loadAverage().c_str());
    std::fflush(stdout);
}

// One scene as it is, once `ready` holds and `settle` has passed; whether it could be measured.
bool rowAlone(const char* scene, Launch& launch, const std::function<bool(const std::string&)>& ready,
              std::chrono::seconds settle, std::chrono::seconds seconds, pid_t agent = -1) {
    std::string why;
    if (!launch.started()) {
        row(scene, std::nullopt, "the program would not start");
        return false;
    }
    const std::optional<Figures> f = launch.measure(ready, settle, seconds, agent, why);
    row(scene, f, why);
    return f.has_value();
}

// The scene as it is, then with every window covered.
void rows(const char* scene, const char* covered, Launch& launch, const Desktop& desktop,
          const std::function<bool(const std::string&)>& ready, std::chrono::seconds settle,
          std::chrono::seconds seconds, pid_t agent) {
    if (!rowAlone(scene, launch, ready, settle, seconds, agent)) return;
    const std::shared_ptr<void> cover = desktop.coverAll();
    rowAlone(
        covered, launch, [](const std::string&) { return true; }, 2s, seconds, agent);
}

bool contains(const std::string& log, const char* text) { return log.find(text) != std::string::npos; }

} // namespace

int main(int argc, char** argv) {
    const std::string mode = dovrel::bench::takeIsolatedOption(argc, argv);
    std::string binary = DOVREL_CONTROLLER_BINARY;
    auto seconds = 10s;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--controller") binary = argv[i + 1];
        if (name == "--seconds") seconds = std::chrono::seconds(std::max(1, std::atoi(argv[i + 1])));
    }
    if (::access(binary.c_str(), X_OK) != 0) {
        std::printf("controller at rest: cannot run: no program at %s\n", binary.c_str());
        return 0;
    }
    std::printf("controller at rest: %s\n", binary.c_str());
    std::printf("scheduling: %s; load average %s, %u hardware threads; measured over %lld s\n", mode.c_str(),
                dovrel::bench::loadAverage().c_str(), std::thread::hardware_concurrency(),
                static_cast<long long>(seconds.count()));
    std::fflush(stdout);

    const uint16_t videoPort = freeUdpPort();
    StillAgent agent(videoPort);

    // The controller's own desktops, apart from the agent's screen so that the agent never grabs them.
    dovrel::test::XvfbServer xvfb(1920, 1080);
    dovrel::test::GnomeSession gnome(std::vector<dovrel::test::GnomeMonitor>{{1920, 1080, 60}});
    std::vector<std::pair<Desktop, std::string>> desktops;
    const std::string x11 = xvfb.display();
    desktops.push_back({{"X11: a private Xvfb at 1920x1080, no window manager, GLX in software",
                         {{"DISPLAY", x11}, {"QT_QPA_PLATFORM", "xcb"}, {"LIBGL_ALWAYS_SOFTWARE", "1"}},
                         [x11] { return std::make_shared<XCover>(x11); }},
                        xvfb.running() ? "" : xvfb.failure()});
    Env wayland = gnome.env();
    wayland["QT_QPA_PLATFORM"] = "wayland";
    wayland["LIBGL_ALWAYS_SOFTWARE"] = "1";
    desktops.push_back({{"GNOME Wayland: headless mutter at 1920x1080@60, EGL in software", wayland,
                         [wayland] { return std::make_shared<WaylandCover>(wayland); }},
                        gnome.available() ? "" : gnome.reason()});

    // One controller home for the sessions: the first pairs by the agent's code, the next come back by key.
    TempDir sessionHome;
    bool paired = false;
    for (const auto& [desktop, unavailable] : desktops) {
        std::printf("\n== %s\n", desktop.title.c_str());
        if (!unavailable.empty()) {
            std::printf("  cannot run: %s\n", unavailable.c_str());
            continue;
        }
        {
            TempDir deckHome;
            Launch deck(binary, desktop, deckHome.str(), {}, {"-demo"});
            rows(
                "deck", "deck, covered", deck, desktop, [](const std::string& log) { return framesIn(log) > 0; }, 4s,
                seconds, -1);
            std::printf("  (%s)\n", graphicsOf(deck.log()).c_str());
        }
        if (!agent.why().empty()) {
            row("still session", std::nullopt, agent.why());
            continue;
        }
        const Env sessionEnv{{"DOVREL_VIDEO_PORT", std::to_string(videoPort)},
                             {"DOVREL_INPUT_PORT", std::to_string(agent.inputPort())}};
        const auto connected = [](const std::string& log) { return contains(log, "phase → connected"); };
        {
            std::vector<std::string> args{"-autoHost", "127.0.0.1:" + std::to_string(agent.controlPort())};
            if (!paired) args.insert(args.end(), {"-pairingCode", agent.code()});
            Launch session(binary, desktop, sessionHome.str(), sessionEnv, args);
            // Connected, then the picture, the overlay's fade and the controls' dimming (3.2 s) all done.
            rows("still session", "still, covered", session, desktop, connected, 7s, seconds, agent.pid());
            paired = paired || connected(session.log());
            if (paired && session.running()) {
                // The agent stops answering: after 6 s of silence the window re-dials, and waits.
                const pid_t frozen = agent.pid();
                ::kill(frozen, SIGSTOP);
                rowAlone(
                    "reconnecting", session, [](const std::string&) { return true; }, 10s, seconds);
                ::kill(frozen, SIGCONT);
            }
        }
        {
            // Its own agent, which ends once the session stands.
            StillAgent lone(videoPort);
            if (!lone.why().empty()) {
                row("agent stopped", std::nullopt, lone.why());
            } else {
                TempDir home;
                Launch session(
                    binary, desktop, home.str(),
                    {{"DOVREL_VIDEO_PORT", std::to_string(videoPort)},
                     {"DOVREL_INPUT_PORT", std::to_string(lone.inputPort())}},
                    {"-autoHost", "127.0.0.1:" + std::to_string(lone.controlPort()), "-pairingCode", lone.code()});
                const bool stood = waitFor([&] { return !session.running() || connected(session.log()); }, 45s);
                if (stood && session.running()) ::kill(lone.pid(), SIGTERM);
                rowAlone(
                    "agent stopped", session,
                    [](const std::string& log) { return contains(log, "DOVRELÆ stopped there"); }, 4s, seconds);
            }
        }
        {
            // A code the agent did not give: refused once its wait for a wrong code is over.
            TempDir home;
            const std::string wrong = agent.code() == "000000" ? "111111" : "000000";
            Launch session(binary, desktop, home.str(), sessionEnv,
                           {"-autoLink", "dovrel://pair?host=127.0.0.1:" + std::to_string(agent.controlPort()) +
                                             "&code=" + wrong + "&name=Studio"});
            rowAlone(
                "refused", session, [](const std::string& log) { return contains(log, "phase → rejected"); }, 4s,
                seconds);
        }
        {
            DeafPort deaf;
            TempDir home;
            Launch session(binary, desktop, home.str(), sessionEnv,
                           {"-autoLink", "dovrel://pair?host=127.0.0.1:" + std::to_string(deaf.port()) +
                                             "&code=123456&name=Studio"});
            // The dial gives up after 12 s: measured between the controls' dimming and then.
            rowAlone(
                "reaching", session, [](const std::string& log) { return contains(log, "phase → connecting"); }, 4s,
                std::min(seconds, 7s));
        }
    }
    return 0;
}

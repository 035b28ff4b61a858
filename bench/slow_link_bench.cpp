// The picture on a slow link, end to end on loopback: the real DovrelAgent streams a busy 1920x1080
// desktop (a private Xvfb, 60 pictures a second, the whole screen moving) to the controller's client
// through an in-process shaper on the video's way: a token bucket at the link's rate with a 4 kB burst
// and a queue of 50 ms behind it, beyond which datagrams are dropped, as a router's rate limiter shapes
// a slow uplink. Each rate is a session of its own, begun under the shaping: unshaped, 12, 3 and
// 1 Mbit/s, 30 s each. Figures: whole pictures shown a second (decoded on an unbroken chain), the
// longest time without a new whole picture, both over the whole session and from its 10th second on,
// what the agent sent and what got through, and the agent's changes of rate. After the 3 and 1 Mbit/s
// sessions the shaping is lifted and the time until the agent sends above 6 Mbit/s again is measured
// (its rate over a second, as the shaper counts it).
//
// "--agent PATH" measures another DovrelAgent (for example one built before a change), "--only 3" the
// sessions whose name begins so, "--at 600" one session at 600 kbit/s instead, "--agent-log" prints
// what it logged during each session and what each of its seconds brought; "--isolated" runs it all ahead of the
// machine's other work; "--sound" plays a tone on the agent's computer all along (a private PulseAudio) and
// adds the share of each session's seconds of sound that reached the client's player. "--kernel" runs the
// other way instead: the link shaped by the kernel between two network namespaces, to a foreign controller
// (KernelLinkRows.cpp). Prints figures; asserts nothing.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QCoreApplication>

#include "BenchClient.h"
#include "BusyScene.h"
#include "EventLoopWait.h"
#include "KernelLinkRows.h"
#include "MachineLoad.h"
#include "PictureTimes.h"
#include "SoundArrival.h"
#include "controller/client/session/WEXClient.h"
#include "controller/client/video/VideoSurface.h"
#include "tests/controller/media/AgentUnderTest.h"
#include "tests/support/FreeUdpPort.h"
#include "tests/support/LinkShaper.h"
#include "tests/support/TempHome.h"
#include "tests/support/XvfbServer.h"

using namespace dovrel;
using namespace dovrel::controller;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int W = 1920, H = 1080;
constexpr auto sessionLength = 30s;
constexpr auto settled = 10s; // the agent has found the link by then
constexpr auto climbLimit = 60s;
constexpr double climbTarget = 6e6;

using bench::longestFreeze;
using bench::seconds;

// The pictures the client showed: when, and whether whole.
struct Shown {
    std::mutex lock;
    std::vector<std::pair<Clock::time_point, bool>> pictures;
    void add(const VideoPicture& p) {
        const std::lock_guard g(lock);
        pictures.emplace_back(p.decodedAt, p.whole);
    }
    std::vector<Clock::time_point> wholeBetween(Clock::time_point from, Clock::time_point to) {
        const std::lock_guard g(lock);
        std::vector<Clock::time_point> out;
        for (const auto& [at, whole] : pictures)
            if (whole && at >= from && at < to) out.push_back(at);
        return out;
    }
    std::size_t allBetween(Clock::time_point from, Clock::time_point to) {
        const std::lock_guard g(lock);
        return static_cast<std::size_t>(std::count_if(pictures.begin(), pictures.end(),
                                                      [&](const auto& p) { return p.first >= from && p.first < to; }));
    }
};

// The shaper's totals four times a second, for rates over any stretch.
struct Meter {
    struct Sample {
        Clock::time_point at;
        dovrel::test::LinkShaper::Totals totals;
    };
    std::vector<Sample> samples;
    void take(const dovrel::test::LinkShaper& shaper) { samples.push_back({Clock::now(), shaper.totals()}); }
    const Sample& at(Clock::time_point t) const {
        for (const Sample& s : samples)
            if (s.at >= t) return s;
        return samples.back();
    }
    // Bits a second over [from, to].
    double offered(Clock::time_point from, Clock::time_point to) const {
        const Sample &a = at(from), &b = at(to);
        return static_cast<double>(b.totals.offeredBytes - a.totals.offeredBytes) * 8 / seconds(b.at - a.at);
    }
    double passed(Clock::time_point from, Clock::time_point to) const {
        const Sample &a = at(from), &b = at(to);
        return static_cast<double>(b.totals.passedBytes - a.totals.passedBytes) * 8 / seconds(b.at - a.at);
    }
    double droppedShare(Clock::time_point from, Clock::time_point to) const {
        const Sample &a = at(from), &b = at(to);
        const auto offered = b.totals.offeredDatagrams - a.totals.offeredDatagrams;
        return offered ? 100.0 * static_cast<double>(b.totals.droppedDatagrams - a.totals.droppedDatagrams) /
                             static_cast<double>(offered)
                       : 0;
    }
};

// Pumps the event loop for `d`, sampling the shaper meanwhile.
void run(Meter& meter, const dovrel::test::LinkShaper& shaper, Clock::duration d) {
    const auto until = Clock::now() + d;
    while (Clock::now() < until) {
        bench::pump(250ms);
        meter.take(shaper);
    }
}

struct Row {
    std::string name;
    double wholePerSecond = 0, wholeLaterPerSecond = 0;
    std::size_t whole = 0, shown = 0;
    double freeze = 0, freezeLater = 0;
    double offered = 0, passed = 0, dropped = 0;
    std::size_t changes = 0;
    std::string climb = "-";
    std::optional<double> sound, soundLater; // share of the seconds of sound that arrived
};

bool showAgentLog = false;
bench::SoundArrival* soundArrival = nullptr; // "--sound"

void measure(const std::string& name, int64_t rate, bool climb, WEXClient& client,
             controller::test::AgentUnderTest& agent, dovrel::test::LinkShaper& shaper, Shown& shown,
             std::vector<Row>& rows) {
    std::printf("\n== %s\n  load average at the start: %s\n", name.c_str(), bench::loadAverage().c_str());
    std::fflush(stdout);
    shaper.setRate(rate);
    const std::string logBefore = agent.log();
    // Changes of the rate itself, not probes with copies of the pieces.
    const std::size_t linesBefore = bench::countOccurrences(logBefore, "• link: sending");
    client.connectToHost(QString("127.0.0.1:%1").arg(agent.controlPort()));
    if (!bench::waitFor([&] { return client.phaseKind() == PhaseKind::connected; }, 15s)) {
        std::printf("  cannot run: no session (status \"%s\")\n", client.status().toStdString().c_str());
        return;
    }
    Meter meter;
    meter.take(shaper);
    const auto start = Clock::now();
    run(meter, shaper, sessionLength);
    const auto end = Clock::now();
    const auto later = start + settled;

    Row row;
    row.name = name;
    const auto whole = shown.wholeBetween(start, end);
    const auto wholeLater = shown.wholeBetween(later, end);
    row.whole = whole.size();
    row.shown = shown.allBetween(start, end);
    row.wholePerSecond = static_cast<double>(whole.size()) / seconds(end - start);
    row.wholeLaterPerSecond = static_cast<double>(wholeLater.size()) / seconds(end - later);
    row.freeze = longestFreeze(whole, start, end);
    row.freezeLater = longestFreeze(wholeLater, later, end);
    row.offered = meter.offered(later, end);
    row.passed = meter.passed(later, end);
    row.dropped = meter.droppedShare(later, end);

    if (climb) {
        shaper.setRate(0);
        const auto lifted = Clock::now();
        std::optional<double> took;
        while (!took && Clock::now() - lifted < climbLimit) {
            run(meter, shaper, 250ms);
            const auto now = Clock::now();
            if (now - lifted >= 1s && meter.offered(now - 1s, now) > climbTarget) took = seconds(now - lifted);
        }
        char text[64];
        if (took)
            std::snprintf(text, sizeof text, "%.1f s", *took);
        else
            std::snprintf(text, sizeof text, "over %.0f s", seconds(climbLimit));
        row.climb = text;
    }
    const std::string log = agent.log();
    row.changes = bench::countOccurrences(log, "• link: sending") - linesBefore;

    std::printf("  whole pictures: %zu in %.0f s (%.1f a second; %.1f a second from the %.0fth second on), %zu shown "
                "in all\n",
                row.whole, seconds(end - start), row.wholePerSecond, row.wholeLaterPerSecond, seconds(settled),
                row.shown);
    std::printf("  longest without a whole picture: %.1f s (%.1f s from the %.0fth second on)\n", row.freeze,
                row.freezeLater, seconds(settled));
    std::printf("  from the %.0fth second on: the agent sent %.0f kbit/s, %.0f kbit/s got through, %.1f %% of "
                "datagrams dropped\n",
                seconds(settled), row.offered / 1000, row.passed / 1000, row.dropped);
    std::printf("  the agent's changes of rate: %zu\n", row.changes);
    if (climb) std::printf("  above 6 Mbit/s again after the shaping ended: %s\n", row.climb.c_str());
    if (soundArrival) {
        row.sound = soundArrival->shareBetween(start, end);
        row.soundLater = soundArrival->shareBetween(later, end);
        std::printf("  sound that arrived: %.0f %% of the session's seconds (%.0f %% from the %.0fth second on)\n",
                    *row.sound * 100, *row.soundLater * 100, seconds(settled));
    }
    // The agent's own words on its rate during the session.
    std::size_t from = log.size();
    for (std::size_t i = 0; i < row.changes && from != std::string::npos && from > 0; ++i)
        from = log.rfind("• link: ", from - 1);
    if (row.changes > 0 && from != std::string::npos) {
        std::printf("  its lines:\n");
        for (std::size_t at = from; at != std::string::npos; at = log.find("• link: ", at + 1)) {
            const auto lineStart = log.rfind('\n', at) + 1;
            std::printf("    %s\n", log.substr(lineStart, log.find('\n', at) - lineStart).c_str());
        }
    }
    if (showAgentLog) {
        std::printf("  its log:\n%s\n", log.substr(std::min(log.size(), logBefore.size())).c_str());
        // Second by second: what the agent sent, what was dropped, the pictures shown and how many whole.
        std::printf("  second by second (sent kbit/s, datagrams dropped, pictures shown / whole):\n");
        for (auto t = start; t + 1s <= meter.samples.back().at; t += 1s) {
            const auto &a = meter.at(t), &b = meter.at(t + 1s);
            std::printf("    %3.0f s: %6.0f kbit/s  %4llu dropped  %3zu / %3zu\n", seconds(t - start),
                        meter.offered(t, t + 1s) / 1000,
                        static_cast<unsigned long long>(b.totals.droppedDatagrams - a.totals.droppedDatagrams),
                        shown.allBetween(t, t + 1s), shown.wholeBetween(t, t + 1s).size());
        }
    }
    std::fflush(stdout);
    rows.push_back(row);
    client.disconnectSession();
    bench::pump(1500ms);
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = dovrel::bench::takeIsolatedOption(argc, argv);
    if (dovrel::bench::wantsKernelLinks(argc, argv)) return dovrel::bench::runKernelLinks(argc, argv, mode);
    std::string binary = DOVREL_AGENT_BINARY;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--agent") binary = argv[i + 1];
    std::string only; // "--only 3": the 3 Mbit/s session alone
    int64_t at = 0;   // "--at 600": a session at 600 kbit/s alone
    std::optional<bench::SoundArrival> sound;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--sound" && !sound) sound.emplace();
        if (std::string(argv[i]) == "--agent-log") showAgentLog = true;
        if (std::string(argv[i]) == "--only" && i + 1 < argc) only = argv[i + 1];
        if (std::string(argv[i]) == "--at" && i + 1 < argc) at = std::stoll(argv[i + 1]);
    }
    dovrel::test::XvfbServer xvfb(W, H);
    if (!xvfb.running()) {
        std::printf("slow link: cannot run: %s\n", xvfb.failure().c_str());
        return 0;
    }
    const pid_t painter = ::fork();
    if (painter == 0) bench::runBusyPainter(xvfb.display(), W, H);

    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    std::printf("slow link: %s at %dx%d, busy desktop on Xvfb %s, loopback through a shaper (4 kB burst, 50 ms "
                "queue)\n",
                binary.c_str(), W, H, xvfb.display().c_str());
    std::printf("scheduling: %s; %u hardware threads\n", mode.c_str(), std::thread::hardware_concurrency());
    dovrel::test::TempDir dir;
    ClientConfig config = bench::benchClientConfig(dir, dovrel::test::freeUdpPort());
    if (sound && sound->running()) {
        config.audioOutputs = sound->outputs();
        soundArrival = &*sound;
        std::printf("sound: a 440 Hz tone on the agent's PulseAudio all along\n");
    } else if (sound) {
        std::printf("sound: cannot play: %s\n", sound->failure().c_str());
    }
    WEXClient client(config, std::make_shared<bench::NoRelayAccount>());
    Shown shown;
    auto surface = std::make_shared<VideoSurface>();
    surface->setObserver([&shown](const VideoPicture& p) { shown.add(p); });
    client.attachVideoSurface(surface);
    dovrel::test::LinkShaper shaper(config.videoPort);

    controller::test::AgentUnderTest agent;
    // The client reads its identity off the main thread just after it is made.
    bench::waitFor([&] { return client.security().hasIdentity(); }, 10s);
    const auto& pub = client.security().identity().publicKey();
    client.security().trustAgent(agent.publicKey(), agent.room());
    std::string why;
    std::vector<Row> rows;
    if (!agent.start(binary, wex::ByteView(pub.data(), pub.size()), shaper.port(),
                     {{"DISPLAY", xvfb.display()}, {"DOVREL_H264", "1"}}, why)) {
        std::printf("  cannot run: %s\n", why.c_str());
    } else {
        std::vector<std::pair<std::string, int64_t>> links = {
            {"unshaped", 0}, {"12 Mbit/s", 12'000'000}, {"3 Mbit/s", 3'000'000}, {"1 Mbit/s", 1'000'000}};
        if (at > 0) links = {{std::to_string(at) + " kbit/s", at * 1000}};
        for (const auto& [name, rate] : links)
            if (only.empty() || name.starts_with(only))
                measure(name, rate, rate > 0 && rate < 12'000'000, client, agent, shaper, shown, rows);
    }
    std::printf("\n| link | whole pictures in 30 s | whole a second (from 10 s) | longest freeze (from 10 s) | "
                "sent / through (kbit/s) | dropped | rate changes | back above 6 Mbit/s |%s\n",
                soundArrival ? " sound arrived (from 10 s) |" : "");
    std::printf("|---|---|---|---|---|---|---|---|%s\n", soundArrival ? "---|" : "");
    for (const Row& r : rows) {
        std::printf("| %s | %zu | %.1f (%.1f) | %.1f s (%.1f s) | %.0f / %.0f | %.1f %% | %zu | %s |", r.name.c_str(),
                    r.whole, r.wholePerSecond, r.wholeLaterPerSecond, r.freeze, r.freezeLater, r.offered / 1000,
                    r.passed / 1000, r.dropped, r.changes, r.climb.c_str());
        if (r.sound) std::printf(" %.0f %% (%.0f %%) |", *r.sound * 100, *r.soundLater * 100);
        std::printf("\n");
    }
    ::kill(painter, SIGTERM);
    ::waitpid(painter, nullptr, 0);
    return 0;
}

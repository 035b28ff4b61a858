// The picture on links the kernel shapes ("slow_link_bench --kernel"): the real DovrelAgent runs in a
// network namespace of its own (ip netns exec) and streams a busy 1920x1080 desktop (a private Xvfb, the
// whole screen moving at 60 pictures a second) over a veth pair to a foreign controller in a second
// namespace, which asks for keyframes only as the protocol's controller must (ForeignController.h). The
// link is shaped on the agent's side by tc tbf (4 kB burst, 50 ms queue); random loss is made by the
// controller dropping a share of the video datagrams. Each row is a session of its own with a fresh
// agent, begun under the shaping, once with H.264 and once with HEVC.
//
// Figures, over the row's window (from the 10th second, or the 30th to the 90th for the 90 s rows): whole
// pictures a second (every piece came), clean ones (decoded without concealment on an unbroken chain),
// the longest time without a whole picture, Mbit/s of whole pictures received, Mbit/s the agent sent
// (handed to IP in its namespace, before the shaper), the share of packets the shaper dropped, the
// agent's changes of rate ("• link: sending" lines; its probes with copies of the pieces are none), keyframe
// asks; after the 3 and 1 Mbit/s rows the limit is
// lifted and the time until over 6 Mbit/s cross the veth in a second is measured. "--sound" plays a tone
// (PulseAudio's module-sine into a null sink) on the agent's side: the share of sound that arrived is the
// seconds of sound received (each frame's samples at the rate it announces) over the window's seconds.
//
// "--only 3M,1M" runs those rows (ids: unshaped, loss0.5, loss1, 5M, 5M-loss0.5, 3M, 1M), "--codec h264"
// or "--codec hevc" one codec, "--seconds N" shortens every row to N seconds (the window scaled alike),
// "--seed N" seeds the random loss, "--agent PATH" measures another DovrelAgent, "--agent-env NAME=VALUE"
// sets its environment, "--agent-log" adds the agent's log and each row second by second. The HEVC rows
// run the agent with DOVREL_HEVC, so that libx265 encodes where no graphics card does; an agent that knows
// no such setting sends H.264 to a controller that asks for HEVC: the figures say which codec came. Needs root and tc;
// skips with a reason otherwise.
#include "KernelLinkRows.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "BusyScene.h"
#include "ForeignController.h"
#include "KernelLink.h"
#include "MachineLoad.h"
#include "PictureTimes.h"
#include "tests/controller/media/AgentUnderTest.h"
#include "tests/support/PulseAudioServer.h"
#include "tests/support/XvfbServer.h"

namespace dovrel::bench {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int W = 1920, H = 1080;
constexpr auto sampleEvery = 250ms;
constexpr auto climbLimit = 60s;
constexpr double climbTarget = 6e6;
// A change of the rate itself; the rest of the link's lines are probes with copies of the pieces.
const std::string rateLine = "• link: sending";

struct LinkRow {
    std::string id;   // as "--only" names it
    std::string name; // in the figures
    int64_t rate = 0; // bits a second; 0: no limit
    double loss = 0;  // share of the video datagrams the controller drops
    Clock::duration length = 30s;
    Clock::duration from = 10s; // the figures' window begins then
    bool climb = false;         // then the limit goes: how soon does the agent send at full rate again
};

std::vector<LinkRow> allRows() {
    return {
        {"unshaped", "unshaped", 0, 0, 30s, 10s, false},
        {"loss0.5", "no limit, 0.5 % lost", 0, 0.005, 30s, 10s, false},
        {"loss1", "no limit, 1 % lost", 0, 0.01, 30s, 10s, false},
        {"5M", "5 Mbit/s", 5'000'000, 0, 90s, 30s, false},
        {"5M-loss0.5", "5 Mbit/s, 0.5 % lost", 5'000'000, 0.005, 90s, 30s, false},
        {"3M", "3 Mbit/s", 3'000'000, 0, 30s, 10s, true},
        {"1M", "1 Mbit/s", 1'000'000, 0, 30s, 10s, true},
    };
}

struct Options {
    std::string agent = DOVREL_AGENT_BINARY;
    std::vector<std::string> only;
    std::vector<wex::VideoCodec> codecs = {wex::VideoCodec::h264, wex::VideoCodec::hevc};
    std::optional<int> seconds;
    bool sound = false;
    bool agentLog = false;
    uint32_t seed = 1;
    std::map<std::string, std::string> agentEnv;
};

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--agent" && more) o.agent = argv[++i];
        if (a == "--only" && more) {
            std::istringstream ids(argv[++i]);
            for (std::string id; std::getline(ids, id, ',');)
                o.only.push_back(id);
        }
        if (a == "--codec" && more) {
            const std::string c = argv[++i];
            o.codecs = {c == "hevc" ? wex::VideoCodec::hevc : wex::VideoCodec::h264};
        }
        if (a == "--seconds" && more) o.seconds = std::stoi(argv[++i]);
        if (a == "--seed" && more) o.seed = static_cast<uint32_t>(std::stoul(argv[++i]));
        if (a == "--agent-env" && more) {
            const std::string setting = argv[++i];
            const auto eq = setting.find('=');
            o.agentEnv[setting.substr(0, eq)] = eq == std::string::npos ? "" : setting.substr(eq + 1);
        }
        if (a == "--sound") o.sound = true;
        if (a == "--agent-log") o.agentLog = true;
    }
    return o;
}

const char* codecName(wex::VideoCodec c) { return c == wex::VideoCodec::h264 ? "H.264" : "HEVC"; }

// The codec asked for, and what came when that differs: "HEVC (H.264 came)".
std::string codecsText(wex::VideoCodec asked, const std::vector<wex::VideoCodec>& came) {
    std::string text = codecName(asked);
    if (came.empty() || (came.size() == 1 && came.front() == asked)) return text;
    text += " (";
    for (std::size_t i = 0; i < came.size(); ++i)
        text += std::string(i ? ", " : "") + codecName(came[i]);
    return text + " came)";
}

// The link's counters and the agent's changes of rate, four times a second.
struct Sample {
    Clock::time_point at;
    KernelLink::Counters counters;
    std::size_t linkLines = 0;
};

struct Samples {
    std::vector<Sample> list;
    // The first sample at or after `t`.
    const Sample& at(Clock::time_point t) const {
        for (const Sample& s : list)
            if (s.at >= t) return s;
        return list.back();
    }
    // Bits a second over [from, to] of one counter.
    double rate(Clock::time_point from, Clock::time_point to, uint64_t KernelLink::Counters::*counter) const {
        const Sample &a = at(from), &b = at(to);
        const double span = seconds(b.at - a.at);
        return span > 0 ? static_cast<double>(b.counters.*counter - a.counters.*counter) * 8 / span : 0;
    }
    double droppedShare(Clock::time_point from, Clock::time_point to) const {
        const Sample &a = at(from), &b = at(to);
        const auto dropped = b.counters.droppedPackets - a.counters.droppedPackets;
        const auto all = dropped + b.counters.passedPackets - a.counters.passedPackets;
        return all ? 100.0 * static_cast<double>(dropped) / static_cast<double>(all) : 0;
    }
};

struct Figures {
    std::string link;
    std::string codec;
    bool ran = false;
    double whole = 0, clean = 0, freeze = 0, wholeMbps = 0, sentMbps = 0, dropped = 0, sound = 0;
    std::size_t changes = 0, asks = 0;
    std::string climb = "-";
    std::string formats = "-";
};

// Every change of rate in the agent's log, in order (its probes show in the whole log).
std::vector<std::string> linkLines(const std::string& log) {
    std::vector<std::string> out;
    for (std::size_t at = log.find(rateLine); at != std::string::npos; at = log.find(rateLine, at + 1)) {
        const auto start = log.rfind('\n', at) + 1;
        out.push_back(log.substr(start, log.find('\n', at) - start));
    }
    return out;
}

template <typename T, typename Time>
std::size_t countBetween(const std::vector<T>& items, Time when, Clock::time_point from, Clock::time_point to) {
    std::size_t n = 0;
    for (const T& item : items)
        n += when(item) >= from && when(item) < to ? 1 : 0;
    return n;
}

class RowRunner {
public:
    RowRunner(const Options& options, KernelLink& link, const std::string& display, const test::PulseAudioServer* pulse)
        : options_(options), link_(link), display_(display), pulse_(pulse) {}

    Figures run(const LinkRow& row, wex::VideoCodec codec) {
        Figures f;
        f.link = row.name;
        f.codec = codecName(codec);
        std::printf("\n== %s, %s%s\n  load average at the start: %s\n", row.name.c_str(), codecName(codec),
                    pulse_ ? ", a tone playing" : "", loadAverage().c_str());
        std::fflush(stdout);
        std::string why;
        if (!link_.shape(row.rate, why)) return failed(f, why);
        ForeignController controller(
            {&link_.controllerSide(), KernelLink::controllerAddress(), codec, row.loss, options_.seed}, identity_);
        if (controller.videoPort() == 0) return failed(f, "the controller's sockets did not open");
        controller::test::AgentUnderTest agent;
        std::map<std::string, std::string> env = options_.agentEnv;
        env["DISPLAY"] = display_;
        // HEVC in software where no graphics card encodes it (an agent from before that knows no such
        // setting sends H.264, and the figures say so).
        if (codec == wex::VideoCodec::hevc) env.emplace("DOVREL_HEVC", "1");
        if (pulse_) env["PULSE_SERVER"] = pulse_->server();
        const auto key = identity_.publicKey();
        if (!agent.start(options_.agent, wex::ByteView(key.data(), key.size()), controller.videoPort(), env, why,
                         link_.onAgentSide()))
            return failed(f, why);
        const uint64_t overrunsBefore = link_.controllerOverruns();
        if (!controller.begin(KernelLink::agentAddress(), agent.controlPort(), why))
            return failed(f, why + "; the agent's log ends:\n" + agent.tail(20));

        const auto start = controller.sessionStart();
        const auto end = start + row.length;
        Samples samples;
        while (Clock::now() < end) {
            samples.list.push_back({Clock::now(), link_.read(), countOccurrences(agent.log(), rateLine)});
            std::this_thread::sleep_for(sampleEvery);
        }
        samples.list.push_back({Clock::now(), link_.read(), countOccurrences(agent.log(), rateLine)});
        if (row.climb) f.climb = climb(samples, agent);
        const ForeignLog seen = controller.log();
        const uint64_t overruns = link_.controllerOverruns() - overrunsBefore;

        const auto from = start + row.from;
        const double span = seconds(end - from);
        std::vector<Clock::time_point> whole;
        double wholeBytes = 0;
        for (const auto& p : seen.whole)
            if (p.at >= from && p.at < end) {
                whole.push_back(p.at);
                wholeBytes += static_cast<double>(p.bytes);
            }
        f.ran = true;
        f.codec = codecsText(codec, seen.codecs);
        f.whole = static_cast<double>(whole.size()) / span;
        f.clean = static_cast<double>(countBetween(
                      seen.clean, [](auto t) { return t; }, from, end)) /
                  span;
        f.freeze = longestFreeze(whole, from, end);
        f.wholeMbps = wholeBytes * 8 / span / 1e6;
        f.sentMbps = samples.rate(from, end, &KernelLink::Counters::offeredBytes) / 1e6;
        f.dropped = samples.droppedShare(from, end);
        f.changes = samples.at(end).linkLines - samples.at(from).linkLines;
        f.asks = countBetween(
            seen.keyframeAsks, [](auto t) { return t; }, from, end);
        if (pulse_) sound(f, seen, from, end);

        std::printf("  from %.0f s to %.0f s: %.1f whole pictures a second, %.1f clean; longest without a whole "
                    "picture %.1f s\n",
                    seconds(row.from), seconds(row.length), f.whole, f.clean, f.freeze);
        std::printf("  whole pictures brought %.2f Mbit/s; the agent sent %.2f Mbit/s, the shaper dropped %.1f %% of "
                    "packets\n",
                    f.wholeMbps, f.sentMbps, f.dropped);
        std::printf("  the agent's changes of rate: %zu; keyframes asked for: %zu (%zu in the whole session)\n",
                    f.changes, f.asks, seen.keyframeAsks.size());
        std::printf("  video in %s; datagrams that came: %llu, dropped here at random: %llu\n", f.codec.c_str(),
                    static_cast<unsigned long long>(seen.videoDatagrams),
                    static_cast<unsigned long long>(seen.droppedHere));
        if (!seen.failure.empty()) std::printf("  the session broke off: %s\n", seen.failure.c_str());
        if (overruns > 0)
            std::printf("  the controller's side could not take %llu datagrams (its socket was full): losses that "
                        "are not the link's\n",
                        static_cast<unsigned long long>(overruns));
        if (pulse_) std::printf("  sound: %.0f %% arrived; formats: %s\n", f.sound, f.formats.c_str());
        if (row.climb) std::printf("  over 6 Mbit/s again after the limit went: %s\n", f.climb.c_str());
        printLinkLines(agent.log(), samples, start);
        if (options_.agentLog) printSeconds(agent.log(), samples, seen, start);
        std::fflush(stdout);
        link_.shape(0, why);
        return f;
    }

private:
    static Figures failed(Figures f, const std::string& why) {
        std::printf("  cannot run: %s\n", why.c_str());
        std::fflush(stdout);
        return f;
    }

    // The limit goes; how long until over 6 Mbit/s cross the veth in a second.
    std::string climb(Samples& samples, controller::test::AgentUnderTest& agent) {
        std::string why;
        link_.shape(0, why);
        const auto lifted = Clock::now();
        while (Clock::now() - lifted < climbLimit) {
            std::this_thread::sleep_for(sampleEvery);
            const auto now = Clock::now();
            samples.list.push_back({now, link_.read(), countOccurrences(agent.log(), rateLine)});
            if (now - lifted >= 1s && samples.rate(now - 1s, now, &KernelLink::Counters::passedBytes) > climbTarget) {
                char text[32];
                std::snprintf(text, sizeof text, "%.1f s", seconds(now - lifted));
                return text;
            }
        }
        return "over " + std::to_string(static_cast<int>(seconds(climbLimit))) + " s";
    }

    // The share of the window's seconds of sound that arrived, and the formats it came in.
    static void sound(Figures& f, const ForeignLog& seen, Clock::time_point from, Clock::time_point to) {
        double heard = 0;
        std::map<std::pair<uint32_t, int>, std::size_t> formats;
        for (const auto& s : seen.sound) {
            if (s.at < from || s.at >= to || s.rate == 0) continue;
            heard += static_cast<double>(s.sampleFrames) / s.rate;
            ++formats[{s.rate, s.channels}];
        }
        f.sound = 100 * heard / seconds(to - from);
        f.formats.clear();
        for (const auto& [format, n] : formats)
            f.formats += (f.formats.empty() ? "" : ", ") + std::to_string(format.first / 1000) + " kHz x" +
                         std::to_string(format.second);
        if (f.formats.empty()) f.formats = "none";
    }

    // The agent's own words on its rate, with when they came.
    static void printLinkLines(const std::string& log, const Samples& samples, Clock::time_point start) {
        const auto lines = linkLines(log);
        std::size_t shown = 0;
        for (const Sample& s : samples.list)
            for (; shown < s.linkLines && shown < lines.size(); ++shown)
                std::printf("    by %5.1f s: %s\n", seconds(s.at - start), lines[shown].c_str());
    }

    static void printSeconds(const std::string& log, const Samples& samples, const ForeignLog& seen,
                             Clock::time_point start) {
        std::printf("  its log:\n%s\n", log.c_str());
        std::printf("  second by second (sent kbit/s, packets the shaper dropped, whole / clean pictures, keyframe "
                    "asks):\n");
        for (auto t = start; t + 1s <= samples.list.back().at; t += 1s) {
            const auto &a = samples.at(t), &b = samples.at(t + 1s);
            const auto time = [](const auto& p) { return p.at; };
            std::printf("    %3.0f s: %6.0f kbit/s  %4llu dropped  %3zu / %3zu  %zu\n", seconds(t - start),
                        samples.rate(t, t + 1s, &KernelLink::Counters::offeredBytes) / 1000,
                        static_cast<unsigned long long>(b.counters.droppedPackets - a.counters.droppedPackets),
                        countBetween(seen.whole, time, t, t + 1s),
                        countBetween(
                            seen.clean, [](auto x) { return x; }, t, t + 1s),
                        countBetween(
                            seen.keyframeAsks, [](auto x) { return x; }, t, t + 1s));
        }
    }

    const Options& options_;
    KernelLink& link_;
    std::string display_;
    const test::PulseAudioServer* pulse_;
    wex::DeviceIdentity identity_;
};

void printTable(const std::vector<Figures>& all, bool withSound) {
    std::printf("\n| link | codec | whole a second | clean a second | longest freeze | whole pictures Mbit/s | agent "
                "sent Mbit/s | shaper dropped | rate changes | keyframe asks | over 6 Mbit/s again |%s\n",
                withSound ? " sound arrived | sound formats |" : "");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|%s\n", withSound ? "---|---|" : "");
    for (const Figures& f : all) {
        if (!f.ran) {
            std::printf("| %s | %s | did not run |\n", f.link.c_str(), f.codec.c_str());
            continue;
        }
        std::printf("| %s | %s | %.1f | %.1f | %.1f s | %.2f | %.2f | %.1f %% | %zu | %zu | %s |", f.link.c_str(),
                    f.codec.c_str(), f.whole, f.clean, f.freeze, f.wholeMbps, f.sentMbps, f.dropped, f.changes, f.asks,
                    f.climb.c_str());
        if (withSound) std::printf(" %.0f %% | %s |", f.sound, f.formats.c_str());
        std::printf("\n");
    }
}

} // namespace

bool wantsKernelLinks(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--kernel") return true;
    return false;
}

int runKernelLinks(int argc, char** argv, const std::string& scheduling) {
    const auto began = Clock::now();
    const Options options = parse(argc, argv);
    KernelLink link;
    if (!link.available()) {
        std::printf("slow link (kernel): cannot run: %s\n", link.reason().c_str());
        return 0;
    }
    test::XvfbServer xvfb(W, H);
    if (!xvfb.running()) {
        std::printf("slow link (kernel): cannot run: %s\n", xvfb.failure().c_str());
        return 0;
    }
    std::optional<test::PulseAudioServer> pulse;
    if (options.sound) {
        pulse.emplace();
        if (!pulse->running() || pulse->pactl({"load-module", "module-sine", "frequency=440"}) != 0) {
            std::printf("slow link (kernel): cannot play a tone: %s\n",
                        pulse->running() ? "module-sine would not load" : pulse->failure().c_str());
            return 0;
        }
    }
    const pid_t painter = ::fork();
    if (painter == 0) runBusyPainter(xvfb.display(), W, H);

    std::printf("slow link (kernel): %s at %dx%d, busy desktop on Xvfb %s; agent at %s and a foreign controller at "
                "%s in network namespaces, tc tbf on the agent's side (4 kB burst, 50 ms queue)%s\n",
                options.agent.c_str(), W, H, xvfb.display().c_str(), KernelLink::agentAddress().c_str(),
                KernelLink::controllerAddress().c_str(), options.sound ? "; a 440 Hz tone playing" : "");
    std::printf("scheduling: %s; %u hardware threads\n", scheduling.c_str(), std::thread::hardware_concurrency());

    RowRunner runner(options, link, xvfb.display(), pulse ? &*pulse : nullptr);
    std::vector<Figures> all;
    for (LinkRow row : allRows()) {
        if (!options.only.empty() && std::find(options.only.begin(), options.only.end(), row.id) == options.only.end())
            continue;
        if (options.seconds) {
            const Clock::duration length = std::chrono::seconds(*options.seconds);
            row.from = std::chrono::duration_cast<Clock::duration>(row.from * (seconds(length) / seconds(row.length)));
            row.length = length;
        }
        for (const auto codec : options.codecs)
            all.push_back(runner.run(row, codec));
    }
    printTable(all, options.sound);
    std::printf("\nthe run took %.0f s\n", seconds(Clock::now() - began));
    ::kill(painter, SIGTERM);
    ::waitpid(painter, nullptr, 0);
    return 0;
}

} // namespace dovrel::bench

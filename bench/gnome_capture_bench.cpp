// Where a picture's time goes before the agent has it on GNOME's Wayland session, and what the screen
// cast costs the compositor: a headless GNOME session at 1920x1080@60, painted by a full-screen Wayland
// client (the busy scene and its flipping square, each flip stamped once the client has handed its
// frame to the compositor), captured through the agent's own compositor session and PipeWire stream.
//
// At the session rate (60 a second): pictures received per second; paint to the compositor's time of the
// picture (the PipeWire buffer header's, which the stream keeps as the capture time), that time to the
// picture in the agent's hands (recording, PipeWire, the copy out), and paint to the agent's hands; the
// compositor's CPU; what the copy out costs the agent: the CPU time of each of its threads (PipeWire's
// real-time data thread, the stream's own "dovrel.capture") per picture received. At the rate asked while
// nobody watches (one a second): the pictures the compositor still sends and its CPU. The load average
// goes beside each; "--isolated" runs it all ahead of the machine's other work. Prints figures; asserts
// nothing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <sched.h>
#include <sys/mman.h>
#include <sys/wait.h>

#include <QCoreApplication>

#include "FlipSquare.h"
#include "MachineLoad.h"
#include "SampleSeries.h"
#include "agent/gnome/MutterSession.h"
#include "agent/media/PipeWireStream.h"
#include "tests/support/GnomeSession.h"

using namespace dovrel;
using namespace std::chrono_literals;
using bench::FlipLog;

namespace {

constexpr int W = 1920, H = 1080;
constexpr auto warmUp = 2s;
constexpr auto window = 10s;

struct Picture {
    int64_t receivedNs; // in the agent's hands
    int64_t takenNs;    // the capture time: the compositor's, where it gives one
    uint32_t colour;    // of the square
};

// What the stream delivers while `recording`; a repeat of the last picture (the stream's heartbeat) is
// not a picture of the compositor's.
struct Received {
    std::mutex lock;
    std::vector<Picture> pictures;
    const uint8_t* lastPixels = nullptr;
    bool recording = false;

    agent::ScreenCapturer::FrameCallback callback() {
        return [this](const agent::CapturedFrame& f) {
            const int64_t now = bench::monoNs();
            const uint8_t* p = f.planes[0] +
                               static_cast<std::ptrdiff_t>(bench::flipY + bench::flipSize / 2) * f.strides[0] +
                               (bench::flipX + bench::flipSize / 2) * 4;
            const std::lock_guard guard(lock);
            if (f.planes[0] == lastPixels) return;
            lastPixels = f.planes[0];
            if (!recording) return;
            const int64_t taken =
                std::chrono::duration_cast<std::chrono::nanoseconds>(f.capturedAt.time_since_epoch()).count();
            pictures.push_back({now, taken, uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]});
        };
    }
    void record(bool on) {
        const std::lock_guard guard(lock);
        recording = on;
        if (on) pictures.clear();
    }
    std::vector<Picture> taken() {
        const std::lock_guard guard(lock);
        return pictures;
    }
};

using bench::Series;

void row(const char* name, Series& s) {
    std::printf("  %-44s p10 %6.2f   p50 %6.2f   p95 %6.2f ms   (n=%zu)\n", name, s.pct(10), s.pct(50), s.pct(95),
                s.v.size());
}

struct Phase {
    std::vector<Picture> pictures;
    double seconds = 0;
    double compositorCpu = 0;                // of one core
    std::map<std::string, double> threadCpu; // this process's threads, seconds, by name
    std::string loadBefore, loadAfter;
};

Phase run(Received& received, pid_t compositor) {
    Phase p;
    p.loadBefore = bench::loadAverage();
    const double cpu0 = bench::cpuSecondsOf(compositor);
    const auto threads0 = bench::cpuSecondsByThread();
    const auto start = std::chrono::steady_clock::now();
    received.record(true);
    std::this_thread::sleep_for(window);
    received.record(false);
    p.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    p.compositorCpu = 100 * (bench::cpuSecondsOf(compositor) - cpu0) / p.seconds;
    for (const auto& [name, seconds] : bench::cpuSecondsByThread()) {
        const auto before = threads0.find(name);
        p.threadCpu[name] = seconds - (before == threads0.end() ? 0 : before->second);
    }
    p.pictures = received.taken();
    p.loadAfter = bench::loadAverage();
    return p;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = dovrel::bench::takeIsolatedOption(argc, argv);
    // Children first, while this process has one thread.
    test::GnomeSession gnome(std::vector<test::GnomeMonitor>{{W, H, 60}});
    if (!gnome.available()) {
        std::printf("GNOME capture: cannot run: %s\n", gnome.reason().c_str());
        return 0;
    }
    auto* flips = static_cast<FlipLog*>(
        ::mmap(nullptr, sizeof(FlipLog), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    new (flips) FlipLog;
    flips->start = true;
    const pid_t painter = ::fork();
    if (painter == 0) bench::runWaylandPainter(gnome.env(), W, H, flips);
    for (const auto& [name, value] : gnome.env())
        ::setenv(name.c_str(), value.c_str(), 1);
    QCoreApplication app(argc, argv);
    std::printf("GNOME capture: %dx%d@60 headless mutter, a full-screen Wayland client painting; scheduling: %s\n", W,
                H, mode.c_str());

    agent::MutterSession::Options o;
    o.busAddress = QString::fromStdString(gnome.busAddress());
    auto session = std::make_shared<agent::MutterSession>(o);
    const auto opened = session->open();
    Received received;
    auto fps = std::make_shared<std::atomic<int>>(60);
    agent::PipeWireStream stream(opened.streams.front().node, received.callback(), nullptr, fps);
    stream.waitForFormat(10s);
    std::printf("  pictures through %s\n", stream.usesDmaBuf() ? "DMA-BUFs" : "shared memory");
    std::this_thread::sleep_for(warmUp);

    const uint32_t firstFlip = flips->count.load(std::memory_order_acquire);
    const Phase watched = run(received, gnome.compositorPid());
    const uint32_t lastFlip = flips->count.load(std::memory_order_acquire);
    Series paintToTaken, takenToReceived, paintToReceived;
    int missed = 0;
    for (uint32_t i = firstFlip; i < lastFlip; ++i) {
        const auto& f = flips->flips[i];
        const int64_t again = i + bench::colourCount < lastFlip ? flips->flips[i + bench::colourCount].atNs : INT64_MAX;
        const auto pic = std::find_if(watched.pictures.begin(), watched.pictures.end(), [&](const Picture& p) {
            return p.colour == f.colour && p.receivedNs >= f.atNs && p.receivedNs < again;
        });
        if (pic == watched.pictures.end()) {
            ++missed;
            continue;
        }
        paintToTaken.add(static_cast<double>(pic->takenNs - f.atNs) / 1e6);
        takenToReceived.add(static_cast<double>(pic->receivedNs - pic->takenNs) / 1e6);
        paintToReceived.add(static_cast<double>(pic->receivedNs - f.atNs) / 1e6);
    }
    std::printf("\n== while a session watches (60 pictures a second asked)\n");
    std::printf("  pictures received: %zu in %.1f s = %.1f per second; %u flips, %d not seen\n",
                watched.pictures.size(), watched.seconds,
                static_cast<double>(watched.pictures.size()) / watched.seconds, lastFlip - firstFlip, missed);
    row("paint -> the compositor's time of the picture", paintToTaken);
    row("  -> in the agent's hands", takenToReceived);
    row("paint -> in the agent's hands", paintToReceived);
    std::printf("  compositor CPU: %.1f%% of one core\n", watched.compositorCpu);
    // Threads that ran more than a thousandth of a core: the capture's.
    std::printf("  agent threads, CPU per picture received (and share of one core):\n");
    const double pictures = static_cast<double>(std::max<std::size_t>(watched.pictures.size(), 1));
    for (const auto& [name, seconds] : watched.threadCpu)
        if (seconds > watched.seconds / 1000)
            std::printf("    %-20s %6.3f ms  (%.1f%%)\n", name.c_str(), 1000 * seconds / pictures,
                        100 * seconds / watched.seconds);
    std::printf("  load average before / after: %s / %s\n", watched.loadBefore.c_str(), watched.loadAfter.c_str());

    // Nobody watches: the stream asks for a picture a second.
    fps->store(1);
    stream.retime();
    std::this_thread::sleep_for(warmUp);
    const Phase idle = run(received, gnome.compositorPid());
    std::printf("\n== while nobody watches (1 picture a second asked), the screen as busy\n");
    std::printf("  pictures received: %zu in %.1f s = %.1f per second\n", idle.pictures.size(), idle.seconds,
                static_cast<double>(idle.pictures.size()) / idle.seconds);
    std::printf("  compositor CPU: %.1f%% of one core\n", idle.compositorCpu);
    std::printf("  load average before / after: %s / %s\n", idle.loadBefore.c_str(), idle.loadAfter.c_str());

    flips->stop = true;
    ::waitpid(painter, nullptr, 0);
    session->close();
    return 0;
}

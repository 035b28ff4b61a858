#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QTimer>

#include "WaylandBusyScene.h"

namespace dovrel::bench {

// The flipping square a painter draws over its busy scene: top left, away from the pointer, in every
// frame, changing colour every other frame (thirty flips a second at 60). Its colours come in turn; a
// colour comes back only after four flips (133 ms), far beyond any latency measured, so each picture
// that shows a new colour answers one flip.
constexpr int flipX = 40, flipY = 40, flipSize = 96;
constexpr int flipEveryFrames = 2;
constexpr uint32_t flipColours[] = {0xFF00FF, 0x00FFFF, 0xFFFF00, 0x00FF00};
constexpr int colourCount = 4;

inline int64_t monoNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

// A painter's flips, in memory shared with the painter's process.
struct FlipLog {
    static constexpr uint32_t capacity = 16384;
    std::atomic<uint32_t> count{0};
    std::atomic<bool> start{false}; // for a painter that waits for its turn
    std::atomic<bool> stop{false};
    struct Flip {
        int64_t atNs;
        uint32_t colour;
    } flips[capacity];
};

// A full-screen Wayland client of the session whose environment is `env`, painting the busy scene and
// the square at `width` x `height` once `log->start` is set; each flip is stamped once the client has
// handed its frame to the compositor. Runs in a child process of its own until `log->stop`.
[[noreturn]] inline void runWaylandPainter(const std::map<std::string, std::string>& env, int width, int height,
                                           FlipLog* log) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    for (const auto& [name, value] : env)
        ::setenv(name.c_str(), value.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "wayland", 1);
    ::setenv("QT_WAYLAND_DISABLE_WINDOWDECORATION", "1", 1);
    int argc = 1;
    char name[] = "wayland-painter";
    char* argv[] = {name, nullptr};
    // Drawing only while its agent is measured: the other measurements do not share the machine with it.
    while (!log->start.load() && !log->stop.load())
        ::usleep(20000);
    QGuiApplication app(argc, argv);
    WaylandBusyScene scene(
        width, height,
        [](QPainter& p, int t) {
            p.fillRect(flipX, flipY, flipSize, flipSize,
                       QColor::fromRgb(flipColours[(t / flipEveryFrames) % colourCount]));
        },
        [log](int t) {
            if (t % flipEveryFrames != 0) return;
            const uint32_t i = log->count.load(std::memory_order_relaxed);
            if (i >= FlipLog::capacity) return;
            log->flips[i] = {monoNs(), flipColours[(t / flipEveryFrames) % colourCount]};
            log->count.store(i + 1, std::memory_order_release);
        });
    scene.showFullScreen();
    QTimer stop;
    QObject::connect(&stop, &QTimer::timeout, [&] {
        if (log->stop.load()) app.quit();
    });
    stop.start(20);
    app.exec();
    ::_exit(0);
}

} // namespace dovrel::bench

#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "agent/media/CapturedFrame.h"

namespace dovrel::agent {

// One monitor of the desktop, in screen coordinates.
struct MonitorInfo {
    std::string name; // the output's name, e.g. "DP-1"
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool primary = false;
    bool operator==(const MonitorInfo&) const = default;
};

// The highest capture rate a capturer takes, in pictures a second.
inline constexpr int maxCaptureFPS = 240;

// One picture's time at the capture rate `fps`, held between 1 and maxCaptureFPS.
inline std::chrono::steady_clock::duration captureInterval(int fps) {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::seconds(1)) /
           std::clamp(fps, 1, maxCaptureFPS);
}

// What the controller's display picker calls monitor `index`: "Main display" for the primary one (or,
// without a primary monitor, the first, which then plays that part as the desktop itself does), else
// "Display N".
inline std::string displayName(const std::vector<MonitorInfo>& displays, int index) {
    if (index >= 0 && index < static_cast<int>(displays.size())) {
        const bool anyPrimary = std::any_of(displays.begin(), displays.end(), [](const auto& m) { return m.primary; });
        if (displays[static_cast<std::size_t>(index)].primary || (!anyPrimary && index == 0)) return "Main display";
    }
    return "Display " + std::to_string(static_cast<int64_t>(index) + 1);
}

// How the agent's log names what a capturer takes its pictures from, in the capturer's own words.
struct CaptureSourceWords {
    std::string source;    // what delivers the pictures: "the X server"
    std::string setUpHint; // what most often keeps capture from starting: "no X display to reach, …"
};

// Captures one monitor of the desktop, with the system's audio. Complete pictures go to the frame
// callback given at creation, on the thread "dovrel.capture"; audio goes to the audio callback as
// interleaved 16-bit samples on "dovrel.capture.audio"; the two run concurrently. A source that stops
// on its own (the display server went away) says so through the stopped callback, once.
//
// start(), restart() and refreshDisplays() may be called from any thread and are serialised; the
// read accessors may be called from any thread at any time. While a start is under way they already
// show the monitor being started.
class ScreenCapturer {
public:
    using FrameCallback = std::function<void(const CapturedFrame&)>;
    using AudioCallback = std::function<void(std::span<const int16_t> samples, uint32_t sampleRate, uint8_t channels)>;
    using StoppedCallback = std::function<void(const std::string& reason)>;

    virtual ~ScreenCapturer() = default;

    // Set both after creation and before start(); a running capture keeps the ones it started with.
    virtual void setOnAudio(AudioCallback cb) = 0;
    virtual void setOnStreamStopped(StoppedCallback cb) = 0;

    // Reloads the list of monitors. Throws AgentError (capture).
    virtual void refreshDisplays() = 0;
    // (Re)starts capture of monitor `index`, clamped to the list (below 0: the first; beyond the end:
    // the last). Throws AgentError (capture) with "no display found" when there is none; a running
    // capture is left alone when the new one cannot even list the monitors.
    virtual void start(int index) = 0;
    // Restarts capture of the current monitor. Throws AgentError (capture).
    virtual void restart() = 0;

    // "Main display" for the primary monitor, else "Display " and index + 1 (also for an index
    // outside the list).
    virtual std::string name(int index) const = 0;
    virtual std::vector<MonitorInfo> displays() const = 0;
    virtual int currentIndex() const = 0;
    // Size of the monitor being captured, 0 before the first start.
    virtual int width() const = 0;
    virtual int height() const = 0;

    // Pictures per second asked of the capture (default 60); a change applies at once. A screen where
    // nothing changes still delivers a picture every second.
    virtual int captureFPS() const = 0;
    virtual void setCaptureFPS(int fps) = 0;
    // Makes the next tick deliver a picture even if nothing changed (e.g. with a keyframe request).
    virtual void requestFrame() = 0;
    // What the log says of where the pictures come from.
    virtual CaptureSourceWords sourceWords() const = 0;
    // Makes the next `count` ticks each deliver a picture at the capture rate even if nothing changed,
    // the first at once: an encoder's refresh wave moves on only with pictures, and a still screen
    // delivers one a second. A source that cannot keep delivering gives the one picture at least.
    virtual void requestFrames(int count) {
        if (count > 0) requestFrame();
    }
};

} // namespace dovrel::agent

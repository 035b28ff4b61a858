#include "agent/media/CaptureWatchdog.h"

#include <chrono>

namespace dovrel::agent {

namespace {

using namespace std::chrono_literals;

std::string wholeSeconds(Duration d) {
    return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(d).count()) + "s";
}

} // namespace

WatchdogVerdict watchdogVerdict(const WatchdogView& v) {
    using Act = WatchdogVerdict::Act;
    if (v.restarting) return {};
    if (!v.haveCapturer && !v.haveSynthetic) return {Act::revive, {}};
    if (v.resting && !v.streaming) return {};
    if (v.haveCapturer && v.sinceStream > 10s)
        return {Act::restartCapture, v.source + " delivered nothing for " + wholeSeconds(v.sinceStream)};
    if (!v.streaming) return {};
    if (v.streamingAtLastTick && v.sinceCapture < 3s && v.sinceEncode > 5s)
        return {Act::rebuildEncoder, "encoder produced nothing for " + wholeSeconds(v.sinceEncode)};
    if (v.sinceCapture > 15s && v.sinceEncode > 15s)
        return {Act::restartCapture,
                "a client is watching but nothing has been captured for " + wholeSeconds(v.sinceCapture)};
    return {};
}

} // namespace dovrel::agent

#pragma once

#include <string>

#include "runtime/Scheduler.h"

namespace dovrel::agent {

// What the capture watchdog sees on one tick: the pipeline's state and how long ago the stream, the
// capture and the encoder last showed life.
struct WatchdogView {
    bool restarting = false;   // a capture restart is under way
    bool haveCapturer = false; // screen capture exists
    bool haveSynthetic = false;
    bool resting = false;
    bool streaming = false;
    bool streamingAtLastTick = false; // the client was already streamed to one tick ago
    std::string source;               // what the screen capture takes its pictures from, for the log
    Duration sinceStream{};           // any sign of the capture stream (a tick, an audio buffer)
    Duration sinceCapture{};          // a complete picture
    Duration sinceEncode{};           // an encoded picture
};

struct WatchdogVerdict {
    enum class Act { nothing, revive, restartCapture, rebuildEncoder };
    Act act = Act::nothing;
    std::string reason;
    bool operator==(const WatchdogVerdict&) const = default;
};

// The watchdog's rules, in order; the first that acts decides:
//  1. a restart is running: nothing;
//  2. no source at all: set the pipeline up again;
//  3. resting with nobody watching: nothing;
//  4. a screen capture whose stream said nothing for more than 10 s: restart it;
//  5. nobody watching: nothing;
//  6. pictures arrive (one within 3 s) but the encoder made nothing for more than 5 s: rebuild it;
//  7. neither pictures nor encoder output for more than 15 s: restart capture.
// Rule 6 waits until the client was streamed to at the previous tick as well, so that an encoder that
// has not had a picture yet (a still screen at the start of a session) is not taken for a dead one.
// Rule 4 needs a screen capture: the synthetic source has no stream to go silent.
WatchdogVerdict watchdogVerdict(const WatchdogView& view);

} // namespace dovrel::agent

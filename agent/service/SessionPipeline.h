#pragma once

#include <cstdint>
#include <string>

namespace dovrel::agent {

// The capture-and-encode pipeline as the session core drives it. The pipeline itself (capture
// supervisor, encoder, send path, displays and statistics) is built separately and handed to the
// agent; an agent without one authenticates and dispatches but streams nothing. Called on
// "dovrel.net" unless said otherwise. The pipeline reads Agent::streaming() and Transport::sendTarget().
class SessionPipeline {
public:
    virtual ~SessionPipeline() = default;
    // Starts the capture supervisor, which retries capture set-up until it succeeds. Once, from run().
    virtual void start() = 0;
    // H.264 is the agent's own default (no usable HEVC encoder, or set so by its environment).
    virtual bool defaultH264() const = 0;
    // Builds a new encoder for H.264 (true) or HEVC (false); `reason` explains it in the log.
    virtual void rebuildEncoder(bool h264, const std::string& reason) = 0;
    // The bit-rate budget of the link the current client uses.
    virtual void applyLinkBudget(bool relay) = 0;
    // The current encoder, if any, makes its next frame a keyframe.
    virtual void requestKeyframe() = 0;
    virtual bool resting() const = 0;
    virtual void setRest(bool on) = 0;
    virtual void switchDisplay(uint8_t displayId) = 0;
    // The display list and the once-a-second statistics of a session, and their end.
    virtual void startSessionReports() = 0;
    virtual void stopSessionReports() = 0;
};

// Keeps the computer and its display awake while the agent runs (logind inhibitor, screensaver
// suspension). Built separately; an agent without one lets the machine sleep as it would.
class PowerAssertions {
public:
    virtual ~PowerAssertions() = default;
    virtual void hold() = 0;
};

} // namespace dovrel::agent

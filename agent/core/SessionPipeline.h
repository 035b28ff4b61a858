#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "agent/core/ControlLinkReading.h"
#include "agent/core/SendTarget.h"
#include "agent/core/StreamedArea.h"
#include "protocol/Bytes.h"
#include "protocol/ControlType.h"

namespace dovrel::agent {

// The video path the window shows while no session is reported on.
inline constexpr const char* idleVideoPath = "idle";

// What the pipeline needs of the agent that runs it. Every member may be called from any thread.
struct PipelineHost {
    // The established session and where its video and audio go; null while there is none.
    std::function<std::shared_ptr<const SendTarget>()> sendTarget;
    // The client wants video and audio now.
    std::function<bool()> streaming;
    // A control message for the client, queued behind everything sent before it.
    std::function<void(wex::Bytes payload, wex::ControlType type)> sendControl;
    // A sealed video or audio frame for the relay client of `target` (the snapshot it was sealed for),
    // whose connection only its owner writes; false when it could not go (a full or closed queue).
    std::function<bool(const SendTarget& target, wex::Bytes frame, bool isVideo)> sendRelayMedia;
    // What the control connection's socket measures of the way to the client; nothing when unknown. May
    // be left empty.
    std::function<std::optional<ControlLinkReading>()> controlLink;
    // Ends the session: a media stream has used up its sequence numbers.
    std::function<void()> dropClient;
    // The monitor now streamed and the picture's size, so that pointer positions land on it.
    std::function<void(const StreamedArea&)> streamedArea;
    // For the window: rest mode, and once a second the encoded frame rate and the video path, then 0
    // and `idleVideoPath` once the session's reports stop. May be left empty.
    std::function<void(bool resting)> restingChanged;
    std::function<void(int framesPerSecond, const std::string& path)> videoReport;
};

// The capture-and-encode pipeline as the session core drives it. The pipeline itself (capture
// supervisor, encoder, send path, displays and statistics) is built separately and handed to the
// agent; an agent without one authenticates and dispatches but streams nothing. Called on
// "dovrel.net" unless said otherwise.
class SessionPipeline {
public:
    virtual ~SessionPipeline() = default;
    // Hands over the agent's side, once, before start(); the host outlives the pipeline.
    virtual void attach(PipelineHost host) = 0;
    // Starts the capture supervisor, which retries capture set-up until it succeeds. Once, from run().
    virtual void start() = 0;
    // H.264 is the agent's own default (no usable HEVC encoder, or set so by its environment).
    virtual bool defaultH264() const = 0;
    // Builds a new encoder for H.264 (true) or HEVC (false); `reason` explains it in the log. Holds from
    // the call on: no picture of the other codec goes out, even while the new encoder is being built.
    virtual void rebuildEncoder(bool h264, const std::string& reason) = 0;
    // The bit-rate budget of the link the current client uses; holds from the call on, as the codec does.
    virtual void applyLinkBudget(bool relay) = 0;
    // The current encoder, if any, makes its next frame a keyframe (a client joins or streams again).
    virtual void requestKeyframe() = 0;
    // The client lost pictures: an encoder that refreshes in waves repairs them with the waves (the
    // screen is captured at the rate until they have passed), any other sends a keyframe.
    virtual void repairPicture() = 0;
    virtual bool resting() const = 0;
    virtual void setRest(bool on) = 0;
    virtual void switchDisplay(uint8_t displayId) = 0;
    // The display list and the once-a-second statistics of a session, and their end.
    virtual void startSessionReports() = 0;
    virtual void stopSessionReports() = 0;
};

// Keeps the computer and its display awake while the agent runs (logind inhibitor, screensaver
// suspension). Built separately; an agent without one lets the machine sleep as it would. Every call
// returns at once.
class PowerAssertions {
public:
    virtual ~PowerAssertions() = default;
    // Keeps the machine from sleeping when idle and the display from blanking.
    virtual void hold() = 0;
    // Rest mode: the display may sleep again and is turned off now; the machine stays awake.
    virtual void restDisplay() {}
    // Leaving rest: counts as user activity, which wakes the display, and keeps it awake again.
    virtual void wakeDisplay() {}
    // Called each time the machine has woken from sleep; null: nothing. Once this returns, an earlier
    // callback is not called any more.
    virtual void setOnWake(std::function<void()> onWake) = 0;
};

} // namespace dovrel::agent

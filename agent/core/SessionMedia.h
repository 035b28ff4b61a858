#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "agent/core/SessionPipeline.h"
#include "runtime/Scheduler.h"

namespace dovrel::agent {

// A session's picture and sound as the agent drives them: whether the client wants them now, the codec
// it can decode, the link's budget, rest mode and the keyframe that follows leaving it, and the session's
// reports. Without a pipeline nothing is captured and only the streaming flag moves. Called on
// "dovrel.net" (the transport's queue, whose clock `clock` is) unless said otherwise.
class SessionMedia {
public:
    // `pipeline` may be null.
    SessionMedia(std::unique_ptr<SessionPipeline> pipeline, Scheduler& clock);
    SessionMedia(const SessionMedia&) = delete;
    SessionMedia& operator=(const SessionMedia&) = delete;

    // Main thread, before start(): hands the pipeline the agent's side.
    void attach(PipelineHost host);
    // Main thread, once: the capture supervisor starts.
    void start();
    // The client wants video and audio now; any thread.
    bool streaming() const { return streaming_.load(std::memory_order_acquire); }

    // A client with capabilities `caps` was admitted over the relay or the local network: the codec it
    // decodes, the link's budget, and video when it asked for it, leaving rest for it.
    void sessionStarted(uint32_t caps, bool relay);
    // The display list and the once-a-second statistics of a full session.
    void startReports();
    // The session is over: no video, no reports, the agent's own codec again.
    void sessionEnded();

    // The client's stream control.
    void stopStreaming();
    void resumeStreaming();
    // The client lost pictures (it asked for a keyframe), or the relay link dropped some.
    void repairPicture();
    void switchDisplay(uint8_t displayId);
    void setRest(bool on);

    // On "dovrel.net", before the agent goes: nothing of this may run there afterwards.
    void cancelTimers() { restLeaveTimer_.reset(); }
    // Stops the pipeline's threads (they read the transport, which goes after them). Main thread.
    void stopPipeline() { pipeline_.reset(); }

private:
    // Leaves rest mode for a client that streams; its keyframe follows once the display is awake.
    void leaveRestForStreaming();
    void useCodec(bool h264);
    static constexpr std::chrono::milliseconds leaveRestPause{400};

    Scheduler& clock_;
    std::atomic<bool> streaming_{false};
    bool useH264_ = false;
    std::unique_ptr<Timer> restLeaveTimer_;
    // Last: its threads read streaming() until it is gone.
    std::unique_ptr<SessionPipeline> pipeline_;
};

} // namespace dovrel::agent

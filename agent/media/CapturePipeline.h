#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "agent/core/SessionPipeline.h"
#include "agent/link/LinkFollower.h"
#include "agent/media/KeyframeSpacing.h"
#include "agent/media/MediaSendPath.h"
#include "agent/media/PictureGate.h"
#include "agent/media/ScreenCapturer.h"
#include "agent/media/SyntheticSource.h"
#include "agent/media/SystemStats.h"
#include "agent/media/VideoBudget.h"
#include "agent/media/VideoEncoder.h"
#include "runtime/Scheduler.h"
#include "runtime/SerialQueue.h"

namespace dovrel::agent {

// The agent's one capture-and-encode pipeline, alive for the whole process whether or not a client
// watches: a source (screen capture, or the synthetic pattern under DOVREL_SYNTHETIC) feeding one
// encoder whose pictures go out through the send path. Its supervisor builds it and retries the build
// (2, 4, 8, 16, then every 30 s) until it stands; restarts capture after a wake from sleep, when the
// stream stops and when it stalls; rebuilds the encoder when it stalls and when the client's link or
// codec changes; and runs rest mode, the display list and the once-a-second statistics. While the client
// reports lost pictures, the encoder is one that repairs them in refresh waves; ten seconds after the
// last loss it is the plain one again. During a session the rate follows the link (LinkRate): losses,
// a growing round trip or a backlog on the link bring the bit rate and the picture rate down, a calm
// spell brings them back up to the link's budget; the running encoder takes a new rate where it can,
// else one is built for it on the set-up thread, and the pictures beyond the rate are left out before
// the encoder while the screen is captured at the link's base frame rate. Once the link has lost pictures, a picture's
// pieces are paced a little above the rate instead of going back to back.
//
// Threads: "dovrel.pipeline" owns the timers (watchdog every 5 s, statistics every 1 s, the set-up
// back-off, the restart time-out); "dovrel.capture.setup" runs the blocking set-up, display switches
// and encoder rebuilds; a capture restart runs on a thread of its own so that one stuck in the display server
// cannot hold the pipeline. Pictures are encoded, sealed and sent on the capture and encoder threads.
// The encoder in use is shared: replacing it never frees one that a capture thread is still feeding.
//
// The codec and the link's budget a session asks for hold from the moment it asks, before it is streamed
// to, although its encoder is built later on the set-up thread: until that encoder stands, the capture
// thread hands pictures to no other, and no picture of another goes out. A session's first picture is a
// keyframe, with the parameter sets of the encoder that made it.
class CapturePipeline final : public SessionPipeline {
public:
    using CapturerFactory = std::function<std::shared_ptr<ScreenCapturer>(ScreenCapturer::FrameCallback)>;
    using EncoderFactory =
        std::function<std::shared_ptr<VideoEncoder>(VideoEncoderConfig, VideoEncoder::OutputCallback)>;

    struct Options {
        // Timers and time stamps; they run on "dovrel.pipeline". Null: the real clock.
        Scheduler* clock = nullptr;
        CapturerFactory makeCapturer;                     // null: X11 capture of $DISPLAY with PulseAudio
        EncoderFactory makeEncoder;                       // null: libavcodec (makeVideoEncoder)
        std::function<VideoCodecChoice()> codec;          // null: chooseDefaultCodec (DOVREL_H264, hardware)
        std::optional<bool> synthetic;                    // unset: whether DOVREL_SYNTHETIC is present
        std::function<VideoBudget(bool relay)> budget;    // null: the link's budget with DOVREL_BITRATE/FPS
        std::shared_ptr<PowerAssertions> power;           // rest mode and wake from sleep; null: none
        std::function<SystemStats::Sample()> sampleStats; // null: /proc
        std::function<void()> rotateLog;                  // null: AgentLog::rotateIfNeeded
        // Called on the encoder's output thread once a picture's last piece went out; for measuring.
        std::function<void(const PictureTrace&)> onPictureSent;
    };

    static constexpr int idleCaptureFPS = 1;
    // Repairing losses costs encoding and decoding time: the encoder goes back to its plain settings
    // once no picture has been lost for this long.
    static constexpr std::chrono::seconds calmAfter{10};
    // A client's request for a keyframe says that pictures are being lost unless it is one of the first
    // two this soon after a keyframe was asked for (a client joining, whose window asks again once it
    // opens: seen two seconds later where the desktop draws in software), or comes while pictures come
    // this far apart (a still screen, which a client asks about too).
    static constexpr std::chrono::seconds joinGrace{5};
    static constexpr std::chrono::milliseconds stillInterval{250};
    static constexpr int joiningAsksAtMost = 2;
    // How often, during a session, the link's signals are weighed.
    static constexpr std::chrono::milliseconds linkEvery{500};

    CapturePipeline();
    explicit CapturePipeline(Options options);
    // Stops the timers, the sources and the encoder; waits for a set-up or restart in progress.
    ~CapturePipeline() override;
    CapturePipeline(const CapturePipeline&) = delete;
    CapturePipeline& operator=(const CapturePipeline&) = delete;

    // ---- SessionPipeline
    void attach(PipelineHost host) override;
    void start() override;
    bool defaultH264() const override;
    void rebuildEncoder(bool h264, const std::string& reason) override;
    void applyLinkBudget(bool relay) override;
    void requestKeyframe() override;
    void repairPicture() override;
    bool resting() const override;
    void setRest(bool on) override;
    void switchDisplay(uint8_t displayId) override;
    void startSessionReports() override;
    void stopSessionReports() override;

    // ---- the supervisor's own operations, any thread
    // Restarts screen capture; nothing while one runs or when there is no screen capture. With `only`,
    // nothing unless that is the capturer now.
    void restartCapture(const std::string& reason, const ScreenCapturer* only = nullptr);
    // Replaces the encoder (same codec, size and link) on the set-up thread; nothing while capture
    // restarts. rebuildEncoder and applyLinkBudget hand their builds to that thread too, where a build is
    // left out when an earlier one already made what they ask for.
    void rebuildEncoderFor(const std::string& reason);
    void sendDisplayList();
    // From now on the session's pictures are sent at `rate`, any thread. A step costs no new capture
    // stream: the screen is captured at the link's base frame rate all session long and pictures beyond
    // `rate` are left out before the encoder, evenly spaced. The encoder in use takes the bit rate where it
    // can (VideoEncoder::retargetsInPlace), else one is built for it on the set-up thread; a step made
    // while an encoder is being built reaches that encoder too.
    void applySendRate(SendRate rate);

    // ---- what tests look at
    SerialQueue& timerQueue() { return *ctl_; }
    LinkFollower& linkFollower() { return follower_; }
    // Runs on "dovrel.pipeline": one watchdog tick, one statistics tick.
    void watchdogTick();
    void sendStats();
    // Waits until the set-up queue has done what was handed to it before.
    void waitForSetup();
    // Runs on "dovrel.pipeline": weighs the link's signals once, changing the rate when they say so.
    void followLink();
    // What the session's pictures are sent at now.
    SendRate sendRate() const;
    std::shared_ptr<VideoEncoder> currentEncoder() const;
    std::shared_ptr<ScreenCapturer> capturer() const;
    bool hasSyntheticSource() const;
    bool restarting() const;
    bool useH264() const;
    int frameWidth() const;
    int frameHeight() const;
    const MediaSendPath& sendPath() const { return sendPath_; }

private:
    // What the session asked of the encoder.
    struct EncoderAsk {
        bool h264 = true;
        bool relay = false; // the relay's budget, else the local network's
    };
    struct ActiveEncoder {
        std::shared_ptr<VideoEncoder> encoder;
        uint64_t generation = 0;
        PictureFormat format;
        bool relay = false;
        bool serves(EncoderAsk ask) const { return format.h264 == ask.h264 && relay == ask.relay; }
    };
    struct Restart;

    Instant now() const { return clock_->now(); }
    // The link's base budget.
    VideoBudget budgetFor(bool relay) const;
    // A session starts on the link: its rate starts at the link's base budget.
    void resetLinkRate(bool relay);
    // What the link follower reads of the session's way and where its changes go.
    class LinkPort final : public LinkView, public RateTaker {
    public:
        explicit LinkPort(CapturePipeline& pipeline) : pipeline_(pipeline) {}
        std::optional<ControlLinkReading> controlLink() const override;
        std::size_t relayBacklog() const override;
        bool throughRelay() const override;
        void takeRate(SendRate rate) override { pipeline_.applySendRate(rate); }
        void pace(int64_t bitsPerSecond, bool twice) override { pipeline_.sendPath_.setPace(bitsPerSecond, twice); }

    private:
        CapturePipeline& pipeline_;
    };
    bool streaming() const;
    // Changes what the session asks for, under lock_; true when the encoder in use does not make it.
    bool askLocked(EncoderAsk ask);

    // Source callbacks.
    void onFrame(const CapturedFrame& frame);
    void onEncoded(uint64_t generation, const PictureFormat& format, EncodedPicture&& picture);

    // Set-up (on "dovrel.capture.setup").
    void startSetupLoop(bool revive);
    void setupAttempt(unsigned delaySeconds, bool revive);
    void setupCaptureEncode();
    void setupLoopEnded(bool revive);

    // Builds, starts and installs an encoder for the current size and what the session asks for;
    // throws what its start throws. Builds are serialised.
    void buildEncoder(bool forceKeyframe);
    void applyCaptureRate(const std::shared_ptr<ScreenCapturer>& capturer, bool streamingNow);
    // ---- what a step of the send rate costs (applySendRate)
    // The send rate for the link budget `base`, under linkLock_.
    SendRate sendRateLocked(const VideoBudget& base) const;
    // Tells the encoder in use the send rate, unless it was told already; false when it takes no new
    // rate while it runs. Whichever of a build and a step tells it last tells it the newest rate.
    bool retargetEncoder();
    // On the set-up thread: an encoder for the send rate, unless the one in use makes it by now.
    void conformRate();
    // The gate lets the send rate's pictures through, of those captured at the base frame rate.
    void paceGate();
    // On "dovrel.pipeline": the picture the gate holds goes to the encoder once its slot has come.
    void armGateTimer();
    void releaseHeldPicture();
    // Pictures to capture for `pictures` to pass the gate.
    int capturedFor(int pictures) const;
    void publishStreamedArea(const ScreenCapturer& capturer, int width, int height);

    // On the set-up thread: a new encoder for the same source; one for what the session asks for,
    // unless the encoder in use already makes it.
    void rebuildEncoderLocked(const std::string& reason);
    void conformEncoder(const std::string& reason);
    // The session of `target` has had a keyframe go out to it, so other pictures may follow: its first
    // picture is always a keyframe that was sent, not one that was only made.
    bool keyed(const SendTarget& target) const;
    void markKeyed(const SendTarget& target);
    void unmarkKeyed(const SendTarget& target);
    // On "dovrel.pipeline": back to the plain encoder once losses have stopped.
    void calmDown();
    // Makes the encoder's next picture a keyframe, spaced from the last one.
    void forceKeyframe();
    void finishRestart(uint64_t token, std::optional<std::string> failure);
    void startWatchdog();
    void startStatsTimer();

    Options options_;
    Scheduler* clock_;
    PipelineHost host_;
    MediaSendPath sendPath_{host_};
    std::atomic<bool> stopping_{false};

    // The rate the link carries, the rate pictures are sent at, and which encoder was last told which rate.
    LinkPort linkPort_{*this};
    LinkFollower follower_{*clock_, linkPort_, linkPort_};
    mutable std::mutex linkLock_;
    SendRate sendRate_;
    struct Told {
        uint64_t generation = 0;
        SendRate rate;
    } told_;

    // Leaves out the pictures beyond the send rate's; the capture threads and "dovrel.pipeline" share it.
    std::mutex gateLock_;
    PictureGate gate_;
    bool gateTimerArmed_ = false;

    // The pipeline's state, under lock_; never held while a source or encoder starts.
    mutable std::mutex lock_;
    std::shared_ptr<ScreenCapturer> capturer_;
    std::unique_ptr<SyntheticSource> synth_;
    int frameW_ = 0;
    int frameH_ = 0;
    VideoCodecChoice codecChoice_;
    std::optional<bool> askedH264_; // what the session core asked for last; else the default
    // Written under lock_, read by the capture and encoder threads without it: a session asks before it
    // is streamed to, so a thread that sees it streamed to sees what it asked.
    std::atomic<EncoderAsk> asked_{};
    bool restarting_ = false;
    bool setupRunning_ = false;
    bool reviving_ = false;
    bool resting_ = false;
    // Pictures are being lost: encoders are built to repair them (refresh waves), since lastLossAt_.
    bool repairing_ = false;
    Instant lastLossAt_{};
    std::optional<Instant> keyframeAskedAt_; // by requestKeyframe: a client joined or streams again
    int joiningAsks_ = 0;                    // the client's asks since then

    // The time between the last two pictures encoded (encoder's thread).
    std::mutex pictureTimesLock_;
    Instant lastPictureAt_{};
    Duration pictureInterval_ = Duration::max();

    std::mutex buildLock_;
    uint64_t nextGeneration_ = 0;
    std::atomic<std::shared_ptr<const ActiveEncoder>> encoder_;
    KeyframeSpacing keyframeSpacing_;
    mutable std::mutex keyedLock_;
    std::weak_ptr<wex::SecureSession> keyedSession_; // the session a keyframe has gone out to

    // Owned by "dovrel.pipeline".
    std::unique_ptr<Timer> watchdog_;
    std::unique_ptr<Timer> statsTimer_;
    std::unique_ptr<Timer> linkTimer_;
    std::unique_ptr<Timer> gateTimer_;
    std::unique_ptr<Timer> setupTimer_;
    std::unique_ptr<Timer> restartTimeout_;
    uint64_t restartToken_ = 0;
    bool streamingAtLastTick_ = false;
    std::optional<Instant> lastNoAudioNote_;
    std::optional<SystemStats> stats_;

    std::mutex restartThreadsLock_;
    std::vector<std::shared_ptr<Restart>> restartThreads_;

    // Owned by "dovrel.capture.setup": the words of the capturer the set-up attempt under way made.
    std::optional<CaptureSourceWords> attemptWords_;

    // Closed as the pipeline goes and destroyed with it (first of its members): never empty while a
    // thread may still post to them.
    std::unique_ptr<SerialQueue> setup_; // "dovrel.capture.setup"
    std::unique_ptr<SerialQueue> ctl_;   // "dovrel.pipeline"
};

} // namespace dovrel::agent

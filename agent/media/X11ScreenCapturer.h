#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "agent/media/AudioCapturer.h"
#include "agent/media/CaptureAudio.h"
#include "agent/media/ScreenCapturer.h"
#include "runtime/Scheduler.h"

namespace dovrel::agent {

class X11Grabber;

// ScreenCapturer for an X11 session: MIT-SHM grabs of the chosen RandR monitor at the capture rate,
// the XFixes cursor drawn in, on the thread "dovrel.capture"; system audio from an AudioCapturer
// (PulseAudio's default monitor unless told otherwise).
//
// Capture follows changes: DAMAGE wakes the thread as soon as anything is drawn and the grab follows at
// once, never sooner than one frame interval after the last; the pointer is looked at once an interval.
// A still screen is grabbed once a second all the same, so it costs almost nothing and still proves the
// capture alive. Every wake stamps Diag's lastStreamAt, and so does every audio buffer.
//
// When audio will not start, capture goes on video-only and audio is not tried again for 600 s.
class X11ScreenCapturer final : public ScreenCapturer {
public:
    static constexpr std::chrono::seconds heartbeat{1};

    struct Options {
        std::string displayName;              // empty: $DISPLAY
        std::shared_ptr<AudioCapturer> audio; // null: PulseAudio's "@DEFAULT_MONITOR@"
        Scheduler* clock = nullptr;           // for the audio retry rule; null: the real clock
    };

    explicit X11ScreenCapturer(FrameCallback onFrame);
    X11ScreenCapturer(FrameCallback onFrame, Options options);
    // Stops capture and audio; waits for a callback in progress unless called from one.
    ~X11ScreenCapturer() override;

    void setOnAudio(AudioCallback cb) override;
    void setOnStreamStopped(StoppedCallback cb) override;
    void refreshDisplays() override;
    void start(int index) override;
    void restart() override;
    std::string name(int index) const override;
    std::vector<MonitorInfo> displays() const override;
    int currentIndex() const override;
    int width() const override;
    int height() const override;
    int captureFPS() const override;
    void setCaptureFPS(int fps) override;
    void requestFrame() override;
    void requestFrames(int count) override;
    CaptureSourceWords sourceWords() const override {
        return {"the X server", "no X display to reach, or no monitor attached yet"};
    }

    // When audio last failed to start; nullopt when it may be tried.
    std::optional<Instant> audioRefusedAt();

private:
    struct Loop;
    void stopUnderLock();
    void startUnderLock(int index);

    const FrameCallback onFrame_;
    const std::string displayName_;

    std::mutex lifecycle_; // start, restart, refresh and destruction, one at a time
    std::shared_ptr<Loop> loop_;
    std::thread thread_;
    CaptureAudio audio_;

    mutable std::mutex stateLock_;
    int width_ = 0;
    int height_ = 0;
    std::vector<MonitorInfo> displays_;
    int currentIndex_ = 0;
    AudioCallback onAudio_;
    StoppedCallback onStopped_;

    std::shared_ptr<std::atomic<int>> fps_;
};

} // namespace dovrel::agent

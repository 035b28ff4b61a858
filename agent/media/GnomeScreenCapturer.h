#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "agent/gnome/MutterSession.h"
#include "agent/media/AudioCapturer.h"
#include "agent/media/CaptureAudio.h"
#include "agent/media/PipeWireStream.h"
#include "agent/media/ScreenCapturer.h"
#include "runtime/Scheduler.h"

namespace dovrel::agent {

// ScreenCapturer for GNOME on Wayland: the monitors recorded by a remote-desktop session of GNOME's
// compositor (one stream each), the chosen one's pictures received through PipeWire with the pointer
// drawn in; system audio from an AudioCapturer (PulseAudio's default monitor, which PipeWire's pulse
// server provides on such desktops).
//
// The compositor sends a picture only when the screen changed, and no more than the capture rate: a
// busy screen costs it a picture a second while nobody watches. The stream repeats the last one every
// second. A start or restart opens a fresh session (display switching included), so the session's
// input and clipboard follow the monitor being watched. When the compositor ends the session (another
// capturer's taking its place included) or PipeWire goes away, the stopped callback says so once.
class GnomeScreenCapturer final : public ScreenCapturer {
public:
    struct Options {
        std::shared_ptr<AudioCapturer> audio; // null: PulseAudio's "@DEFAULT_MONITOR@"
        Scheduler* clock = nullptr;           // for the audio retry rule; null: the real clock
    };

    GnomeScreenCapturer(FrameCallback onFrame, std::shared_ptr<MutterSession> session);
    GnomeScreenCapturer(FrameCallback onFrame, std::shared_ptr<MutterSession> session, Options options);
    // Stops the stream, the session and audio.
    ~GnomeScreenCapturer() override;

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
        return {"GNOME's screen cast through PipeWire",
                "GNOME's screen cast or PipeWire not reachable yet, or no monitor attached yet"};
    }

    // The pictures come as DMA-BUFs (false before the first start).
    bool usesDmaBuf() const;

private:
    void startUnderLock(int index);
    void stopUnderLock();
    void stopped(uint64_t generation, const std::string& why);

    const FrameCallback onFrame_;
    const std::shared_ptr<MutterSession> session_;
    CaptureAudio audio_; // under lifecycle_
    std::shared_ptr<std::atomic<int>> fps_;

    std::mutex lifecycle_; // start, restart, refresh and destruction, one at a time

    mutable std::mutex stateLock_;
    std::shared_ptr<PipeWireStream> stream_;
    uint64_t generation_ = 0;   // of the stream now running: a stale stream's stop is not reported
    uint64_t sessionToken_ = 0; // of the compositor's session this capturer opened last
    bool stopReported_ = false;
    int width_ = 0;
    int height_ = 0;
    std::vector<MonitorInfo> displays_;
    int currentIndex_ = 0;
    AudioCallback onAudio_;
    StoppedCallback onStopped_;
};

} // namespace dovrel::agent

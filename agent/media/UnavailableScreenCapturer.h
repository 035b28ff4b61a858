#pragma once

#include <string>

#include "agent/media/ScreenCapturer.h"

namespace dovrel::agent {

// The capturer of a desktop the agent cannot see (a Wayland compositor other than GNOME's): every
// start fails with the reason, so the capture supervisor says why instead of streaming a black screen.
class UnavailableScreenCapturer final : public ScreenCapturer {
public:
    explicit UnavailableScreenCapturer(std::string reason) : reason_(std::move(reason)) {}

    void setOnAudio(AudioCallback) override {}
    void setOnStreamStopped(StoppedCallback) override {}
    void refreshDisplays() override { fail(); }
    void start(int) override { fail(); }
    void restart() override { fail(); }
    std::string name(int index) const override { return "Display " + std::to_string(index + 1); }
    std::vector<MonitorInfo> displays() const override { return {}; }
    int currentIndex() const override { return 0; }
    int width() const override { return 0; }
    int height() const override { return 0; }
    int captureFPS() const override { return fps_; }
    void setCaptureFPS(int fps) override { fps_ = fps; }
    void requestFrame() override {}
    CaptureSourceWords sourceWords() const override {
        return {"this desktop", "the agent cannot capture this desktop"};
    }

private:
    [[noreturn]] void fail() const;
    std::string reason_;
    int fps_ = 60;
};

} // namespace dovrel::agent

#include "agent/desktop/StandInServices.h"

#include <atomic>
#include <string>

#include "agent/common/AgentLog.h"

namespace dovrel::agent {

namespace {

class SayOnce {
public:
    explicit SayOnce(std::string line) : line_(std::move(line)) {}
    void operator()() {
        if (!said_.exchange(true)) print(line_);
    }

private:
    std::string line_;
    std::atomic<bool> said_{false};
};

class StandInInjector final : public InputInjector {
public:
    StandInInjector(std::string missing, std::string reason)
        : say_("⚠︎ " + missing + " — the controller's input is dropped"), reason_(std::move(reason)) {}
    void apply(const wex::InputEvent&) override { say_(); }
    void releaseAll() override {}
    void releaseHeld() override {}
    std::string unavailableReason() const override { return reason_; }

private:
    SayOnce say_;
    std::string reason_;
};

class StandInClipboard final : public ClipboardSync {
public:
    explicit StandInClipboard(const std::string& missing)
        : say_("⚠︎ " + missing + " — clipboard text is not kept in step") {}
    void start() override {}
    void stop() override {}
    void applyRemote(const std::string&) override { say_(); }

private:
    SayOnce say_;
};

class StandInClipFiles final : public AgentClipFiles {
public:
    explicit StandInClipFiles(const std::string& missing)
        : say_("⚠︎ " + missing + " — clipboard files are not exchanged") {}
    void start() override {}
    void stop() override {}
    void onRemoteOffer(uint32_t, std::vector<wex::ClipFileEntry>) override { say_(); }
    void onPull(uint32_t, uint8_t) override {}
    void onData(uint32_t, uint8_t, uint64_t, wex::Bytes, bool) override {}

private:
    SayOnce say_;
};

const std::string noDisplay = "no X display";

} // namespace

std::unique_ptr<InputInjector> makeStandInInputInjector() {
    return std::make_unique<StandInInjector>(noDisplay, "no X display (DISPLAY is not set)");
}
std::unique_ptr<ClipboardSync> makeStandInClipboard() { return std::make_unique<StandInClipboard>(noDisplay); }
std::unique_ptr<AgentClipFiles> makeStandInClipFiles() { return std::make_unique<StandInClipFiles>(noDisplay); }

std::unique_ptr<InputInjector> makeStandInInputInjector(const std::string& missing) {
    return std::make_unique<StandInInjector>(missing, missing);
}
std::unique_ptr<ClipboardSync> makeStandInClipboard(const std::string& missing) {
    return std::make_unique<StandInClipboard>(missing);
}
std::unique_ptr<AgentClipFiles> makeStandInClipFiles(const std::string& missing) {
    return std::make_unique<StandInClipFiles>(missing);
}

} // namespace dovrel::agent

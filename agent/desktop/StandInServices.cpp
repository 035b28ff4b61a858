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
    void apply(const wex::InputEvent&) override { say_(); }
    void releaseAll() override {}
    void releaseHeld() override {}
    std::string unavailableReason() const override { return "no X display (DISPLAY is not set)"; }

private:
    SayOnce say_{"⚠︎ no X display — the controller's input is dropped"};
};

class StandInClipboard final : public ClipboardSync {
public:
    void start() override {}
    void stop() override {}
    void applyRemote(const std::string&) override { say_(); }

private:
    SayOnce say_{"⚠︎ no X display — clipboard text is not kept in step"};
};

class StandInClipFiles final : public AgentClipFiles {
public:
    void start() override {}
    void stop() override {}
    void onRemoteOffer(uint32_t, std::vector<wex::ClipFileEntry>) override { say_(); }
    void onPull(uint32_t, uint8_t) override {}
    void onData(uint32_t, uint8_t, uint64_t, wex::Bytes, bool) override {}

private:
    SayOnce say_{"⚠︎ no X display — clipboard files are not exchanged"};
};

} // namespace

std::unique_ptr<InputInjector> makeStandInInputInjector() { return std::make_unique<StandInInjector>(); }
std::unique_ptr<ClipboardSync> makeStandInClipboard() { return std::make_unique<StandInClipboard>(); }
std::unique_ptr<AgentClipFiles> makeStandInClipFiles() { return std::make_unique<StandInClipFiles>(); }

} // namespace dovrel::agent

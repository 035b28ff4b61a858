#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include "../../support/FakeScheduler.h"
#include "../../support/FileText.h"
#include "../../support/TempHome.h"
#include "../../support/TestController.h"
#include "agent/accounts/AgentAccounts.h"
#include "agent/core/Agent.h"
#include "agent/net/PrimaryInterface.h"
#include "agent/net/RegionPicker.h"
#include "agent/net/Transport.h"
#include "agent/shell/AgentPresenter.h"
#include "agent/shell/AppModel.h"
#include "protocol/NetAddress.h"

namespace dovrel::test {

using namespace std::chrono_literals;

inline QCoreApplication& qtApp() {
    static int argc = 1;
    static char arg0[] = "agent_service_tests";
    static char* argv[] = {arg0, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Spins the main thread's event loop (where the AppModel lives) until `done` or the time-out.
inline bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 3000ms) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Sends what the agent prints (descriptor 1) to a file for the test to read; shows it when the test
// failed, because gtest's own failure lines land in it too.
class LogCapture {
public:
    LogCapture() : path_(dir_.file("agent.log")) {
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        ::dup2(fd, STDOUT_FILENO);
        ::close(fd);
    }
    ~LogCapture() {
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
        if (::testing::Test::HasFailure()) std::printf("---- agent log ----\n%s-------------------\n", text().c_str());
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string text() const { return readFile(path_); }
    std::size_t count(const std::string& needle) const {
        const std::string t = text();
        std::size_t n = 0;
        for (std::size_t at = t.find(needle); at != std::string::npos; at = t.find(needle, at + 1))
            ++n;
        return n;
    }
    bool has(const std::string& needle) const { return count(needle) > 0; }
    bool waitFor(const std::string& needle, std::chrono::milliseconds timeout = 3000ms) const {
        return waitUntil([&] { return has(needle); }, timeout);
    }

private:
    TempDir dir_;
    std::string path_;
    int saved_ = -1;
};

// What the fakes were asked to do, in order; shared with the test thread.
struct Recorder {
    mutable std::mutex lock;
    std::vector<std::string> calls;
    bool resting = false;
    bool defaultH264 = false;
    std::vector<std::string> wakeSentOn;
    dovrel::agent::ClipboardSync::SendText clipboardSend;
    dovrel::agent::DesktopSession::NotLocked notLocked; // the last lock's way to say it did not lock

    void add(std::string call) {
        const std::lock_guard g(lock);
        calls.push_back(std::move(call));
    }
    std::size_t count(const std::string& call) const {
        const std::lock_guard g(lock);
        return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), call));
    }
    bool has(const std::string& call) const { return count(call) > 0; }
    std::vector<std::string> all() const {
        const std::lock_guard g(lock);
        return calls;
    }
    bool waitFor(const std::string& call, std::chrono::milliseconds timeout = 3000ms) const {
        return waitUntil([&] { return has(call); }, timeout);
    }
};

class FakeInjector final : public dovrel::agent::InputInjector {
public:
    explicit FakeInjector(std::shared_ptr<Recorder> r) : r_(std::move(r)) {}
    void apply(const wex::InputEvent& e) override { r_->add("apply:" + std::to_string(static_cast<int>(e.type()))); }
    void releaseAll() override { r_->add("releaseAll"); }
    void releaseHeld() override { r_->add("releaseHeld"); }

private:
    std::shared_ptr<Recorder> r_;
};

class FakeClipboard final : public dovrel::agent::ClipboardSync {
public:
    FakeClipboard(std::shared_ptr<Recorder> r, SendText send) : r_(std::move(r)) {
        const std::lock_guard g(r_->lock);
        r_->clipboardSend = std::move(send);
    }
    void start() override { r_->add("clipboard.start"); }
    void stop() override { r_->add("clipboard.stop"); }
    void applyRemote(const std::string& text) override { r_->add("clipboard.remote:" + text); }

private:
    std::shared_ptr<Recorder> r_;
};

class FakeFileReceiver final : public dovrel::agent::FileReceiver {
public:
    explicit FakeFileReceiver(std::shared_ptr<Recorder> r) : r_(std::move(r)) {}
    void offer(const wex::FileOffer& o) override { r_->add("file.offer:" + o.name); }
    void chunk(const wex::FileChunk& c) override { r_->add("file.chunk:" + std::to_string(c.offset)); }
    void end(const wex::FileEnd& e) override { r_->add("file.end:" + std::to_string(e.ok)); }
    void cancelAll() override { r_->add("file.cancelAll"); }

private:
    std::shared_ptr<Recorder> r_;
};

class FakeClipFiles final : public dovrel::agent::AgentClipFiles {
public:
    explicit FakeClipFiles(std::shared_ptr<Recorder> r) : r_(std::move(r)) {}
    void start() override { r_->add("clipfiles.start"); }
    void stop() override { r_->add("clipfiles.stop"); }
    void onRemoteOffer(uint32_t gen, std::vector<wex::ClipFileEntry> files) override {
        r_->add("clipfiles.offer:" + std::to_string(gen) + ":" + std::to_string(files.size()));
    }
    void onPull(uint32_t gen, uint8_t index) override {
        r_->add("clipfiles.pull:" + std::to_string(gen) + ":" + std::to_string(index));
    }
    void onData(uint32_t gen, uint8_t index, uint64_t offset, wex::Bytes, bool last) override {
        r_->add("clipfiles.data:" + std::to_string(gen) + ":" + std::to_string(index) + ":" + std::to_string(offset) +
                ":" + (last ? "last" : "more"));
    }

private:
    std::shared_ptr<Recorder> r_;
};

class FakeWakeEmitter final : public dovrel::agent::WakeEmitter {
public:
    explicit FakeWakeEmitter(std::shared_ptr<Recorder> r) : r_(std::move(r)) {}
    std::vector<std::string> send(const wex::MACAddress& mac, const std::vector<wex::LANInterface>& on) override {
        std::string names;
        for (const auto& i : on)
            names += (names.empty() ? "" : ",") + i.name;
        r_->add("wake.send:" + wex::formatMAC(mac) + "@" + names);
        const std::lock_guard g(r_->lock);
        return r_->wakeSentOn;
    }

private:
    std::shared_ptr<Recorder> r_;
};

class FakeDesktop final : public dovrel::agent::DesktopSession {
public:
    explicit FakeDesktop(std::shared_ptr<Recorder> r) : r_(std::move(r)) {}
    void lockAndTurnDisplayOff(NotLocked notLocked) override {
        {
            const std::lock_guard g(r_->lock);
            r_->notLocked = std::move(notLocked);
        }
        r_->add("desktop.lock");
    }
    void showLauncher() override { r_->add("desktop.launcher"); }
    void showWindowOverview() override { r_->add("desktop.overview"); }

private:
    std::shared_ptr<Recorder> r_;
};

class FakePipeline final : public dovrel::agent::SessionPipeline {
public:
    explicit FakePipeline(std::shared_ptr<Recorder> r) : r_(std::move(r)) {}
    void attach(dovrel::agent::PipelineHost host) override { host_ = std::move(host); }
    void start() override { r_->add("pipeline.start"); }
    bool defaultH264() const override {
        const std::lock_guard g(r_->lock);
        return r_->defaultH264;
    }
    void rebuildEncoder(bool h264, const std::string& reason) override {
        r_->add(std::string("rebuild:") + (h264 ? "h264" : "hevc") + ":" + reason);
    }
    void applyLinkBudget(bool relay) override { r_->add(relay ? "budget:relay" : "budget:lan"); }
    void requestKeyframe() override { r_->add("keyframe"); }
    void repairPicture() override { r_->add("repair"); }
    bool resting() const override {
        const std::lock_guard g(r_->lock);
        return r_->resting;
    }
    void setRest(bool on) override {
        bool changed = false;
        {
            const std::lock_guard g(r_->lock);
            changed = r_->resting != on;
            r_->resting = on;
        }
        r_->add(on ? "rest:on" : "rest:off");
        if (changed && host_.restingChanged) host_.restingChanged(on);
    }
    void switchDisplay(uint8_t id) override { r_->add("display:" + std::to_string(id)); }
    void startSessionReports() override { r_->add("reports.start"); }
    void stopSessionReports() override { r_->add("reports.stop"); }

private:
    std::shared_ptr<Recorder> r_;
    dovrel::agent::PipelineHost host_;
};

// Fakes for every desktop service the agent drives, recording into `rec`, and the real account work;
// no pipeline.
inline dovrel::agent::AgentServices fakeServices(const std::shared_ptr<Recorder>& rec) {
    dovrel::agent::AgentServices services;
    services.injector = std::make_unique<FakeInjector>(rec);
    services.clipboard = [rec](dovrel::agent::ClipboardSync::SendText send) {
        return std::make_unique<FakeClipboard>(rec, std::move(send));
    };
    services.fileRx = [rec](dovrel::agent::FileReceiver::Progress, dovrel::agent::FileReceiver::Refusal) {
        return std::make_unique<FakeFileReceiver>(rec);
    };
    services.clipFiles = [rec](std::shared_ptr<dovrel::agent::ControllerLink>) {
        return std::make_unique<FakeClipFiles>(rec);
    };
    services.accounts = [](dovrel::agent::AccountHost& host, dovrel::agent::RelayConfig& config) {
        return std::make_unique<dovrel::agent::AgentAccounts>(host, config);
    };
    services.wakeEmitter = std::make_unique<FakeWakeEmitter>(rec);
    services.desktop = std::make_unique<FakeDesktop>(rec);
    return services;
}

// The real network side on loopback, with ports the system picks for the listeners, `videoPort` for
// video, `clock` on "dovrel.net", the relay.json of `configDirectory` named in its hints and the relay's
// host names looked up through `resolver` (null: the system's): the transport, the region race and this
// machine's addresses. Returns the transport, which the agent made over `services` owns.
inline dovrel::agent::Transport& addNetwork(dovrel::agent::AgentServices& services, uint16_t videoPort,
                                            Scheduler& clock, const std::string& configDirectory,
                                            std::shared_ptr<HostResolver> resolver = nullptr) {
    dovrel::agent::TransportOptions options;
    options.resolver = std::move(resolver);
    options.relayConfigPath = dovrel::agent::RelayConfig::pathIn(configDirectory);
    options.ports = {0, 0, videoPort};
    options.listenAddress = QHostAddress::LocalHost;
    options.scheduler = &clock;
    auto transport = std::make_unique<dovrel::agent::Transport>(std::move(options));
    dovrel::agent::Transport& net = *transport;
    services.transport = std::move(transport);
    services.regions = dovrel::agent::makeRegionPicker();
    services.localAddress = dovrel::agent::makeSystemLocalAddress();
    return net;
}

// The window's commands, handed to the agent that a test makes after its model.
class CommandsToAgent final : public dovrel::agent::AgentCommands {
public:
    explicit CommandsToAgent(const std::unique_ptr<dovrel::agent::Agent>& agent) : agent_(agent) {}
    void disconnectSession() override { agent_->disconnectSession(); }
    void newGrant(double ttlHours) override { agent_->newGrant(ttlHours); }
    void cancelAllAccess() override { agent_->cancelAllAccess(); }
    void createShareCode() override { agent_->createShareCode(); }
    void signIn(const std::string& account, const std::string& password, bool create,
                const std::string& invite) override {
        agent_->signIn(account, password, create, invite);
    }
    void signOut() override { agent_->signOut(); }
    void refreshPairingLink() override { agent_->refreshPairingLink(); }
    void pairingCodeShown(bool shown) override { agent_->pairingCodeShown(shown); }
    void newPairingCode() override { agent_->newPairingCode(); }

private:
    const std::unique_ptr<dovrel::agent::Agent>& agent_;
};

// One agent in this process with fakes for its desktop services, listening on loopback ports the
// system picks, a fake clock on "dovrel.net", and a scripted controller (`ctl`) that receives video.
class AgentHarness {
public:
    struct Options {
        bool lan = true;
        std::vector<wex::Bytes> paired;
        bool withPipeline = false;
        // Replaces the default relay.json when set. The default pins the relay to a loopback port nobody
        // listens on, so that the relay link never looks up or dials a host outside the machine.
        std::string relayJson;
        std::vector<wex::LANInterface> interfaces = {{"eth-test", 0x0A4D0001, 0xFFFFFF00}}; // 10.77.0.1/24
        uint16_t videoPort = 0;                                 // where video goes; 0: to `ctl`
        std::vector<std::pair<std::string, std::string>> files; // written under the home first: path, text
        std::shared_ptr<HostResolver> resolver;                 // the relay link's; null: the system's
    };

    AgentHarness() : AgentHarness(Options{}) {}
    explicit AgentHarness(Options options) : options_(std::move(options)) {
        qtApp();
        const std::string state = home.file(".dovrel");
        if (!options_.paired.empty()) {
            std::string all;
            for (const auto& k : options_.paired)
                all.append(k.begin(), k.end());
            writeFile(state + "/paired", all);
        }
        for (const auto& [path, text] : options_.files)
            writeFile(home.file(path), text);
        writeFile(home.file(".config/Dovrel/relay.json"),
                  options_.relayJson.empty() ? std::string("{\"lan\": ") + (options_.lan ? "true" : "false") +
                                                   ", \"host\": \"127.0.0.1\", \"port\": 9}"
                                             : options_.relayJson);
        dovrel::agent::AgentServices services = fakeServices(rec);
        if (options_.withPipeline) services.pipeline = std::make_unique<FakePipeline>(rec);
        services.lanInterfaces = [list = options_.interfaces] { return list; };
        net = &addNetwork(services, options_.videoPort ? options_.videoPort : ctl.videoPort(), clock,
                          home.file(".config/Dovrel"), options_.resolver);

        dovrel::agent::AgentSettings settings;
        settings.stateDirectory = state;
        settings.configDirectory = home.file(".config/Dovrel");
        settings.deviceName = "Test Box";
        agent = std::make_unique<dovrel::agent::Agent>(std::move(services), std::move(settings));
        agent->run(presenter);
        // As with the program's window open: its codes count.
        agent->pairingCodeShown(true);
    }
    ~AgentHarness() { agent.reset(); }

    uint16_t controlPort() const { return agent->transport().controlPort(); }
    uint16_t inputPort() const { return agent->transport().inputPort(); }
    std::string stateDir() const { return home.file(".dovrel"); }

    // Moves the agent's clock on "dovrel.net", firing what falls due.
    void advance(Duration d) {
        agent->transport().queue().sync([&] { clock.advance(d); });
    }
    // Waits until "dovrel.net" has handled everything queued before this call.
    void settle() {
        agent->transport().queue().sync([] {});
    }
    // Gives bytes just sent on loopback time to be read by "dovrel.net" before the clock moves; for
    // steps that leave no other trace to wait for.
    void letArrive() {
        std::this_thread::sleep_for(50ms);
        settle();
    }

    // Lets the main thread handle what was posted to it (model changes).
    void pumpMain(std::chrono::milliseconds window = 100ms) {
        waitUntil([] { return false; }, window);
    }

    bool connect(TestController& c) { return c.connect(controlPort(), inputPort()); }

    std::string code() const { return agent->pairingCode(); }

    wex::Bytes pairedFile() const {
        const std::string text = readFile(home.file(".dovrel/paired"));
        return wex::Bytes(text.begin(), text.end());
    }

    Options options_;
    TempDir home;
    LogCapture log;
    FakeScheduler clock;
    std::shared_ptr<Recorder> rec = std::make_shared<Recorder>();
    TestController ctl;
    std::unique_ptr<dovrel::agent::Agent> agent;
    dovrel::agent::Transport* net = nullptr; // the agent's, for what only the network side tells
    CommandsToAgent commands{agent};
    dovrel::agent::AppModel model{commands, nullptr};
    FakeScheduler windowClock; // the presenter's, on the main thread
    dovrel::agent::AgentPresenter presenter{model, windowClock};
};

// An agent that has already paired this controller's key.
inline AgentHarness::Options pairedWith(const TestController& c, bool withPipeline = false) {
    AgentHarness::Options o;
    o.paired = {c.publicKey()};
    o.withPipeline = withPipeline;
    o.videoPort = c.videoPort();
    return o;
}

} // namespace dovrel::test

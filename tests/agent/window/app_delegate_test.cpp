// The application delegate on a fake clock: the 2 s refresh picks up a changed address and rebuilds the
// pairing link once, an older probe never overwrites a newer one, the window comes 1 s after launch and
// on request with the share code kept fresh, and the self-check runs every 30 minutes off the main
// thread.

#include <atomic>
#include <condition_variable>
#include <mutex>

#include <gtest/gtest.h>

#include <QThread>

#include "../../support/FakeScheduler.h"
#include "../shell/FakeAgentCommands.h"
#include "WindowTestSupport.h"
#include "agent/shell/AppDelegate.h"

using namespace dovrel;
using namespace dovrel::test;
using namespace std::chrono_literals;

namespace {

// Answers from plain fields, changed only between probes; one call can be held back to answer (all
// false) after a later one.
struct FakeSource final : agent::RefreshSource {
    agent::DesktopAccess access{true, true};
    std::vector<std::string> addresses;
    std::optional<std::string> lan = "192.168.1.24";
    std::atomic<int> calls{0};
    int holdCall = -1;
    std::mutex mutex;
    std::condition_variable releasedSignal;
    bool released = false;

    agent::DesktopAccess desktopAccess() override {
        if (++calls != holdCall) return access;
        std::unique_lock lock(mutex);
        releasedSignal.wait(lock, [&] { return released; });
        return {};
    }
    std::optional<bool> wakeOnMagicPacket() override { return true; }
    std::optional<bool> onBattery() override { return false; }
    std::vector<std::string> ipv4Addresses() override { return addresses; }
    std::optional<std::string> primaryLANIP() override { return lan; }
    void release() {
        {
            const std::lock_guard lock(mutex);
            released = true;
        }
        releasedSignal.notify_all();
    }
};

class CountingWindow final : public agent::WindowPresenter {
public:
    void present() override { ++presented; }
    int presented = 0;
};

struct Delegate {
    FakeAgentCommands commands;
    agent::AppModel model{commands, nullptr};
    FakeScheduler clock;
    FakeSource source;
    CountingWindow window;
    int linkRefreshes = 0;
    std::atomic<int> selfChecks{0};
    std::atomic<bool> selfCheckOnMain{false};
    QDateTime now = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
    int shareRequests = 0;
    std::unique_ptr<agent::AppDelegate> delegate;

    Delegate() {
        guiApp();
        commands.onCreateShareCode = [this] { ++shareRequests; };
        agent::DelegateActions actions;
        actions.refreshPairingURL = [this] { ++linkRefreshes; };
        actions.selfCheck = [this] {
            selfCheckOnMain = QThread::currentThread() == QCoreApplication::instance()->thread();
            ++selfChecks;
        };
        actions.wallClock = [this] { return now; };
        delegate = std::make_unique<agent::AppDelegate>(model, clock, source, window, std::move(actions));
    }
    // Runs one turn of the refresh and waits until it was applied.
    void tick(std::chrono::milliseconds by = 2000ms) {
        clock.advance(by);
        settle();
    }
    // Every probe has answered and its answer has reached the main thread.
    void settle() {
        delegate->waitForProbes();
        QCoreApplication::processEvents();
    }
};

} // namespace

TEST(AppDelegate, TheRefreshPicksUpAChangedAddressAndRebuildsTheLinkOnce) {
    Delegate d;
    d.delegate->start(true);
    d.tick(0ms);
    EXPECT_TRUE(d.model.lanIP().isEmpty()) << "no pairing code yet: the address is left alone";
    EXPECT_EQ(d.linkRefreshes, 0);
    EXPECT_TRUE(d.model.screenRecording());

    d.model.setPairingCode("482913");
    d.model.setLanIP("192.168.1.24");
    d.tick();
    EXPECT_EQ(d.linkRefreshes, 0);

    d.source.lan = std::nullopt; // the network went
    d.tick();
    EXPECT_EQ(d.model.lanIP(), "127.0.0.1");
    EXPECT_EQ(d.linkRefreshes, 1);
    d.tick();
    EXPECT_EQ(d.linkRefreshes, 1);

    d.source.lan = "10.0.0.7";
    d.source.addresses = {"10.0.0.7", "10.13.13.2", "10.13.13.5"};
    d.source.access = {false, false};
    d.tick();
    EXPECT_EQ(d.model.lanIP(), "10.0.0.7");
    EXPECT_EQ(d.model.wgIP(), "10.13.13.5");
    EXPECT_FALSE(d.model.screenRecording());
    EXPECT_EQ(d.linkRefreshes, 2);
}

TEST(AppDelegate, AnOlderProbeNeverOverwritesANewerOne) {
    Delegate d;
    d.source.holdCall = 1; // the first probe answers late, with stale values
    d.delegate->refresh();
    ASSERT_TRUE(waitFor([&] { return d.source.calls == 1; }));
    d.delegate->refresh();
    ASSERT_TRUE(waitFor([&] { return d.model.screenRecording(); }));
    d.source.release();
    d.settle(); // the held probe's stale answer arrives now, and must not land
    EXPECT_TRUE(d.model.screenRecording());
    EXPECT_TRUE(d.model.accessibility());
}

TEST(AppDelegate, TheWindowOpensAfterOneSecondAndOnRequestKeepingTheShareCodeFresh) {
    Delegate d;
    d.delegate->start(true);
    d.clock.advance(999ms);
    EXPECT_EQ(d.window.presented, 0);
    d.clock.advance(1ms);
    EXPECT_EQ(d.window.presented, 1);
    EXPECT_EQ(d.shareRequests, 1) << "no share code yet";
    d.settle();
    EXPECT_TRUE(d.model.wakeReady());

    d.model.setShareCode("7KQ4M2XD");
    d.model.setShareCodeExpiresAt(d.now);
    emit d.model.showWindowRequested(); // a second copy asked
    EXPECT_EQ(d.window.presented, 2);
    EXPECT_EQ(d.shareRequests, 1) << "expiring exactly now is not expired";
    d.now = d.now.addSecs(1);
    d.delegate->showWindow();
    EXPECT_EQ(d.shareRequests, 2);
    d.model.setShareCodeExpiresAt(QDateTime());
    d.delegate->showWindow();
    EXPECT_EQ(d.shareRequests, 2) << "a code without expiry is never renewed here";
    d.clock.advance(10s);
    EXPECT_EQ(d.window.presented, 4) << "the first show happens once";
}

TEST(AppDelegate, TheSelfCheckRunsEveryHalfHourOffTheMainThread) {
    Delegate d;
    d.delegate->start(true);
    d.clock.advance(1799s);
    d.settle();
    EXPECT_EQ(d.selfChecks, 0);
    d.clock.advance(1s);
    ASSERT_TRUE(waitFor([&] { return d.selfChecks == 1; }));
    EXPECT_FALSE(d.selfCheckOnMain);
    d.clock.advance(1800s);
    ASSERT_TRUE(waitFor([&] { return d.selfChecks == 2; }));
}

TEST(LatestResult, WhileTwoProbesHangANewRunIsDroppedNotQueued) {
    guiApp();
    std::mutex mutex;
    std::condition_variable wake;
    bool go = false;
    const auto hang = [&] {
        std::unique_lock lock(mutex);
        wake.wait(lock, [&] { return go; });
        return 1;
    };
    int applied = 0;
    agent::LatestResult<int> probes;
    EXPECT_TRUE(probes.run(hang, [&](int) { ++applied; }));
    EXPECT_TRUE(probes.run(hang, [&](int) { ++applied; }));
    EXPECT_FALSE(probes.run([] { return 2; }, [&](int) { ++applied; }));
    {
        const std::lock_guard lock(mutex);
        go = true;
    }
    wake.notify_all();
    probes.waitForProbes();
    QCoreApplication::processEvents();
    EXPECT_GE(applied, 1);
    EXPECT_TRUE(probes.run([] { return 3; }, [&](int) { ++applied; }));
    probes.waitForProbes();
}

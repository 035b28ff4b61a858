// The unpair flow alone, with a host that records what it is asked and a clock the test moves.
#include <gtest/gtest.h>

#include "FakeScheduler.h"
#include "TempHome.h"
#include "controller/client/link/ClientSecurity.h"
#include "controller/client/unpair/UnpairFlow.h"
#include "controller/platform/FileSecretStore.h"
#include "controller/platform/UserDefaults.h"

using namespace dovrel::controller;
using namespace std::chrono_literals;
using dovrel::test::FakeScheduler;
using dovrel::test::TempDir;

namespace {

struct RecordingHost : UnpairFlow::Host {
    std::vector<std::string> dialled;
    uint64_t attempt = 0;
    int disconnects = 0;
    std::vector<std::function<void()>> mainThread;

    uint64_t dialToUnpair(const std::string& room, const UnpairTarget&) override {
        dialled.push_back(room);
        return ++attempt;
    }
    uint64_t currentAttempt() const override { return attempt; }
    void disconnect() override { ++disconnects; }
    void onMainThread(std::function<void()> fn) override { mainThread.push_back(std::move(fn)); }
    void runMainThread() {
        auto fns = std::move(mainThread);
        for (auto& fn : fns)
            fn();
    }
};

struct UnpairFlowTest : ::testing::Test {
    TempDir dir;
    ClientSecurity security{std::make_shared<UserDefaults>(dir.file("conf/DovrelController.ini")),
                            std::make_shared<FileSecretStore>(dir.file("secrets"))};
    FakeScheduler clock;
    RecordingHost host;
    UnpairFlow flow{host, security, clock};
    std::vector<UnpairOutcome> results;
    const std::string room = std::string(32, 'a');

    void start(const std::string& id) {
        flow.start({id, "10.0.0.5", "Office", std::nullopt},
                   [this](UnpairOutcome outcome) { results.push_back(outcome); });
    }
};

} // namespace

TEST_F(UnpairFlowTest, AnUntrustedMachineIsOnlyForgottenAndNothingIsDialled) {
    start("");
    start(room);
    host.runMainThread();
    EXPECT_TRUE(host.dialled.empty());
    EXPECT_TRUE(results.empty());
}

TEST_F(UnpairFlowTest, TheSessionWithThatMachineEndsItOnceWithTrue) {
    security.trustAgent(wex::Bytes(32, 1), room);
    start(std::string(32, 'A'));
    ASSERT_EQ(host.dialled, std::vector<std::string>{room});
    ++host.attempt; // the client has gone on to another attempt
    EXPECT_FALSE(flow.isFor(room));
    --host.attempt;
    EXPECT_FALSE(flow.isFor(std::string(32, 'b')));
    ASSERT_TRUE(flow.isFor(room));
    flow.told();
    flow.told();
    clock.advance(20s);
    host.runMainThread();
    EXPECT_EQ(results, std::vector{UnpairOutcome::told});
    EXPECT_FALSE(security.trustedAgent(room));
    EXPECT_EQ(host.disconnects, 0);
}

TEST_F(UnpairFlowTest, TheTimeOutForgetsTheMachineAndEndsOnlyItsOwnAttempt) {
    security.trustAgent(wex::Bytes(32, 1), room);
    start(room);
    clock.advance(15s);
    host.runMainThread();
    EXPECT_EQ(results, std::vector{UnpairOutcome::unanswered});
    EXPECT_FALSE(security.trustedAgent(room));
    EXPECT_EQ(host.disconnects, 1);

    // A connect the user made meanwhile is left alone.
    security.trustAgent(wex::Bytes(32, 1), room);
    start(room);
    ++host.attempt;
    clock.advance(15s);
    host.runMainThread();
    EXPECT_EQ(results, (std::vector{UnpairOutcome::unanswered, UnpairOutcome::unanswered}));
    EXPECT_EQ(host.disconnects, 1);
}

TEST_F(UnpairFlowTest, ItFollowsItsAttemptToTheRelayAndAnAttemptThatCannotTellEndsItOnce) {
    security.trustAgent(wex::Bytes(32, 1), room);
    start(room);
    ++host.attempt; // the host did not answer: the relay's attempt is the same unpair
    flow.redialled();
    EXPECT_TRUE(flow.isFor(room));
    flow.cancel(UnpairOutcome::refused);
    flow.cancel();
    clock.advance(20s);
    host.runMainThread();
    EXPECT_EQ(results, std::vector{UnpairOutcome::refused}) << "ended once, as the attempt that could not tell said";
    EXPECT_FALSE(security.trustedAgent(room));
}

TEST_F(UnpairFlowTest, ABusyAgentIsDialledAgainWithinTheLimitAndNeverAfterTheFlowEnds) {
    security.trustAgent(wex::Bytes(32, 1), room);
    start(room);
    flow.busy(); // still ending the session this computer has just left
    clock.advance(1s);
    EXPECT_EQ(host.dialled.size(), 2u);
    EXPECT_TRUE(flow.isFor(room));
    flow.told();
    host.runMainThread();
    EXPECT_EQ(results, std::vector{UnpairOutcome::told});

    // Busy to the end: the limit still ends it, and a retry due after that dials nothing.
    security.trustAgent(wex::Bytes(32, 1), room);
    start(room);
    clock.advance(14500ms);
    flow.busy();
    clock.advance(1s);
    host.runMainThread();
    EXPECT_EQ(results, (std::vector{UnpairOutcome::told, UnpairOutcome::unanswered}));
    clock.advance(5s);
    EXPECT_EQ(host.dialled.size(), 3u);
}

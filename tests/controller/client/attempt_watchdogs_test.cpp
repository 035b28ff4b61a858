#include <gtest/gtest.h>

#include "FakeScheduler.h"
#include "controller/client/session/AttemptWatchdogs.h"

using namespace dovrel::controller;
using namespace std::chrono_literals;
using dovrel::test::FakeScheduler;

namespace {
struct Alarms : AttemptWatchdogs::Host {
    std::vector<std::string> unreached;
    int overdue = 0;
    void unreachable(const std::string& name, bool relay) override {
        unreached.push_back(name + (relay ? "/relay" : "/lan"));
    }
    void handshakeOverdue() override { ++overdue; }
};

struct AttemptWatchdogsTest : ::testing::Test {
    FakeScheduler clock;
    Alarms alarms;
    AttemptWatchdogs dogs{alarms, clock};
};
} // namespace

TEST_F(AttemptWatchdogsTest, AnAgentNotReachedInTimeEndsTheAttemptAndItsHandshakeDeadline) {
    dogs.begin();
    dogs.armReach("office", true);
    dogs.armHandshake();
    clock.advance(12s);
    EXPECT_EQ(alarms.unreached, std::vector<std::string>{"office/relay"});
    clock.advance(60s);
    EXPECT_EQ(alarms.overdue, 0);

    dogs.armReach("10.0.0.2", false);
    dogs.reached();
    clock.advance(60s);
    EXPECT_EQ(alarms.unreached.size(), 1u);
}

TEST_F(AttemptWatchdogsTest, TheHandshakeDeadlineIsSetOncePerAttempt) {
    dogs.begin();
    EXPECT_EQ(dogs.attempt(), 1u);
    dogs.armHandshake();
    clock.advance(30s);
    dogs.armHandshake(); // a re-dial within the attempt does not move it
    clock.advance(15s);
    EXPECT_EQ(alarms.overdue, 1);

    dogs.begin();
    EXPECT_EQ(dogs.attempt(), 2u);
    dogs.armHandshake();
    dogs.handshakeDone();
    clock.advance(60s);
    EXPECT_EQ(alarms.overdue, 1);
    // After a session, the next Hello has a deadline of its own.
    dogs.armHandshake();
    clock.advance(45s);
    EXPECT_EQ(alarms.overdue, 2);
}

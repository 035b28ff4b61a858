// The slow-link notice once pictures are shown: a link that drops pieces of most pictures for five
// seconds in a row says so, and three seconds of whole pictures take it back (on the client's fake clock).
#include <gtest/gtest.h>

#include "HostileSession.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;
using dovrel::test::HostileAgent;
using dovrel::test::TinyH264;

namespace {

using SlowLinkSession = HostileSession;

} // namespace

TEST_F(SlowLinkSession, PicturesThatKeepArrivingDamagedSayTheLinkIsTooSlowUntilTheyComeWholeAgain) {
    connect();
    WEXClient& c = client();
    uint32_t id = 1;
    const auto whole = [&](bool keyframe, uint32_t sinceKey) {
        const auto units = keyframe ? TinyH264::keyframe(640, 480) : TinyH264::repeat(640, 480, sinceKey);
        hostile.sendVideo(id, HostileAgent::picture(id, 640, 480, units, keyframe));
        ++id;
        hostile.flushPace();
    };
    // Units that fill three pieces, of which the last never comes: what lay in the first two is decoded.
    const auto damaged = [&] {
        hostile.sendVideo(
            id, HostileAgent::picture(id, 640, 480, std::vector<wex::Bytes>(8, wex::Bytes(300, 0x41)), false), 2);
        ++id;
        hostile.flushPace();
    };
    // Whole pictures, as the agent sends them: a keyframe when one was asked for, else a repeat.
    int answered = 0;
    uint32_t sinceKey = 0;
    const auto next = [&] {
        int asked = 0;
        for (const auto& m : agent.sealedReceived)
            asked += m.type == static_cast<uint8_t>(wex::ControlType::keyframeRequest) ? 1 : 0;
        const bool key = asked > answered;
        answered = asked;
        sinceKey = key ? 0 : sinceKey + 1;
        whole(key, sinceKey);
    };
    // A quarter of a second of the client's time for each picture.
    const auto quarter = [&] {
        pump(30ms);
        f.advance(250ms, 250ms);
    };

    whole(true, 0);
    ASSERT_TRUE(waitUntil([&] { return c.hasFirstFrame(); }));
    for (uint32_t i = 1; i <= 8; ++i) {
        whole(false, i);
        quarter();
    }
    EXPECT_FALSE(c.linkTooSlow());

    // Every picture loses a piece: three seconds are not yet too many, seven are.
    for (int i = 0; i < 12; ++i) {
        damaged();
        quarter();
    }
    EXPECT_FALSE(c.linkTooSlow());
    for (int i = 0; i < 16 && !c.linkTooSlow(); ++i) {
        damaged();
        quarter();
    }
    ASSERT_TRUE(waitUntil([&] { return c.linkTooSlow(); }));
    EXPECT_TRUE(c.hasFirstFrame());

    // The keyframe asked for, and whole pictures after it: the notice stays for a second, and goes once
    // three seconds have been whole.
    for (int i = 0; i < 4; ++i) {
        next();
        quarter();
    }
    EXPECT_TRUE(c.linkTooSlow());
    for (int i = 0; i < 24 && c.linkTooSlow(); ++i) {
        next();
        quarter();
    }
    EXPECT_TRUE(waitUntil([&] { return !c.linkTooSlow(); }));

    // A picture damaged now and then is no slow link.
    for (int i = 0; i < 40; ++i) {
        if (i % 4 == 0)
            damaged();
        else
            next();
        quarter();
    }
    EXPECT_FALSE(c.linkTooSlow());
}

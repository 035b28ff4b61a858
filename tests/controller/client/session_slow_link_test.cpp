// The slow-link notice once pictures are shown: a link that drops pieces of most pictures for five
// seconds in a row says so, and three seconds of whole pictures take it back, not fewer; so do pictures
// that all arrive whole but can only be shown concealed, since one they refer to never came (on the
// client's fake clock).
#include <gtest/gtest.h>

#include "HostileSession.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;
using dovrel::test::HostileAgent;
using dovrel::test::TinyH264;

using SlowLinkSession = HostileSession;

TEST_F(SlowLinkSession, PicturesThatKeepArrivingDamagedSayTheLinkIsTooSlowUntilTheyComeWholeAgain) {
    connect();
    WEXClient& c = client();
    uint32_t id = 1, sinceKey = 0;
    int answered = 0;
    bool grant = true; // the agent answers keyframe requests
    // A picture, and a quarter of a second of the client's time. A damaged one fills three pieces, of
    // which the last never comes; a whole one is a keyframe when one was asked for, as the agent sends.
    const auto picture = [&](bool damaged) {
        const int asked =
            static_cast<int>(std::count_if(agent.sealedReceived.begin(), agent.sealedReceived.end(), [](const auto& m) {
                return m.type == static_cast<uint8_t>(wex::ControlType::keyframeRequest);
            }));
        const bool key = !damaged && (id == 1 || (grant && asked > answered));
        if (key) answered = asked;
        sinceKey = key ? 0 : sinceKey + 1;
        const auto units = damaged ? std::vector<wex::Bytes>(8, wex::Bytes(300, 0x41))
                           : key   ? TinyH264::keyframe(640, 480)
                                   : TinyH264::repeat(640, 480, sinceKey);
        hostile.sendVideo(id, HostileAgent::picture(id, 640, 480, units, key), damaged ? 2 : -1);
        ++id;
        hostile.flushPace();
        pump(30ms);
        f.advance(250ms, 250ms);
    };

    for (int i = 0; i < 8; ++i)
        picture(false);
    ASSERT_TRUE(waitUntil([&] { return c.hasFirstFrame(); }));
    EXPECT_FALSE(c.linkTooSlow());
    // Every picture loses a piece: three seconds are not yet too many, seven are.
    for (int i = 0; i < 12; ++i)
        picture(true);
    EXPECT_FALSE(c.linkTooSlow());
    for (int i = 0; i < 16 && !c.linkTooSlow(); ++i)
        picture(true);
    ASSERT_TRUE(waitUntil([&] { return c.linkTooSlow(); }));
    // The keyframe asked for, and whole pictures after it: the notice stays while they have been whole
    // for less than three seconds, and goes once they have.
    for (int i = 1; i <= 10; ++i) {
        picture(false);
        EXPECT_TRUE(c.linkTooSlow()) << "gone after " << i * 250 << " ms of whole pictures";
    }
    for (int i = 0; i < 24 && c.linkTooSlow(); ++i)
        picture(false);
    EXPECT_TRUE(waitUntil([&] { return !c.linkTooSlow(); }));
    // A picture damaged now and then is no slow link.
    for (int i = 0; i < 40; ++i)
        picture(i % 4 == 0);
    EXPECT_FALSE(c.linkTooSlow());

    // One picture lost whole, and no keyframe granted: every picture after it arrives whole, yet the
    // screen shows them concealed, as a link that loses a piece now and then leaves it.
    for (int i = 0; i < 8; ++i)
        picture(false);
    ++id;
    ++sinceKey;
    grant = false;
    for (int i = 0; i < 16; ++i)
        picture(false);
    EXPECT_FALSE(c.linkTooSlow());
    for (int i = 0; i < 16 && !c.linkTooSlow(); ++i)
        picture(false);
    ASSERT_TRUE(waitUntil([&] { return c.linkTooSlow(); }));
    grant = true;
    for (int i = 0; i < 24 && c.linkTooSlow(); ++i)
        picture(false);
    EXPECT_TRUE(waitUntil([&] { return !c.linkTooSlow(); }));
}

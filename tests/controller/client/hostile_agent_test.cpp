// The client against an agent that means harm: what it sends inside a session changes nothing it
// should not, costs bounded memory and time, and leaves the session usable.
#include <gtest/gtest.h>

#include "HostileSession.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;
using dovrel::test::HostileAgent;

TEST_F(HostileSession, VideoIdentifiersInAnyOrderNeverWedgeThePicture) {
    struct Case {
        const char* name;
        std::vector<uint32_t> junk; // frames of which only a first piece comes, or which come whole
        bool whole;
        uint32_t streamFrom;
    };
    const auto descending = [](uint32_t from, int n) {
        std::vector<uint32_t> ids;
        for (int i = 0; i < n; ++i)
            ids.push_back(from - static_cast<uint32_t>(i));
        return ids;
    };
    const std::vector<Case> cases = {
        {"descending to the stream's first", descending(25, 25), false, 1},
        {"descending from above the stream", descending(1000, 25), false, 1},
        {"descending from the top", descending(0xFFFFFFFF, 25), false, 1},
        {"descending into the stream", descending(40, 25), false, 20},
        {"whole frames above the stream", descending(300, 30), true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        connect();
        const uint64_t shownBefore = surface->generation();
        for (const uint32_t id : c.junk) {
            if (c.whole)
                hostile.sendVideo(id, HostileAgent::picture(id, 64, 64, {wex::Bytes(200, 0x41)}, false));
            else
                hostile.sendFirstPiece(id, 3);
        }
        // A stream with a single keyframe, at its start: nothing may keep that keyframe out.
        sendStream(c.streamFrom, 40);
        EXPECT_TRUE(waitUntil([&] { return client().hasFirstFrame(); }));
        EXPECT_GE(surface->generation() - shownBefore, 39u);
        client().disconnectSession();
        ASSERT_TRUE(waitUntil([&] { return !agent.inSession() && !client().hasFirstFrame(); }));
    }
}

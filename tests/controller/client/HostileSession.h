#pragma once

#include <chrono>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "ClientTestSupport.h"
#include "HostileAgent.h"
#include "TinyH264.h"
#include "controller/client/video/VideoSurface.h"

namespace dovrel::controller::test {

// The real client, on a fake clock with a surface for its pictures, in a session with an agent that
// means harm.
struct HostileSession : ::testing::Test {
    ClientFixture f{true};
    dovrel::test::HostileAgent hostile;
    dovrel::test::TestAgent& agent = hostile.agent;
    std::shared_ptr<VideoSurface> surface = std::make_shared<VideoSurface>();

    void SetUp() override {
        ASSERT_TRUE(agent.listen());
        f.config.controlPort = agent.controlPort();
        f.config.inputPort = agent.inputPort();
    }
    WEXClient& client() { return f.client ? *f.client : f.make(); }
    int64_t received() {
        int64_t n = 0;
        client().runOnClientThread([&](ClientCore& c) { n = c.rxBytes(); });
        return n;
    }

    void connect() {
        client().attachVideoSurface(surface);
        client().connectToHost("127.0.0.1", QString::fromStdString(agent.pairingCode));
        ASSERT_TRUE(f.waitPhase(PhaseKind::connected));
        ASSERT_TRUE(waitUntil([&] { return agent.inSession(); }));
        client().runOnClientThread([&](ClientCore& c) { hostile.videoPort = c.boundVideoPort(); });
        const int64_t base = received(), sentBefore = hostile.videoBytes;
        hostile.pace = [this, base, sentBefore](int64_t sent) {
            waitUntil([&] { return received() - base >= sent - sentBefore; });
        };
    }

    // Waits for `done` while the main thread handles nothing, as with a window busy drawing.
    static bool waitUntilNoEvents(const std::function<bool()>& done) {
        for (const auto until = std::chrono::steady_clock::now() + 20s; !done(); std::this_thread::sleep_for(1ms))
            if (std::chrono::steady_clock::now() > until) return false;
        return true;
    }

    // A grey stream of `frames` pictures from `firstId` on, a keyframe and then repeats, at the pace
    // of a picture taken in and decoded at a time.
    void sendStream(uint32_t firstId, int frames) {
        for (int i = 0; i < frames; ++i) {
            const auto units = i == 0 ? dovrel::test::TinyH264::keyframe(640, 480)
                                      : dovrel::test::TinyH264::repeat(640, 480, static_cast<uint32_t>(i));
            const uint32_t id = firstId + static_cast<uint32_t>(i);
            hostile.sendVideo(id, dovrel::test::HostileAgent::picture(id, 640, 480, units, i == 0));
            hostile.flushPace();
            client().runOnClientThread([](ClientCore& c) { c.decoder().waitIdle(5s); });
        }
    }
};

} // namespace dovrel::controller::test

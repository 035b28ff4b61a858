#pragma once

#include <chrono>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "ClientTestSupport.h"
#include "HostileAgent.h"
#include "TinyH264.h"
#include "controller/client/VideoSurface.h"

namespace dovrel::controller::test {

// The real client in a session with an agent that means harm, on loopback and a fake clock, with a
// surface for its pictures.
struct HostileSession : ::testing::Test {
    ClientFixture f{true};
    dovrel::test::HostileAgent hostile;
    dovrel::test::TestAgent& agent = hostile.agent;
    std::shared_ptr<VideoSurface> surface = std::make_shared<VideoSurface>();

    void SetUp() override {
        app();
        ASSERT_TRUE(hostile.listen());
        f.config.controlPort = agent.controlPort();
        f.config.inputPort = agent.inputPort();
    }

    WEXClient& client() { return f.client ? *f.client : f.make(); }

    template <class T> T onClientThread(const std::function<T(ClientCore&)>& fn) {
        T out{};
        client().runOnClientThread([&](ClientCore& c) { out = fn(c); });
        return out;
    }
    int64_t received() {
        return onClientThread<int64_t>([](ClientCore& c) { return c.rxBytes(); });
    }

    void connect() {
        client().attachVideoSurface(surface);
        client().connectToHost("127.0.0.1", QString::fromStdString(agent.pairingCode));
        ASSERT_TRUE(f.waitPhase(PhaseKind::connected));
        ASSERT_TRUE(waitUntil([&] { return agent.inSession(); }));
        hostile.videoPort = onClientThread<uint16_t>([](ClientCore& c) { return c.boundVideoPort(); });
        const int64_t base = received(), sentBefore = hostile.videoBytesSent();
        hostile.pace = [this, base, sentBefore](int64_t sent) {
            waitUntil([&] { return received() - base >= sent - sentBefore; });
        };
    }

    // Waits for `done` without letting the main thread handle anything, as with a window busy drawing.
    static bool waitUntilNoEvents(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    // Waits until the client has taken in every video piece sent and decoded what it could, as the
    // agent's pace of a picture at a time allows.
    void caughtUp() {
        hostile.flushPace();
        client().runOnClientThread([](ClientCore& c) { c.decoder().waitIdle(std::chrono::seconds(5)); });
    }

    // A grey stream of `frames` pictures from `firstId` on: a keyframe, then repeats.
    void sendStream(uint32_t firstId, int frames, int width = 640, int height = 480) {
        for (int i = 0; i < frames; ++i) {
            const bool key = i == 0;
            const auto units = key ? dovrel::test::TinyH264::keyframe(width, height)
                                   : dovrel::test::TinyH264::repeat(width, height, static_cast<uint32_t>(i));
            hostile.sendVideo(
                firstId + static_cast<uint32_t>(i),
                dovrel::test::HostileAgent::picture(firstId + static_cast<uint32_t>(i), width, height, units, key));
            caughtUp();
        }
    }
};

} // namespace dovrel::controller::test

// The real DovrelAgent streaming a busy desktop (a private Xvfb) to the real client through a link of
// 3 Mbit/s with a shallow queue (the in-process shaper): its 12 Mbit/s budget does not fit, so pieces are
// dropped at first; the agent comes down to what the link carries, and whole pictures keep arriving.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>

#include "../client/ClientTestSupport.h"
#include "AgentUnderTest.h"
#include "BusyPainter.h"
#include "FreeUdpPort.h"
#include "LinkShaper.h"
#include "XvfbServer.h"
#include "controller/client/video/VideoSurface.h"

using namespace dovrel;
using namespace dovrel::controller;
using namespace dovrel::controller::test;
using namespace std::chrono_literals;

namespace {

constexpr int64_t linkRate = 3'000'000;

// What the agent sent into the link over the last two seconds, from the shaper's totals sampled as the
// test waits.
struct SentRate {
    std::deque<std::pair<std::chrono::steady_clock::time_point, uint64_t>> samples;
    std::optional<double> lastTwoSeconds(const dovrel::test::LinkShaper& shaper) {
        const auto now = std::chrono::steady_clock::now();
        samples.emplace_back(now, shaper.totals().offeredBytes);
        while (samples.size() > 1 && now - samples[1].first >= 2s)
            samples.pop_front();
        if (now - samples.front().first < 2s) return std::nullopt;
        return static_cast<double>(samples.back().second - samples.front().second) * 8 /
               std::chrono::duration<double>(now - samples.front().first).count();
    }
};

} // namespace

TEST(SlowLink, BehindALinkSlowerThanItsBudgetTheAgentComesDownAndWholePicturesKeepArriving) {
    app();
    dovrel::test::XvfbServer x(1280, 720);
    if (!x.available()) GTEST_SKIP() << x.failure();
    ASSERT_TRUE(x.running()) << x.failure();
    dovrel::test::BusyPainter painter(x.display());

    ClientFixture f;
    f.config.videoPort = dovrel::test::freeUdpPort();
    dovrel::test::LinkShaper shaper(f.config.videoPort, linkRate);
    AgentUnderTest agent;
    const wex::Bytes key = f.keyTrusting(agent.publicKey(), agent.room());
    std::string why;
    ASSERT_TRUE(
        agent.start(DOVREL_AGENT_BINARY, key, shaper.port(), {{"DISPLAY", x.display()}, {"DOVREL_H264", "1"}}, why))
        << why;
    f.config.inputPort = agent.inputPort();
    WEXClient& c = f.make();
    std::atomic<uint64_t> whole{0};
    auto surface = std::make_shared<VideoSurface>();
    surface->setObserver([&](const VideoPicture& p) {
        if (p.whole) ++whole;
    });
    c.attachVideoSurface(surface);
    c.connectToHost(QString("127.0.0.1:%1").arg(agent.controlPort()));
    ASSERT_TRUE(f.waitPhase(PhaseKind::connected, 15s)) << f.message() << " / " << f.status() << "\n" << agent.tail(30);

    // At its budget the agent sends more than the link carries, and the link drops what does not fit;
    // then it sends less than the link carries.
    ASSERT_TRUE(waitUntil([&] { return shaper.totals().droppedDatagrams > 0; }, 30s)) << agent.tail(30);
    SentRate sent;
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto rate = sent.lastTwoSeconds(shaper);
            return rate && *rate < linkRate;
        },
        60s))
        << agent.tail(80);

    // And pictures keep coming whole, more than a hundred of them.
    const uint64_t before = whole.load();
    EXPECT_TRUE(waitUntil([&] { return whole.load() >= before + 100; }, 60s))
        << whole.load() - before << " whole pictures\n"
        << agent.tail(80);
    c.disconnectSession();
    pump(200ms);
}

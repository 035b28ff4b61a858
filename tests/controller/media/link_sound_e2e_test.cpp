// The real DovrelAgent recording a tone from a private PulseAudio server while it streams a moving desktop
// (a private Xvfb) to the real client through the in-process shaper. As the link slows to 1 Mbit/s the
// agent sends its sound at lower rates and on one channel, and a session on a fast link gets 48 kHz
// stereo: the client's player receives each format as it comes, plays them all into the one output it
// opened, and the tone arrives in each at its frequency and level.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <sstream>

#include "../client/ClientTestSupport.h"
#include "AgentUnderTest.h"
#include "BusyPainter.h"
#include "FreeUdpPort.h"
#include "LinkShaper.h"
#include "PulseAudioServer.h"
#include "ToneMeasure.h"
#include "TonePlayer.h"
#include "XvfbServer.h"
#include "controller/client/video/VideoSurface.h"

using namespace dovrel;
using namespace dovrel::controller;
using namespace dovrel::controller::test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double toneHz = 440, toneLevel = 0.5;
constexpr AudioFormat full{48000, 2};

// What the client's player wrote to the sound system, stamped as it came.
struct HeardSound {
    struct Output final : AudioOutput {
        explicit Output(HeardSound& h) : heard(h) {}
        void write(std::span<const int16_t> samples) override {
            const std::lock_guard g(heard.lock);
            heard.writes.push_back({Clock::now(), std::vector<int16_t>(samples.begin(), samples.end())});
        }
        std::chrono::milliseconds buffered() const override { return {}; }
        bool failed() const override { return false; }
        HeardSound& heard;
    };
    AudioOutputFactory factory() {
        return [this](const AudioFormat& format, std::string&) -> std::unique_ptr<AudioOutput> {
            const std::lock_guard g(lock);
            opened.push_back(format);
            return std::make_unique<Output>(*this);
        };
    }
    // The samples written within [from, to].
    std::vector<int16_t> between(Clock::time_point from, Clock::time_point to) {
        const std::lock_guard g(lock);
        std::vector<int16_t> out;
        for (const auto& [at, samples] : writes)
            if (at >= from && at <= to) out.insert(out.end(), samples.begin(), samples.end());
        return out;
    }

    std::mutex lock;
    std::vector<AudioFormat> opened;
    std::vector<std::pair<Clock::time_point, std::vector<int16_t>>> writes;
};

// The formats the player received, as the test saw them follow one another.
struct FormatWatch {
    struct Run {
        AudioFormat format;
        Clock::time_point first, last;
    };
    const AudioPlayer& player;
    std::vector<Run> runs;

    void look() {
        const auto format = player.incoming();
        if (!format) return;
        const auto now = Clock::now();
        if (runs.empty() || runs.back().format != *format)
            runs.push_back({*format, now, now});
        else
            runs.back().last = now;
    }
    // Waits until the player has received a format that `which` takes for `d` on end.
    template <class Which> bool waitFor(Which which, Clock::duration d, std::chrono::milliseconds limit) {
        return waitUntil(
            [&] {
                look();
                return !runs.empty() && which(runs.back().format) && runs.back().last - runs.back().first >= d;
            },
            limit);
    }
    std::string text() const {
        std::ostringstream out;
        for (const Run& r : runs)
            out << r.format.sampleRate << "/" << int(r.format.channels) << " for "
                << std::chrono::duration_cast<std::chrono::milliseconds>(r.last - r.first).count() << " ms; ";
        return out.str();
    }
};

// The agent's changes of rate, out of its log.
std::string rateLines(const AgentUnderTest& agent) {
    std::istringstream in(agent.log());
    std::string out, line;
    while (std::getline(in, line))
        if (line.find("• link: ") != std::string::npos) out += line + "\n";
    return out;
}

} // namespace

TEST(LinkSound, AsTheLinkSlowsTheToneArrivesInEachFormatTheAgentSendsAndAtFullQualityOnceItIsFast) {
    app();
    dovrel::test::PulseAudioServer pulse;
    if (!pulse.available()) GTEST_SKIP() << pulse.failure();
    ASSERT_TRUE(pulse.running()) << pulse.failure();
    dovrel::test::TonePlayer tone(pulse.server(), {toneHz, toneLevel});
    ASSERT_TRUE(tone.playing()) << tone.failure();
    dovrel::test::XvfbServer x(1280, 720);
    if (!x.available()) GTEST_SKIP() << x.failure();
    ASSERT_TRUE(x.running()) << x.failure();
    // A screen that keeps moving, but not more than a slow link carries once the agent has come down.
    dovrel::test::BusyPainter painter(x.display(), 40);

    HeardSound heard; // outlives the client, whose sound thread writes into it
    ClientFixture f;
    f.config.videoPort = dovrel::test::freeUdpPort();
    f.config.audioOutputs = heard.factory();
    dovrel::test::LinkShaper shaper(f.config.videoPort);
    AgentUnderTest agent;
    const wex::Bytes key = f.keyTrusting(agent.publicKey(), agent.room());
    std::string why;
    // A budget of 3 Mbit/s, at which the sound is 48 kHz stereo: the agent comes down to 0.75 Mbit/s
    // within seconds. Its sound server is this test's (PULSE_SERVER).
    ASSERT_TRUE(agent.start(DOVREL_AGENT_BINARY, key, shaper.port(),
                            {{"DISPLAY", x.display()}, {"DOVREL_H264", "1"}, {"DOVREL_BITRATE", "3000000"}}, why))
        << why;
    f.config.inputPort = agent.inputPort();
    WEXClient& c = f.make();
    c.attachVideoSurface(std::make_shared<VideoSurface>());
    const auto session = [&] {
        c.connectToHost(QString("127.0.0.1:%1").arg(agent.controlPort()));
        return f.waitPhase(PhaseKind::connected, 15s);
    };
    ASSERT_TRUE(session()) << f.message() << " / " << f.status() << "\n" << agent.tail(30);
    const AudioPlayer* player = nullptr;
    c.runOnClientThread([&](ClientCore& core) { player = &core.audioPlayer().player(); });
    FormatWatch watch{*player, {}};
    const auto isFull = [](AudioFormat format) { return format == full; };

    ASSERT_TRUE(watch.waitFor(isFull, 1500ms, 20s)) << watch.text() << "\n" << rateLines(agent);
    const auto shapedAt = Clock::now();
    shaper.setRate(1'000'000);
    // Down through 16 kHz mono (1.5 Mbit/s) to 8 kHz mono (0.75 Mbit/s and below), and held there.
    ASSERT_TRUE(watch.waitFor(
        [](AudioFormat format) {
            return format == AudioFormat{8000, 1};
        },
        3s, 60s))
        << watch.text() << "\n"
        << rateLines(agent);
    // One output all along: no change of format reopened it.
    EXPECT_EQ(heard.opened, (std::vector<AudioFormat>{full}));
    c.disconnectSession();
    ASSERT_TRUE(f.waitPhase(PhaseKind::disconnected, 10s));

    // A session on a fast link begins at the full budget: 48 kHz stereo again.
    shaper.setRate(0);
    const auto fastAt = Clock::now();
    ASSERT_TRUE(session()) << f.message() << " / " << f.status();
    ASSERT_TRUE(watch.waitFor(isFull, 1500ms, 20s)) << watch.text() << "\n" << rateLines(agent);
    c.disconnectSession();
    pump(200ms);

    // The formats in the order the player received them: 48 kHz stereo, the lower ones on one channel,
    // then 48 kHz stereo again.
    std::vector<AudioFormat> order;
    for (const FormatWatch::Run& run : watch.runs)
        if (order.empty() || order.back() != run.format) order.push_back(run.format);
    ASSERT_GE(order.size(), 4u) << watch.text();
    EXPECT_EQ(order.front(), full);
    EXPECT_EQ(order.back(), full);
    EXPECT_TRUE(std::find(order.begin(), order.end(), AudioFormat{16000, 1}) != order.end()) << watch.text();
    EXPECT_TRUE(std::find(order.begin(), order.end(), AudioFormat{8000, 1}) != order.end()) << watch.text();
    for (std::size_t i = 1; i + 1 < order.size(); ++i)
        EXPECT_EQ(order[i].channels, 1) << watch.text();

    // The tone in what was played in each format that lasted, a little way in from either end; behind
    // the slow link with what it lost while the agent still sent more than it carried.
    for (const FormatWatch::Run& run : watch.runs) {
        // Before the link slowed down, and after.
        const auto end = run.first < shapedAt ? std::min(run.last, shapedAt) : run.last;
        if (end - run.first < 600ms) continue;
        const bool lossless = run.first < shapedAt || run.first > fastAt;
        SCOPED_TRACE(std::to_string(run.format.sampleRate) + " Hz, " + std::to_string(run.format.channels) +
                     " channel(s)" + (lossless ? "" : " behind the slow link"));
        const auto samples = heard.between(run.first + 150ms, end - 100ms);
        for (std::size_t channel = 0; channel < 2; ++channel) {
            const dovrel::test::HeardTone t = dovrel::test::measureTone(samples, 2, channel, 48000);
            EXPECT_GT(t.sounding, 48000u / 4);
            EXPECT_NEAR(t.hz, toneHz, toneHz * (lossless ? 0.02 : 0.05));
            EXPECT_NEAR(t.peak, toneLevel, lossless ? 0.03 : 0.1);
        }
    }
}

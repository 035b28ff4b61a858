// Displays and statistics: the display list, switching displays, DeckStat and the health line once a
// second with their warnings.

#include "PipelineTestSupport.h"
#include "agent/media/SessionReports.h"

using namespace dovrel;
using namespace dovrel::test;

namespace {

wex::DisplayList lastDisplayList(HostRecorder& rec) {
    const auto lists = rec.controlOf(wex::ControlType::displayList);
    if (lists.empty()) throw std::runtime_error("no display list was sent");
    return wex::DisplayList::decode(lists.back());
}

wex::DisplayFlags flags(std::initializer_list<wex::DisplayFlag> f) {
    wex::DisplayFlags out;
    for (auto x : f)
        out.insert(x);
    return out;
}

} // namespace

TEST(SessionReports, TheDisplayListNumbersTheMonitorsAndMarksTheMainAndTheStreamedOne) {
    PipelineRig rig({{"DP-1", 0, 0, 1920, 1080, false}, {"HDMI-1", 1920, 0, 1280, 1024, true}});
    rig.start();
    rig.pipeline->sendDisplayList();
    const auto list = lastDisplayList(rig.rec);
    ASSERT_EQ(list.displays.size(), 2u);
    EXPECT_EQ(list.reqId, 0);
    EXPECT_EQ(list.displays[0],
              (wex::DisplayInfo{0, 1920, 1080, 0, 0, flags({wex::DisplayFlag::streaming}), "Main display"}));
    EXPECT_EQ(list.displays[1],
              (wex::DisplayInfo{1, 1280, 1024, 0, 0, flags({wex::DisplayFlag::primary}), "Display 2"}));

    PipelineRig one({{"eDP-1", 0, 0, 2880, 1800, false}});
    one.start();
    one.pipeline->sendDisplayList();
    EXPECT_EQ(lastDisplayList(one.rec).displays[0].flags,
              flags({wex::DisplayFlag::primary, wex::DisplayFlag::streaming}))
        << "without a primary monitor the first one is the main display";
}

TEST(SessionReports, SwitchingDisplaysRebuildsForTheNewSizeAndTellsTheClientAndTheInjector) {
    LogCapture log;
    PipelineRig rig;
    rig.start();
    rig.pipeline->switchDisplay(0);
    rig.settle();
    EXPECT_EQ(rig.encoders->count(), 1u) << "the display already streamed: nothing happens";
    EXPECT_TRUE(rig.rec.controlOf(wex::ControlType::displayList).empty());

    rig.pipeline->switchDisplay(5); // beyond the list: the last display, logged as asked
    rig.settle();
    EXPECT_TRUE(log.has("• switched to display 5 — 1280×1024"));
    EXPECT_EQ(rig.capturer()->currentIndex(), 1);
    EXPECT_EQ(rig.encoders->last().width, 1280);
    EXPECT_EQ(rig.encoders->last().height, 1024);
    EXPECT_EQ(rig.pipeline->frameWidth(), 1280);
    const auto list = lastDisplayList(rig.rec);
    EXPECT_EQ(list.displays[1].flags, flags({wex::DisplayFlag::streaming}));
    EXPECT_EQ(list.displays[0].flags, flags({wex::DisplayFlag::primary}));
    const std::lock_guard g(rig.rec.lock);
    ASSERT_EQ(rig.rec.areas.size(), 2u);
    EXPECT_EQ(rig.rec.areas[0], (agent::StreamedArea{0, 0, 1920, 1080, 1920, 1080}));
    EXPECT_EQ(rig.rec.areas[1], (agent::StreamedArea{1920, 0, 1280, 1024, 1280, 1024}));
}

TEST(SessionReports, AFailedSwitchIsOnlyLogged) {
    LogCapture log;
    PipelineRig rig;
    rig.start();
    rig.capturer()->failStart = true;
    rig.pipeline->switchDisplay(1);
    rig.settle();
    EXPECT_TRUE(log.has("• display switch failed: capture: no display found"));
    EXPECT_TRUE(rig.rec.controlOf(wex::ControlType::displayList).empty());
    EXPECT_EQ(rig.encoders->count(), 1u);
}

TEST(SessionReports, ASessionGetsItsDisplayListAtOnceAndDeckStatWithTheHealthLineEverySecond) {
    LogCapture log;
    PipelineRig rig;
    rig.start();
    SessionPair sessions;
    UdpSink sink;
    rig.rec.setTarget(sessions.agent, sink.sender());
    rig.rec.streaming = true;
    rig.pipeline->startSessionReports();
    EXPECT_EQ(rig.rec.controlOf(wex::ControlType::displayList).size(), 1u);

    rig.advance(999ms, stillScreen(rig));
    EXPECT_TRUE(rig.rec.controlOf(wex::ControlType::deckStat).empty());
    rig.advance(2001ms, [&] {
        rig.capturer()->deliver(rig.clock.now());
        rig.capturer()->audio(std::vector<int16_t>(512, 3));
    });
    const auto stats = rig.rec.controlOf(wex::ControlType::deckStat);
    ASSERT_EQ(stats.size(), 3u);
    const auto stat = wex::DeckStat::decode(stats[0]);
    EXPECT_EQ(stat.reqId, 0);
    EXPECT_EQ(stat.cpu, 37);
    EXPECT_EQ(stat.ram, 61);
    EXPECT_EQ(stat.battery, -1);
    EXPECT_EQ(stat.flags, 1);
    EXPECT_EQ(log.count("[health] "), 3u);
    // Each second: one picture captured and encoded, one piece of 12 + 8 + 26 + 16 bytes, one buffer.
    EXPECT_TRUE(log.has("[health] cap=1/s enc=1/s out=1f 0kB via lan  | audio buf=1 sent=1\n")) << log.text();
    {
        const std::lock_guard g(rig.rec.lock);
        ASSERT_FALSE(rig.rec.videoReports.empty());
        EXPECT_EQ(rig.rec.videoReports.back(), (std::pair<int, std::string>{1, "lan"}));
    }

    rig.pipeline->stopSessionReports();
    rig.advance(5s);
    EXPECT_EQ(rig.rec.controlOf(wex::ControlType::deckStat).size(), 3u);
    const std::lock_guard g(rig.rec.lock);
    EXPECT_EQ(rig.rec.videoReports.back(), (std::pair<int, std::string>{0, "idle"}))
        << "the window drops the figures of a session that is over at once";
}

TEST(SessionReports, WarningsForMissingVideoEverySecondAndForMissingAudioEveryFiveMinutes) {
    LogCapture log;
    PipelineRig rig;
    rig.start();
    rig.rec.streaming = true;
    rig.pipeline->startSessionReports();
    rig.advance(3s);
    EXPECT_EQ(log.count("⚠︎ streaming but ZERO video frames left the agent this second (cap=0/s enc=0/s "
                        "path=lan(NO VIDEO CONN)) — the controller will show black"),
              3u);
    const std::string noAudio = "⚠︎ no system audio is being captured — PulseAudio is not delivering it. The "
                                "screen is unaffected. (Repeated at most every 5 minutes.)";
    EXPECT_EQ(log.count(noAudio), 1u);
    rig.advance(297s); // the first came at the first tick, 1 s in
    EXPECT_EQ(log.count(noAudio), 1u);
    rig.advance(1s);
    EXPECT_EQ(log.count(noAudio), 2u) << "300 s after the first";

    rig.rec.streaming = false;
    const std::size_t warned = log.count("ZERO video");
    rig.advance(3s);
    EXPECT_EQ(log.count("ZERO video"), warned) << "nobody watches: nothing is missing";
}

TEST(SessionReports, TheHealthLineNamesDroppedPiecesAndThePath) {
    agent::Diag::Tick t{60, 59, 1200, 1536000, 4, 187, 95744, 187};
    EXPECT_EQ(agent::healthLine(t, "lan"), "[health] cap=60/s enc=59/s out=1200f 1500kB via lan  | audio buf=187 "
                                           "sent=187  DROPPED=4 (no connection to send on)");
    t.dropped = 0;
    EXPECT_EQ(agent::healthLine(t, "relay"),
              "[health] cap=60/s enc=59/s out=1200f 1500kB via relay  | audio buf=187 sent=187");
    SessionPair s;
    agent::SendTarget lan{s.agent, 1, false, UdpSink().sender()};
    agent::SendTarget noRoute{s.agent, 1, false, nullptr};
    agent::SendTarget relayDown{s.agent, 1, true, nullptr};
    qtApp();
    SerialQueue owner("test.net");
    auto queue = std::make_shared<agent::TransportMediaQueue>(
        owner, agent::TransportMediaQueue::Sink{[](wex::ByteView) { return true; }, [] {}, [] { return 0u; }}, [] {},
        nullptr);
    agent::SendTarget relay{s.agent, 1, true, queue};
    EXPECT_EQ(agent::videoPathLabel(&lan), "lan");
    EXPECT_EQ(agent::videoPathLabel(&noRoute), "lan(NO VIDEO CONN)");
    EXPECT_EQ(agent::videoPathLabel(&relay), "relay");
    EXPECT_EQ(agent::videoPathLabel(&relayDown), "relay(DOWN)");
    owner.sync([&] { queue->close(); });
    EXPECT_EQ(agent::videoPathLabel(&relay), "relay(DOWN)") << "the session on the link is over";
    EXPECT_EQ(agent::videoPathLabel(nullptr), "lan(NO VIDEO CONN)");
}

// Whole sessions: the agent with its real transport and pipeline on loopback, a scripted controller
// that reassembles the sealed pieces and decodes them with libavcodec. The synthetic pattern in H.264
// and HEVC, a client that decodes only H.264, a private Xvfb and PulseAudio for screen, displays and
// sound, and the DovrelAgent program itself under DOVREL_SYNTHETIC.

#include <csignal>
#include <fcntl.h>
#include <map>
#include <regex>
#include <sys/wait.h>

#include "../../support/PulseAudioServer.h"
#include "../../support/ToneMeasure.h"
#include "../../support/TonePlayer.h"
#include "../../support/XTestClient.h"
#include "../../support/XvfbServer.h"
#include "../service/AgentProcess.h"
#include "PipelineTestSupport.h"
#include "agent/media/PulseAudioCapturer.h"
#include "agent/media/X11ScreenCapturer.h"
#include "protocol/ControlMessages.h"

using namespace dovrel;
using namespace dovrel::test;

namespace {

// Records the area the pointer is mapped to.
class AreaInjector final : public agent::InputInjector {
public:
    void apply(const wex::InputEvent&) override {}
    void releaseAll() override {}
    void releaseHeld() override {}
    void setStreamedArea(const agent::StreamedArea& a) override {
        const std::lock_guard g(lock);
        areas.push_back(a);
    }
    std::vector<agent::StreamedArea> all() {
        const std::lock_guard g(lock);
        return areas;
    }

private:
    std::mutex lock;
    std::vector<agent::StreamedArea> areas;
};

// An agent in this process with its real transport and capture pipeline, listening on loopback.
struct StreamingAgent {
    struct Setup {
        agent::CapturePipeline::CapturerFactory capturer; // null: the synthetic source
        bool hevcDefault = false;
        std::vector<wex::Bytes> paired;
        uint16_t videoPort = 0;
    };

    explicit StreamingAgent(Setup setup) {
        qtApp();
        std::string keys;
        for (const auto& k : setup.paired)
            keys.append(k.begin(), k.end());
        writeFile(home.file(".dovrel/paired"), keys);
        writeFile(home.file(".config/Dovrel/relay.json"), "{\"lan\": true}");

        agent::CapturePipeline::Options o;
        o.synthetic = !setup.capturer;
        if (setup.capturer) o.makeCapturer = setup.capturer;
        o.codec = [hevc = setup.hevcDefault] {
            return hevc ? agent::VideoCodecChoice{false, agent::VideoCodecChoice::Why::hardwareHevc}
                        : agent::VideoCodecChoice{true, agent::VideoCodecChoice::Why::noHardwareHevc};
        };
        o.budget = [](bool relay) { return agent::VideoBudget::forLink(relay); };
        o.rotateLog = [] {};
        auto pipe = std::make_unique<agent::CapturePipeline>(std::move(o));
        pipeline = pipe.get();
        auto inj = std::make_unique<AreaInjector>();
        injector = inj.get();

        agent::AgentServices services = fakeServices(rec);
        services.injector = std::move(inj);
        services.pipeline = std::move(pipe);
        addNetwork(services, setup.videoPort, netClock,
                   home.file(".config/Dovrel")); // the session guards never fire during a test
        agent::AgentSettings settings;
        settings.stateDirectory = home.file(".dovrel");
        settings.configDirectory = home.file(".config/Dovrel");
        settings.deviceName = "Streaming Box";
        agentPtr = std::make_unique<agent::Agent>(std::move(services), std::move(settings));
        agentPtr->run(presenter);
    }
    ~StreamingAgent() { agentPtr.reset(); }

    bool connect(TestController& c) {
        return c.connect(agentPtr->transport().controlPort(), agentPtr->transport().inputPort());
    }
    bool ready() { return log.waitFor("• capture pipeline ready", 10000ms); }

    TempDir home;
    LogCapture log;
    FakeScheduler netClock;
    std::shared_ptr<Recorder> rec = std::make_shared<Recorder>();
    agent::CapturePipeline* pipeline = nullptr;
    AreaInjector* injector = nullptr;
    std::unique_ptr<agent::Agent> agentPtr;
    CommandsToAgent commands{agentPtr};
    agent::AppModel model{commands, nullptr};
    FakeScheduler windowClock;
    agent::AgentPresenter presenter{model, windowClock};
};

// Receives video until a picture decodes; checks every payload on the way.
struct Watched {
    std::vector<ReceivedVideoFrame> frames;
    std::vector<agent::libav::FramePtr> pictures;
};

Watched watch(TestController& c, Decoder& decoder, std::size_t pictures, std::chrono::milliseconds limit = 8000ms,
              const std::function<bool(const ReceivedVideoFrame&)>& from = {}) {
    Watched w;
    const auto until = std::chrono::steady_clock::now() + limit;
    bool started = !from;
    while (w.pictures.size() < pictures && std::chrono::steady_clock::now() < until) {
        auto f = c.receiveVideoFrame(500ms);
        if (!f) continue;
        if (!started && !from(*f)) continue;
        started = true;
        for (auto& p : decoder.decode(f->nals))
            w.pictures.push_back(std::move(p));
        w.frames.push_back(std::move(*f));
    }
    return w;
}

bool consecutiveFromZero(const std::vector<uint32_t>& seqs) {
    for (std::size_t i = 0; i < seqs.size(); ++i)
        if (seqs[i] != i) return false;
    return !seqs.empty();
}

void expectSyntheticStream(const Watched& w, bool h264) {
    ASSERT_GE(w.pictures.size(), 5u);
    const auto& first = w.frames.front().header;
    EXPECT_TRUE(first.nalFlags.contains(wex::NALFlag::keyframe)) << "a session begins with a keyframe";
    EXPECT_TRUE(first.nalFlags.contains(wex::NALFlag::config));
    for (std::size_t i = 0; i < w.frames.size(); ++i) {
        const auto& h = w.frames[i].header;
        EXPECT_EQ(h.nalFlags.contains(wex::NALFlag::codecH264), h264);
        EXPECT_EQ(h.width, 1280);
        EXPECT_EQ(h.height, 720);
        if (i > 0) {
            EXPECT_EQ(h.frameId, w.frames[i - 1].header.frameId + 1);
        }
    }
    for (const auto& p : w.pictures) {
        EXPECT_EQ(p->width, 1280);
        EXPECT_EQ(p->height, 720);
        EXPECT_TRUE(showsGradient(*p)) << "row luma " << rowLuma(*p, 100) << ", " << rowLuma(*p, 101);
    }
}

} // namespace

TEST(Streaming, TheSyntheticPatternArrivesAsDecodableH264WithItsGradient) {
    TestController c;
    StreamingAgent a({nullptr, false, {c.publicKey()}, c.videoPort()});
    ASSERT_TRUE(a.ready());
    EXPECT_TRUE(a.log.has("• SYNTHETIC source 1280×720 (no screen capture)"));
    EXPECT_TRUE(a.log.has("• H.264 encoder ready — no hardware HEVC encoder on this computer"));
    ASSERT_TRUE(a.connect(c));
    ASSERT_TRUE(c.authenticateWithKey());

    Decoder decoder(true);
    ASSERT_TRUE(decoder.ok());
    const Watched w = watch(c, decoder, 30);
    expectSyntheticStream(w, true);
    EXPECT_TRUE(consecutiveFromZero(c.videoSeqs())) << "the session's video is numbered from 0, without gaps";
    EXPECT_EQ(c.videoFramesLost(), 0u);

    const auto stat = c.receiveType(wex::ControlType::deckStat, 2500ms);
    ASSERT_TRUE(stat);
    EXPECT_EQ(wex::DeckStat::decode(stat->payload).flags, 1);
    EXPECT_TRUE(a.log.waitFor("[health] cap=")) << "the health line comes with each statistics tick";
}

TEST(Streaming, TheCodecFollowsEachClientAndEverySessionNumbersItsMediaFromZero) {
    TestController first;
    StreamingAgent a({nullptr, true, {first.publicKey()}, first.videoPort()});
    ASSERT_TRUE(a.ready());

    ASSERT_TRUE(a.connect(first));
    ASSERT_TRUE(first.authenticateWithKey());
    Decoder hevc(false);
    ASSERT_TRUE(hevc.ok());
    expectSyntheticStream(watch(first, hevc, 10), false);
    EXPECT_TRUE(consecutiveFromZero(first.videoSeqs()));
    first.close();
    ASSERT_TRUE(a.log.waitFor("• control connection closed — client gone"));

    // The same controller, now announcing that it decodes only H.264.
    ASSERT_TRUE(a.connect(first));
    ASSERT_TRUE(first.authenticateWithKey(wex::Cap::screenClient | wex::Cap::h264Only));
    EXPECT_TRUE(a.log.waitFor("⚠︎ rebuilding encoder — this client cannot decode HEVC"));
    Decoder h264(true);
    expectSyntheticStream(watch(first, h264, 10), true); // from its very first picture
    EXPECT_EQ(first.videoSeqs().front(), 0u) << "a new session's numbers start at 0 again";
    first.close();
    // Once it has gone the encoder is HEVC again, whichever of the steps on the set-up thread builds it
    // (the codec's, the link's asked for at the session's start, or the one under way as it left): the
    // next controller is served HEVC from its first picture with no rebuild of its own.
    ASSERT_TRUE(waitUntil([&] { return a.log.count("• control connection closed — client gone") == 2; }));
    a.agentPtr->transport().queue().sync([] {}); // the session's end is handled,
    a.pipeline->waitForSetup();                  // and what it asked of the set-up thread done
    const std::size_t rebuilds = a.log.count("⚠︎ rebuilding encoder");
    ASSERT_TRUE(a.connect(first));
    ASSERT_TRUE(first.authenticateWithKey());
    Decoder again(false);
    expectSyntheticStream(watch(first, again, 10), false);
    EXPECT_EQ(a.log.count("⚠︎ rebuilding encoder"), rebuilds);
}

TEST(Streaming, ScreenDisplaysAndSoundFromXvfbAndPulseAudio) {
    PulseAudioServer pulse;
    if (!pulse.available()) GTEST_SKIP() << pulse.failure();
    ASSERT_TRUE(pulse.running()) << pulse.failure();
    XvfbServer xvfb(1280, 720);
    if (!xvfb.available()) GTEST_SKIP() << xvfb.failure();
    ASSERT_TRUE(xvfb.running()) << xvfb.failure();
    XTestClient desk(xvfb.display());
    ASSERT_TRUE(desk.ok());
    ASSERT_TRUE(desk.setMonitors({{0, 0, 800, 720}, {800, 100, 480, 400}}));
    desk.fill(0, 0, 1280, 720, 0x3366CC);
    desk.fill(800, 100, 480, 400, 0xE0C020);
    desk.setSolidCursor(1, 0x3366CC);
    desk.movePointer(0, 0);

    // A 1 kHz tone on both channels into the null sink, whose monitor the agent records.
    constexpr double toneHz = 1000;
    std::optional<test::TonePlayer> tone(std::in_place, pulse.server(), test::TonePlayer::Tone{toneHz, 0.5});
    ASSERT_TRUE(tone->playing()) << tone->failure();

    TestController c;
    const std::string display = xvfb.display(), monitor = pulse.monitor();
    StreamingAgent a({[display, monitor](agent::ScreenCapturer::FrameCallback cb) {
                          agent::X11ScreenCapturer::Options o;
                          o.displayName = display;
                          o.audio = std::make_shared<agent::PulseAudioCapturer>(monitor);
                          return std::shared_ptr<agent::ScreenCapturer>(
                              std::make_shared<agent::X11ScreenCapturer>(std::move(cb), std::move(o)));
                      },
                      false,
                      {c.publicKey()},
                      c.videoPort()});
    ASSERT_TRUE(a.ready());
    EXPECT_TRUE(a.log.has("• capture 800×720"));
    ASSERT_TRUE(a.connect(c));
    ASSERT_TRUE(c.authenticateWithKey());

    const auto listFrame = c.receiveType(wex::ControlType::displayList);
    ASSERT_TRUE(listFrame);
    const auto list = wex::DisplayList::decode(listFrame->payload);
    ASSERT_EQ(list.displays.size(), 2u);
    EXPECT_EQ(list.displays[0].width, 800);
    EXPECT_EQ(list.displays[0].name, "Main display");
    EXPECT_TRUE(list.displays[0].flags.contains(wex::DisplayFlag::streaming));
    EXPECT_EQ(list.displays[1].name, "Display 2");

    Decoder decoder(true);
    Watched w = watch(c, decoder, 3);
    ASSERT_FALSE(w.pictures.empty());
    const AVFrame& p = *w.pictures.back();
    EXPECT_EQ(p.width, 800);
    EXPECT_EQ(p.height, 720);
    // 0x3366CC in BT.601 video range.
    const auto at = [&](int plane, int x, int y) { return p.data[plane][y * p.linesize[plane] + x]; };
    EXPECT_NEAR(at(0, 400, 360), 100, 5);
    EXPECT_NEAR(at(1, 200, 180), 180, 5);
    EXPECT_NEAR(at(2, 200, 180), 98, 5);

    // Sound: the tone, as 16-bit stereo AudioFrames numbered from 0.
    std::vector<int16_t> left;
    const auto until = std::chrono::steady_clock::now() + 8s;
    while (left.size() < 24000 && std::chrono::steady_clock::now() < until) {
        const auto f = c.receiveAudioFrame(500ms);
        if (!f) continue;
        EXPECT_EQ(f->frame.sampleRate, 48000u);
        EXPECT_EQ(f->frame.channels, 2);
        EXPECT_LE(f->frame.pcm.size(), 512u);
        for (std::size_t i = 0; i + 1 < f->frame.pcm.size(); i += 2)
            left.push_back(f->frame.pcm[i]);
    }
    tone.reset();
    ASSERT_GE(left.size(), 24000u);
    EXPECT_EQ(c.audioSeqs().front(), 0u);
    for (std::size_t i = 1; i < c.audioSeqs().size(); ++i)
        ASSERT_EQ(c.audioSeqs()[i], c.audioSeqs()[i - 1] + 1);
    // The last half second against the tone played: its frequency and its amplitude.
    const test::HeardTone heard =
        test::measureTone(std::span<const int16_t>(left.data() + left.size() - 24000, 24000), 1, 0, 48000);
    EXPECT_GT(heard.sounding, 2400u);
    EXPECT_NEAR(heard.hz, toneHz, 20);
    EXPECT_NEAR(heard.peak, 0.5, 0.05);

    // The second display, on request.
    ASSERT_TRUE(c.sendSealed(wex::ControlType::streamStart, wex::StreamStart{7, 1}.encode()));
    const auto switched = c.receiveType(wex::ControlType::displayList);
    ASSERT_TRUE(switched);
    EXPECT_TRUE(wex::DisplayList::decode(switched->payload).displays[1].flags.contains(wex::DisplayFlag::streaming));
    EXPECT_TRUE(a.log.waitFor("• switched to display 1 — 480×400"));
    Decoder second(true);
    w = watch(c, second, 2, 8000ms, [](const ReceivedVideoFrame& f) { return f.header.width == 480; });
    ASSERT_FALSE(w.pictures.empty());
    EXPECT_EQ(w.pictures.back()->width, 480);
    EXPECT_EQ(w.pictures.back()->height, 400);
    const auto areas = a.injector->all();
    ASSERT_GE(areas.size(), 2u);
    EXPECT_EQ(areas.front(), (agent::StreamedArea{0, 0, 800, 720, 800, 720}));
    EXPECT_EQ(areas.back(), (agent::StreamedArea{800, 100, 480, 400, 480, 400}));
}

// ---- the program

TEST(StreamingProgram, UnderDovrelSyntheticWithItsVariablesTheProgramStreamsThePattern) {
    TempDir home;
    TestController c;
    writeFile(home.file(".config/Dovrel/relay.json"), "{\"lan\": true}");
    const wex::Bytes key = c.publicKey();
    writeFile(home.file(".dovrel/paired"), std::string(key.begin(), key.end()));
    agentprocess::AgentProcess program(home,
                                       {{"DOVREL_SYNTHETIC", "1"},
                                        {"DOVREL_H264", ""},
                                        {"DOVREL_BITRATE", "3000000"},
                                        {"DOVREL_FPS", "30"},
                                        {"DOVREL_CONTROL_PORT", "0"},
                                        {"DOVREL_INPUT_PORT", "0"},
                                        {"DOVREL_VIDEO_PORT", std::to_string(c.videoPort())},
                                        {"DISPLAY", ""}},
                                       false);
    const std::string logPath = home.file(".dovrel-agent.log");
    ASSERT_TRUE(
        waitUntil([&] { return readFile(logPath).find("• capture pipeline ready") != std::string::npos; }, 10000ms))
        << readFile(logPath);
    const std::string log = readFile(logPath);
    EXPECT_NE(log.find("• SYNTHETIC source 1280×720 (no screen capture)"), std::string::npos) << log;
    EXPECT_NE(log.find("• encoder budget: 3 Mbit/s, 30 fps, IDR every 60 frames"), std::string::npos) << log;
    EXPECT_NE(log.find("• H.264 encoder ready\n"), std::string::npos) << "chosen by DOVREL_H264, present but empty";

    std::smatch ports;
    const std::regex banner(R"(CONTROL tcp/(\d+), INPUT udp/(\d+))");
    ASSERT_TRUE(std::regex_search(log, ports, banner)) << log;
    ASSERT_TRUE(c.connect(static_cast<uint16_t>(std::stoi(ports[1])), static_cast<uint16_t>(std::stoi(ports[2]))));
    ASSERT_TRUE(c.authenticateWithKey());
    Decoder decoder(true);
    expectSyntheticStream(watch(c, decoder, 10), true);
    ASSERT_TRUE(c.receiveType(wex::ControlType::deckStat, 2500ms));
    EXPECT_TRUE(waitUntil([&] { return readFile(logPath).find("[health] cap=") != std::string::npos; }, 3000ms));
}

// End to end on loopback at 1920x1080, 60 pictures a second, on a busy moving desktop (a private Xvfb):
// an agent captures and streams it, the controller's client receives, decodes and converts it for the
// screen. Figures: capture-to-decoded latency (the capture time travels in the video header; both ends
// read the machine's monotonic clock, and the client maps the agent's clock through its pings),
// last-piece-to-decoded time, decode and colour-conversion time per picture, pictures shown per second,
// the CPU of both programs, and paint-to-decoded and paint-to-shown: a second X client flips a square's
// colour at known times (30 flips a second, through four colours) and the client notes when a decoded
// picture first shows the new colour, and when the window that shows it (the session window's video
// surface item, drawn by the scene graph's shader with OpenGL on a second Xvfb) has swapped it to the
// screen.
//
// The real DovrelAgent is also measured on a headless GNOME Wayland session at 1920x1080@60 (skipped,
// with the reason, where one cannot run), painted by a full-screen Wayland client with the same scene and
// square; its flips are stamped once the client has handed the frame to the compositor. Beside it, on
// X11, the real DovrelAgent (skipped, with the reason, while it does not stream), and a stand-in built from the agent's
// own capture, encoder and packetizer behind the scripted test agent, so that the controller's side can be measured
// either way. For the stand-in every stage of an answered flip is timed (the grab, the hand-over, conversion, encoding,
// sending, the network, decoding); for DovrelAgent, which stamps a picture as it builds its payload, the agent's share
// and the rest. Each desktop is measured alone: GNOME's session and its painter start only once the X11
// painter and both X11 agents have stopped (mutter alone paints 60 pictures a second on the processor).
// The load average goes beside every run; "--isolated" runs it all ahead of the machine's other work.
// Prints figures; asserts nothing.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHostAddress>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QThread>
#include <QTimer>

#include "BenchClient.h"
#include "BusyScene.h"
#include "EventLoopWait.h"
#include "FlipSquare.h"
#include "MachineLoad.h"
#include "SampleSeries.h"
#include "agent/media/LibavVideoEncoder.h"
#include "agent/media/VideoPacketizer.h"
#include "agent/media/X11ScreenCapturer.h"
#include "controller/client/session/ClientCore.h"
#include "controller/client/session/WEXClient.h"
#include "controller/ui/session/VideoSurfaceItem.h"
#include "protocol/VideoPayload.h"
#include "tests/controller/media/AgentUnderTest.h"
#include "tests/support/FreeUdpPort.h"
#include "tests/support/GnomeSession.h"
#include "tests/support/TempHome.h"
#include "tests/support/TestAgent.h"
#include "tests/support/XvfbServer.h"

using namespace dovrel;
using namespace dovrel::controller;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int W = 1920, H = 1080;
using bench::colourCount;
using bench::flipColours;
using bench::flipEveryFrames;
using bench::FlipLog;
using bench::flipSize;
using bench::flipX;
using bench::flipY;
using bench::monoNs;
constexpr auto warmUp = 2s;
constexpr auto window = 10s;

int64_t ns(Instant t) { return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count(); }

// What the stand-in agent did with each picture it sent, by frame identifier, in memory shared with
// its process: when the grab began and ended, when the encoder's thread took the frame, its conversion
// and encoding times, when the picture was handed to the main thread and when its last piece went out.
struct StageLog {
    static constexpr uint32_t capacity = 8192;
    struct Entry {
        std::atomic<uint32_t> frameId{0}; // written last: the entry is complete once it matches
        int64_t grabStartNs, grabEndNs, encoderTookNs, encodedNs, sendStartNs, sendEndNs;
        uint32_t convertUs, encodeUs;
    } entries[capacity];
    Entry* find(uint32_t frameId) {
        Entry& e = entries[frameId % capacity];
        return e.frameId.load(std::memory_order_acquire) == frameId ? &e : nullptr;
    }
};

// ---- the painter's process ----------------------------------------------------------------------

[[noreturn]] void runPainter(const std::string& display, FlipLog* log) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    {
        dovrel::test::XTestClient pointer(display);
        pointer.movePointer(W - 10, H - 10);
    }
    bench::BusyScene scene(display, W, H, [log](dovrel::test::XTestClient& c, int t) {
        const uint32_t colour = flipColours[(t / flipEveryFrames) % colourCount];
        c.fill(flipX, flipY, flipSize, flipSize, colour, false);
        if (t % flipEveryFrames != 0) return;
        c.sync(); // the server has it: the flip is on the screen from now
        const uint32_t i = log->count.load(std::memory_order_relaxed);
        if (i >= FlipLog::capacity) return;
        log->flips[i] = {monoNs(), colour};
        log->count.store(i + 1, std::memory_order_release);
    });
    while (!log->stop.load())
        ::usleep(20000);
    ::_exit(0);
}

// ---- the stand-in agent's process -----------------------------------------------------------------

uint64_t microsOf(Instant t) {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count());
}

// The agent's capture (MIT-SHM, 60 a second), its encoder (software H.264 at the local network's
// budget) and its packetizer, behind the scripted agent's handshake; the capture time goes in ptsUs and
// its pongs carry the monotonic clock in microseconds. Waits for a byte on `go` before it starts.
[[noreturn]] void runStandIn(const std::string& display, uint16_t videoPort, int portOut, int go, StageLog* stages) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    char byte = 0;
    if (::read(go, &byte, 1) != 1) ::_exit(1);
    int argc = 1;
    char name[] = "stand-in-agent";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    dovrel::test::TestAgent agent;
    if (!agent.listen()) ::_exit(2);
    const uint16_t ports[2] = {agent.controlPort(), agent.inputPort()};
    if (::write(portOut, ports, sizeof ports) != sizeof ports) ::_exit(3);

    const int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(videoPort);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    std::atomic<bool> streaming{false};
    std::vector<wex::Bytes> sets;
    uint32_t frameId = 0;
    std::shared_ptr<agent::VideoEncoder> encoder;
    // When each grab ended, by its capture time (the grab's start), until the encoder's picture of it.
    std::mutex grabsLock;
    std::map<int64_t, int64_t> grabEnds;
    // Pictures are sealed and sent on the main thread, where the session lives.
    auto send = [&](const agent::EncodedPicture& pic, int64_t encodedNs) {
        const int64_t sendStartNs = monoNs();
        wex::VideoNALHeader header;
        std::vector<wex::Bytes> nals;
        if (pic.parameterSets) sets = *pic.parameterSets;
        if (pic.keyframe) {
            header.nalFlags = wex::NALFlags{wex::NALFlag::keyframe, wex::NALFlag::config};
            nals = sets;
        }
        header.nalFlags.insert(wex::NALFlag::codecH264);
        nals.insert(nals.end(), pic.units.begin(), pic.units.end());
        header.frameId = ++frameId;
        header.ptsUs = static_cast<uint32_t>(microsOf(pic.capturedAt));
        header.width = W;
        header.height = H;
        const wex::Bytes payload = wex::encodeVideoNALPayload(header, nals);
        uint32_t seq = 0;
        agent::VideoPacketizer::forEachPiece(
            frameId, payload, seq, [&](uint32_t, wex::HeaderFlags flags, wex::ByteView plaintext) {
                const wex::Bytes sealed = agent.sealMedia(wex::Stream::video, plaintext, flags);
                if (sealed.empty()) return;
                ::sendto(udp, sealed.data(), sealed.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
            });
        const int64_t grabStartNs = ns(pic.capturedAt);
        int64_t grabEndNs = grabStartNs;
        {
            const std::lock_guard g(grabsLock);
            if (const auto it = grabEnds.find(grabStartNs); it != grabEnds.end()) grabEndNs = it->second;
            grabEnds.erase(grabEnds.begin(), grabEnds.upper_bound(grabStartNs));
        }
        StageLog::Entry& e = stages->entries[frameId % StageLog::capacity];
        e.frameId.store(0, std::memory_order_relaxed);
        e.grabStartNs = grabStartNs;
        e.grabEndNs = grabEndNs;
        e.encodedNs = encodedNs;
        e.encoderTookNs = encodedNs - (int64_t{pic.convertMicros} + pic.encodeMicros) * 1000;
        e.convertUs = pic.convertMicros;
        e.encodeUs = pic.encodeMicros;
        e.sendStartNs = sendStartNs;
        e.sendEndNs = monoNs();
        e.frameId.store(frameId, std::memory_order_release);
    };
    encoder = agent::makeVideoEncoder({W, H, true, agent::VideoBudget::lan()}, [&](agent::EncodedPicture&& pic) {
        QMetaObject::invokeMethod(
            &app, [&send, pic = std::move(pic), at = monoNs()] { send(pic, at); }, Qt::QueuedConnection);
    });
    encoder->start();
    agent::X11ScreenCapturer capturer(
        [&](const agent::CapturedFrame& f) {
            if (!streaming.load()) return;
            {
                const std::lock_guard g(grabsLock);
                grabEnds[ns(f.capturedAt)] = monoNs();
            }
            encoder->encode(f, microsOf(f.capturedAt), false);
        },
        agent::X11ScreenCapturer::Options{display, nullptr, nullptr});
    capturer.start(0);

    std::size_t seen = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        streaming = agent.inSession();
        for (; seen < agent.sealedReceived.size(); ++seen)
            if (agent.sealedReceived[seen].type == static_cast<uint8_t>(wex::ControlType::keyframeRequest)) {
                encoder->requestKeyframe();
                capturer.requestFrame();
            }
    });
    poll.start(5);
    app.exec();
    ::_exit(0);
}

// ---- measuring, in the controller's process ----------------------------------------------------

struct Sample {
    Instant receivedAt, decodedAt;
    uint32_t frameId = 0;
    uint32_t ptsUs = 0;
    uint32_t decodeUs = 0, convertUs = 0;
};
struct Detection {
    int64_t atNs;
    uint32_t colour;
    uint32_t frameId;
};
// One frame the window swapped to the screen, and the newest picture it held.
struct Swap {
    int64_t atNs;
    uint32_t frameId;
    int64_t syncNs, renderNs, renderedNs; // when its scene began to sync, to render, and was rendered
};
// The GUI thread asking the window for a frame after a picture came.
struct UpdateAsked {
    int64_t atNs;
    uint32_t frameId;
};

// What the decoder's thread reports, picture by picture, and what the window's render thread swaps.
struct Collector {
    std::mutex lock;
    bool recording = false;
    std::vector<Sample> samples;
    std::vector<Detection> detections;
    std::vector<Swap> swaps;
    uint32_t lastColour = 0;

    static uint32_t classify(const VideoPicture& p) {
        const int x = (flipX + flipSize / 2) * p.width / W, y = (flipY + flipSize / 2) * p.height / H;
        if (x >= p.width || y >= p.height) return 0;
        const uint32_t v = p.rgbAt(x, y);
        uint32_t bits = 0;
        for (int shift : {16, 8, 0}) {
            const int c = static_cast<int>((v >> shift) & 0xFF);
            if (c > 180)
                bits |= 0xFFu << shift;
            else if (c >= 80)
                return 0; // neither on nor off: a picture caught mid-change
        }
        return std::find(std::begin(flipColours), std::end(flipColours), bits) != std::end(flipColours) ? bits : 0;
    }
    void add(const VideoPicture& p) {
        const uint32_t colour = classify(p);
        const std::lock_guard g(lock);
        if (!recording) {
            if (colour) lastColour = colour;
            return;
        }
        samples.push_back({p.receivedAt, p.decodedAt, p.frameId, p.ptsUs, p.decodeMicros, p.convertMicros});
        if (colour && colour != lastColour) detections.push_back({ns(p.decodedAt), colour, p.frameId});
        if (colour) lastColour = colour;
    }
    std::vector<UpdateAsked> updates;
    std::atomic<int64_t> syncNs{0}, renderNs{0}, renderedNs{0}; // the render thread's frame in progress
    void swapped(uint32_t frameId) {
        const int64_t at = monoNs();
        const std::lock_guard g(lock);
        if (recording) swaps.push_back({at, frameId, syncNs, renderNs, renderedNs});
    }
    void updateAsked(uint32_t frameId) {
        const int64_t at = monoNs();
        const std::lock_guard g(lock);
        if (recording) updates.push_back({at, frameId});
    }
};

using bench::Series;

void row(const char* name, Series& s, const char* unit = "ms") {
    if (s.v.empty()) {
        std::printf("  %-38s (no samples)\n", name);
        return;
    }
    std::printf("  %-38s p50 %7.2f %s   p95 %7.2f %s   mean %7.2f %s   (n=%zu)\n", name, s.pct(50), unit, s.pct(95),
                unit, s.mean(), unit, s.v.size());
}

using bench::cpuSecondsOf;
using bench::pump;
using bench::waitFor;

// One session with one agent: connect, wait for pictures, measure for the window, print.
void measure(const char* title, WEXClient& client, Collector& collector, FlipLog& flips, StageLog* stages,
             pid_t agentPid, const std::function<void()>& connect, const std::function<std::string()>& whyNot) {
    std::printf("\n== %s\n  load average at the start: %s\n", title, bench::loadAverage().c_str());
    std::fflush(stdout);
    connect();
    if (!waitFor([&] { return client.phaseKind() == PhaseKind::connected; }, 15s)) {
        std::printf("  cannot run: no session (phase message \"%s\", status \"%s\")\n%s\n",
                    client.phaseMessage().toStdString().c_str(), client.status().toStdString().c_str(),
                    whyNot().c_str());
        return;
    }
    if (!waitFor([&] { return client.displayedFrames() > 0; }, 15s)) {
        std::printf("  cannot run yet: the agent sends no picture within 15 s of a session.\n%s\n", whyNot().c_str());
        client.disconnectSession();
        pump(300ms);
        return;
    }
    pump(std::chrono::duration_cast<std::chrono::milliseconds>(warmUp));
    {
        const std::lock_guard g(collector.lock);
        collector.samples.clear();
        collector.detections.clear();
        collector.swaps.clear();
        collector.updates.clear();
        collector.recording = true;
    }
    const uint32_t firstFlip = flips.count.load(std::memory_order_acquire);
    const std::string loadBefore = bench::loadAverage();
    const double agentCpu0 = cpuSecondsOf(agentPid), selfCpu0 = cpuSecondsOf(::getpid());
    const auto start = Clock::now();
    int fpsSum = 0, fpsTicks = 0;
    while (Clock::now() - start < window) {
        pump(1000ms);
        fpsSum += client.fps();
        ++fpsTicks;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double agentCpu = cpuSecondsOf(agentPid) - agentCpu0, selfCpu = cpuSecondsOf(::getpid()) - selfCpu0;
    std::vector<Sample> samples;
    std::vector<Detection> detections;
    std::vector<Swap> swaps;
    std::vector<UpdateAsked> updates;
    {
        const std::lock_guard g(collector.lock);
        collector.recording = false;
        samples = collector.samples;
        detections = collector.detections;
        swaps = collector.swaps;
        updates = collector.updates;
    }
    const uint32_t lastFlip = flips.count.load(std::memory_order_acquire);

    // The agent's clock: through the pings, or else the shared monotonic clock itself.
    Series captureToDecoded, receivedToDecoded, decode, convert, paintToDecoded, paintToShown, decodedToShown;
    std::string mapping = "the agent's clock as learnt from the pings";
    auto ageMs = [&](const Sample& s) -> std::optional<double> {
        if (const auto age = client.pictureAgeUs(s.ptsUs, s.decodedAt)) return static_cast<double>(*age) / 1000.0;
        return std::nullopt;
    };
    bool plausible =
        !samples.empty() && ageMs(samples.front()) && *ageMs(samples.front()) > -5 && *ageMs(samples.front()) < 5000;
    if (!plausible) mapping = "the shared monotonic clock (the pings gave no usable offset)";
    for (const Sample& s : samples) {
        double age = 0;
        if (plausible) {
            age = *ageMs(s);
        } else {
            const auto now32 = static_cast<uint32_t>(ns(s.decodedAt) / 1000);
            age = static_cast<double>(static_cast<int32_t>(now32 - s.ptsUs)) / 1000.0;
        }
        captureToDecoded.add(age);
        receivedToDecoded.add(std::chrono::duration<double, std::milli>(s.decodedAt - s.receivedAt).count());
        decode.add(s.decodeUs / 1000.0);
        convert.add(s.convertUs / 1000.0);
    }
    // Where each answered flip's time went, stage by stage.
    std::map<uint32_t, const Sample*> byFrame;
    for (const Sample& s : samples)
        byFrame[s.frameId] = &s;
    const auto msBetween = [](int64_t a, int64_t b) { return static_cast<double>(b - a) / 1e6; };
    Series toGuiThread, toSync, syncStage, renderStage, toSwap;
    Series waitForGrab, grab, handOver, convertStage, encodeStage, hop, sendStage, agentSide, network, toDecoder,
        decodeStage;
    const auto stagesOf = [&](int64_t paintNs, const Detection& d) {
        const auto found = byFrame.find(d.frameId);
        if (found == byFrame.end()) return;
        const Sample& s = *found->second;
        const int64_t receivedNs = ns(s.receivedAt), decodeStartNs = ns(s.decodedAt) - int64_t{s.decodeUs} * 1000;
        toDecoder.add(msBetween(receivedNs, decodeStartNs));
        decodeStage.add(s.decodeUs / 1000.0);
        if (const StageLog::Entry* e = stages ? stages->find(d.frameId) : nullptr) {
            waitForGrab.add(msBetween(paintNs, e->grabStartNs));
            grab.add(msBetween(e->grabStartNs, e->grabEndNs));
            handOver.add(msBetween(e->grabEndNs, e->encoderTookNs));
            convertStage.add(e->convertUs / 1000.0);
            encodeStage.add(e->encodeUs / 1000.0);
            hop.add(msBetween(e->encodedNs, e->sendStartNs));
            sendStage.add(msBetween(e->sendStartNs, e->sendEndNs));
            network.add(msBetween(e->sendEndNs, receivedNs));
        } else if (!stages && plausible) {
            // The agent stamps a picture as its payload is built: what comes before is the agent's.
            if (const auto age = client.pictureAgeUs(s.ptsUs, s.decodedAt)) {
                const double sentToDecoded = static_cast<double>(*age) / 1000.0;
                agentSide.add(msBetween(paintNs, d.atNs) - sentToDecoded);
                network.add(sentToDecoded - msBetween(receivedNs, ns(s.decodedAt)));
            }
        }
    };
    // Each detection answers the latest flip to its colour before it.
    // A flip's colour comes back four flips later; a detection before that answers this flip.
    int missed = 0, notSwapped = 0;
    for (uint32_t i = firstFlip; i < lastFlip; ++i) {
        const auto& f = flips.flips[i];
        const int64_t again = i + colourCount < lastFlip ? flips.flips[i + colourCount].atNs : INT64_MAX;
        const auto d = std::find_if(detections.begin(), detections.end(), [&](const Detection& x) {
            return x.colour == f.colour && x.atNs >= f.atNs && x.atNs < again;
        });
        if (d == detections.end()) {
            ++missed;
            continue;
        }
        paintToDecoded.add(static_cast<double>(d->atNs - f.atNs) / 1e6);
        stagesOf(f.atNs, *d);
        // Shown: the first swap of a frame that held this picture or a later one.
        const auto s = std::find_if(swaps.begin(), swaps.end(),
                                    [&](const Swap& x) { return x.atNs >= d->atNs && x.frameId >= d->frameId; });
        if (s == swaps.end()) {
            ++notSwapped;
            continue;
        }
        paintToShown.add(static_cast<double>(s->atNs - f.atNs) / 1e6);
        decodedToShown.add(static_cast<double>(s->atNs - d->atNs) / 1e6);
        const auto u = std::find_if(updates.begin(), updates.end(),
                                    [&](const UpdateAsked& x) { return x.atNs >= d->atNs && x.frameId >= d->frameId; });
        if (u != updates.end() && s->syncNs >= u->atNs) {
            toGuiThread.add(msBetween(d->atNs, u->atNs));
            toSync.add(msBetween(u->atNs, s->syncNs));
        }
        if (s->syncNs >= d->atNs && s->renderNs >= s->syncNs && s->renderedNs >= s->renderNs) {
            syncStage.add(msBetween(s->syncNs, s->renderNs));
            renderStage.add(msBetween(s->renderNs, s->renderedNs));
            toSwap.add(msBetween(s->renderedNs, s->atNs));
        }
    }

    std::printf("  pictures shown: %zu in %.1f s = %.1f per second (the client's published fps: %.1f)\n",
                samples.size(), seconds, static_cast<double>(samples.size()) / seconds,
                fpsTicks ? static_cast<double>(fpsSum) / fpsTicks : 0.0);
    std::printf("  capture time mapped with %s\n", mapping.c_str());
    row("capture-to-decoded", captureToDecoded);
    row("last piece in to decoded", receivedToDecoded);
    row("decode per picture", decode);
    row("to 4:2:0 planes per picture", convert);
    row("paint-to-decoded", paintToDecoded);
    std::printf("  %-38s", "  deciles");
    for (int d = 10; d <= 90; d += 10)
        std::printf(" %.1f", paintToDecoded.pct(d));
    std::printf(" ms\n");
    row("paint-to-shown", paintToShown);
    row("decoded-to-shown (window swapped)", decodedToShown);
    std::printf("  %-38s %u flips, %d not seen, %d seen but never swapped; %zu frames swapped\n", "",
                lastFlip - firstFlip, missed, notSwapped, swaps.size());
    std::printf("  stages of the answered flips (paint to decoded):\n");
    if (stages) {
        row("  paint -> grab begins (waiting)", waitForGrab);
        row("  grab (SHM + pointer + cursor)", grab);
        row("  hand-over to the encoder's thread", handOver);
        row("  conversion to 4:2:0", convertStage);
        row("  encoding", encodeStage);
        row("  hop to the main thread (stand-in)", hop);
        row("  payload + seal + send", sendStage);
        row("  last piece sent -> last piece in", network);
    } else {
        row("  paint -> payload built (the agent)", agentSide);
        row("  payload built -> last piece in", network);
    }
    row("  last piece in -> decoding begins", toDecoder);
    row("  decoding", decodeStage);
    std::printf("  stages of the answered flips (decoded to shown):\n");
    row("  decoded -> GUI thread asks for a frame", toGuiThread);
    row("  -> the scene begins to sync", toSync);
    row("  sync (the picture's planes to textures)", syncStage);
    row("  render (the YUV shader)", renderStage);
    row("  rendered -> swapped", toSwap);
    std::printf("  CPU: agent %.1f%% of one core, controller %.1f%% of one core; ping %d ms\n",
                100 * agentCpu / seconds, 100 * selfCpu / seconds, client.latencyMs());
    std::printf("  load average before / after: %s / %s\n", loadBefore.c_str(), bench::loadAverage().c_str());
    std::fflush(stdout);
    client.disconnectSession();
    pump(500ms);
}

// The Wayland painter's process, forked while this one has a single thread: it waits for the environment
// of GNOME's session, which starts later, one "NAME=value" line each, and paints once `log->start` is
// set. Nothing on the pipe (no session): it ends.
[[noreturn]] void runWaylandPainterLater(int envPipe, FlipLog* log) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(envPipe, buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<std::size_t>(n));
    std::map<std::string, std::string> env;
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        if (const auto eq = text.find('=', at); eq < end)
            env[text.substr(at, eq - at)] = text.substr(eq + 1, end - eq - 1);
    if (env.empty()) ::_exit(0);
    bench::runWaylandPainter(env, W, H, log);
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = dovrel::bench::takeIsolatedOption(argc, argv);
    // Children first, while this process has one thread.
    dovrel::test::XvfbServer xvfb(W, H);
    if (!xvfb.running()) {
        std::printf("session latency: cannot run: %s\n", xvfb.failure().c_str());
        return 0;
    }
    auto* flips = static_cast<FlipLog*>(
        ::mmap(nullptr, sizeof(FlipLog), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    new (flips) FlipLog;
    auto* stages = static_cast<StageLog*>(
        ::mmap(nullptr, sizeof(StageLog), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    new (stages) StageLog;
    const uint16_t videoPort = dovrel::test::freeUdpPort();
    const pid_t painter = ::fork();
    if (painter == 0) runPainter(xvfb.display(), flips);
    int portPipe[2], goPipe[2];
    if (::pipe2(portPipe, O_CLOEXEC) != 0 || ::pipe2(goPipe, O_CLOEXEC) != 0) return 1;
    const pid_t standIn = ::fork();
    if (standIn == 0) runStandIn(xvfb.display(), videoPort, portPipe[1], goPipe[0], stages);
    // GNOME's painter, which waits for its session.
    auto* gnomeFlips = static_cast<FlipLog*>(
        ::mmap(nullptr, sizeof(FlipLog), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    new (gnomeFlips) FlipLog;
    int envPipe[2];
    if (::pipe2(envPipe, O_CLOEXEC) != 0) return 1;
    const pid_t waylandPainter = ::fork();
    if (waylandPainter == 0) {
        ::close(envPipe[1]);
        runWaylandPainterLater(envPipe[0], gnomeFlips);
    }
    ::close(envPipe[0]);

    // The controller's window goes on an X server of its own, so that the agent never captures it.
    dovrel::test::XvfbServer screen(1280, 720);
    if (!screen.running()) {
        std::printf("session latency: cannot run: %s\n", screen.failure().c_str());
        return 0;
    }
    ::setenv("DISPLAY", screen.display().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::setenv("QSG_RHI_BACKEND", "opengl", 1);
    VideoSurfaceItem::prepareProcess(); // as the controller's own main does
    QGuiApplication app(argc, argv);
    std::printf("session latency: %dx%d at 60 pictures a second on Xvfb %s, software H.264, loopback\n", W, H,
                xvfb.display().c_str());
    std::printf("scheduling: %s; load average %s, %u hardware threads\n", mode.c_str(), bench::loadAverage().c_str(),
                std::thread::hardware_concurrency());

    dovrel::test::TempDir dir;
    const ClientConfig config = bench::benchClientConfig(dir, videoPort);
    WEXClient client(config, std::make_shared<bench::NoRelayAccount>());
    Collector collector;
    QQuickWindow window;
    window.resize(960, 540);
    auto* item = new VideoSurfaceItem(window.contentItem());
    item->setSize(QSizeF(960, 540));
    item->setClient(&client);
    // The item's own observer, with the collector looking on.
    std::atomic<bool> updateQueued{false};
    item->surface()->setObserver([&](const VideoPicture& p) {
        collector.add(p);
        if (updateQueued.exchange(true)) return;
        QMetaObject::invokeMethod(
            item,
            [&] {
                updateQueued = false;
                const auto latest = item->surface()->latest();
                collector.updateAsked(latest ? latest->frameId : 0);
                item->update();
            },
            Qt::QueuedConnection);
    });
    QObject::connect(
        &window, &QQuickWindow::frameSwapped, item, [&] { collector.swapped(item->syncedFrameId()); },
        Qt::DirectConnection);
    QObject::connect(
        &window, &QQuickWindow::beforeSynchronizing, item, [&] { collector.syncNs = monoNs(); }, Qt::DirectConnection);
    QObject::connect(
        &window, &QQuickWindow::beforeRendering, item, [&] { collector.renderNs = monoNs(); }, Qt::DirectConnection);
    QObject::connect(
        &window, &QQuickWindow::afterRendering, item, [&] { collector.renderedNs = monoNs(); }, Qt::DirectConnection);
    window.show();
    const char* api = "?";
    if (waitFor([&] { return window.rendererInterface() != nullptr && window.isExposed(); }, 5s)) {
        const auto g = window.rendererInterface()->graphicsApi();
        api = g == QSGRendererInterface::OpenGL     ? "OpenGL (the YUV shader)"
              : g == QSGRendererInterface::Software ? "software (RGB on the processor)"
                                                    : "another GPU interface (the YUV shader)";
    }
    std::printf("controller window: 960x540 on Xvfb %s, scene graph on %s\n", screen.display().c_str(), api);

    // The real agent.
    {
        controller::test::AgentUnderTest agent;
        const auto& pub = client.security().identity().publicKey();
        client.security().trustAgent(agent.publicKey(), agent.room());
        std::string why;
        const bool started = agent.start(DOVREL_AGENT_BINARY, wex::ByteView(pub.data(), pub.size()), videoPort,
                                         {{"DISPLAY", xvfb.display()}, {"DOVREL_H264", "1"}}, why);
        if (!started) {
            std::printf("\n== DovrelAgent\n  cannot run: %s\n", why.c_str());
        } else {
            measure(
                "DovrelAgent (X11 capture, its own encoder and send path)", client, collector, *flips, nullptr,
                agent.pid(), [&] { client.connectToHost(QString("127.0.0.1:%1").arg(agent.controlPort())); },
                [&] { return "  its log ends:\n" + agent.tail(12); });
        }
    }

    // The stand-in.
    char go = 1;
    uint16_t ports[2] = {0, 0};
    if (::write(goPipe[1], &go, 1) == 1 && ::read(portPipe[0], ports, sizeof ports) == sizeof ports) {
        measure(
            "stand-in agent (the agent's X11 capture, H.264 encoder and packetizer behind the scripted agent)", client,
            collector, *flips, stages, standIn,
            [&] { client.connectToHost(QString("127.0.0.1:%1").arg(ports[0]), "123456"); },
            [] { return std::string("  (the stand-in agent runs in this benchmark's own child process)"); });
    } else {
        std::printf("\n== stand-in agent\n  cannot run: it did not start\n");
    }

    // X11 is done: its painter and the stand-in stop before GNOME's session starts.
    flips->stop = true;
    ::kill(standIn, SIGTERM);
    ::waitpid(standIn, nullptr, 0);
    ::waitpid(painter, nullptr, 0);

    // The real agent on GNOME's Wayland session, started now and painted by its own client.
    dovrel::test::GnomeSession gnome(std::vector<dovrel::test::GnomeMonitor>{{W, H, 60}});
    if (gnome.available()) {
        std::string env;
        for (const auto& [name, value] : gnome.env())
            env += name + "=" + value + "\n";
        if (::write(envPipe[1], env.data(), env.size()) != static_cast<ssize_t>(env.size())) return 1;
    }
    ::close(envPipe[1]);
    if (!gnome.available()) {
        std::printf("\n== DovrelAgent on GNOME Wayland\n  cannot run: %s\n", gnome.reason().c_str());
    } else {
        controller::test::AgentUnderTest agent;
        const auto& pub = client.security().identity().publicKey();
        client.security().trustAgent(agent.publicKey(), agent.room());
        std::map<std::string, std::string> env = gnome.env();
        env["DOVREL_H264"] = "1";
        std::string why;
        gnomeFlips->start = true;
        if (!agent.start(DOVREL_AGENT_BINARY, wex::ByteView(pub.data(), pub.size()), videoPort, env, why)) {
            std::printf("\n== DovrelAgent on GNOME Wayland\n  cannot run: %s\n", why.c_str());
        } else {
            measure(
                "DovrelAgent on GNOME Wayland (GNOME's screen cast through PipeWire, its own encoder and send path)",
                client, collector, *gnomeFlips, nullptr, agent.pid(),
                [&] { client.connectToHost(QString("127.0.0.1:%1").arg(agent.controlPort())); },
                [&] { return "  its log ends:\n" + agent.tail(12); });
        }
    }
    gnomeFlips->stop = true;
    ::waitpid(waylandPainter, nullptr, 0);
    return 0;
}

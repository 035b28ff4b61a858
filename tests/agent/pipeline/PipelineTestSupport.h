#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <condition_variable>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "../media/TestDecoder.h"
#include "../service/AgentTestSupport.h"
#include "agent/common/Diag.h"
#include "agent/media/CapturePipeline.h"
#include "agent/media/LibavHandles.h"
#include "agent/net/UdpSender.h"
#include "protocol/EphemeralKey.h"

namespace dovrel::test {

using agent::CapturedFrame;
using agent::EncodedPicture;
using agent::MonitorInfo;
using agent::VideoEncoderConfig;

// ---- sessions and sockets

// Both ends of one session: the agent seals with `agent`, the controller opens with `client`.
struct SessionPair {
    std::shared_ptr<wex::SecureSession> agent;
    std::shared_ptr<wex::SecureSession> client;

    SessionPair() {
        wex::EphemeralKey a, c;
        const auto shared = c.sharedSecret(a.publicKey());
        const auto keys = wex::SessionKeys::derive(shared.view(), c.publicKey(), a.publicKey());
        agent = std::make_shared<wex::SecureSession>(keys, wex::Direction::agentToClient);
        client = std::make_shared<wex::SecureSession>(keys, wex::Direction::clientToAgent);
    }
};

// A UDP socket on 127.0.0.1 that collects datagrams.
class UdpSink {
public:
    UdpSink() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        const int big = 8 << 20;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~UdpSink() { ::close(fd_); }
    UdpSink(const UdpSink&) = delete;
    UdpSink& operator=(const UdpSink&) = delete;

    uint16_t port() const { return port_; }
    std::shared_ptr<agent::UdpSender> sender() const { return agent::UdpSender::connectTo("127.0.0.1", port_); }

    std::optional<wex::Bytes> receive(std::chrono::milliseconds timeout = 1000ms) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
        uint8_t buf[65536];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n < 0) return std::nullopt;
        return wex::Bytes(buf, buf + n);
    }
    std::vector<wex::Bytes> drain(std::chrono::milliseconds quiet = 100ms) {
        std::vector<wex::Bytes> out;
        while (auto d = receive(quiet))
            out.push_back(std::move(*d));
        return out;
    }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// ---- the agent's side, recorded

// A PipelineHost whose session, route and streaming flag the test sets, and which records what the
// pipeline asks of the agent.
struct HostRecorder {
    std::atomic<bool> streaming{false};
    std::atomic<std::shared_ptr<const agent::SendTarget>> target;
    mutable std::mutex lock;
    std::vector<std::pair<wex::ControlType, wex::Bytes>> control;
    std::vector<std::pair<wex::Bytes, bool>> relayed;
    std::vector<agent::StreamedArea> areas;
    std::vector<bool> restingReports;
    std::vector<std::pair<int, std::string>> videoReports;
    std::atomic<int> drops{0};
    std::atomic<bool> relayAccepts{true};                 // false: the relay queue refuses (full or closed)
    std::optional<agent::ControlLinkReading> controlLink; // under lock

    void setControlLink(agent::ControlLinkReading reading) {
        const std::lock_guard g(lock);
        controlLink = reading;
    }

    agent::PipelineHost host() {
        agent::PipelineHost h;
        h.sendTarget = [this] { return target.load(); };
        h.streaming = [this] { return streaming.load(); };
        h.sendControl = [this](wex::Bytes payload, wex::ControlType type) {
            const std::lock_guard g(lock);
            control.emplace_back(type, std::move(payload));
        };
        h.sendRelayMedia = [this](const agent::SendTarget&, wex::Bytes frame, bool isVideo) {
            if (!relayAccepts) return false;
            const std::lock_guard g(lock);
            relayed.emplace_back(std::move(frame), isVideo);
            return true;
        };
        h.dropClient = [this] { ++drops; };
        h.controlLink = [this] {
            const std::lock_guard g(lock);
            return controlLink;
        };
        h.streamedArea = [this](const agent::StreamedArea& a) {
            const std::lock_guard g(lock);
            areas.push_back(a);
        };
        h.restingChanged = [this](bool on) {
            const std::lock_guard g(lock);
            restingReports.push_back(on);
        };
        h.videoReport = [this](int fps, const std::string& path) {
            const std::lock_guard g(lock);
            videoReports.emplace_back(fps, path);
        };
        return h;
    }
    void setTarget(std::shared_ptr<wex::SecureSession> session, std::shared_ptr<agent::UdpSender> video,
                   bool relay = false) {
        auto t = std::make_shared<agent::SendTarget>();
        t->session = std::move(session);
        t->sessionId = 1;
        t->isRelay = relay;
        t->route = std::move(video);
        target.store(t);
    }
    std::vector<wex::Bytes> controlOf(wex::ControlType type) const {
        const std::lock_guard g(lock);
        std::vector<wex::Bytes> out;
        for (const auto& [t, payload] : control)
            if (t == type) out.push_back(payload);
        return out;
    }
};

// ---- fake sources and encoders

// A screen capturer whose pictures the test hands over. start() clamps like the real one and can be
// told to fail; restart() can be told to fail or to hang until released.
class FakeCapturer final : public agent::ScreenCapturer {
public:
    explicit FakeCapturer(FrameCallback onFrame, std::vector<MonitorInfo> monitors)
        : onFrame_(std::move(onFrame)), monitors_(std::move(monitors)) {}
    ~FakeCapturer() override {
        if (onGone) onGone();
    }

    void setOnAudio(AudioCallback cb) override { onAudio_ = std::move(cb); }
    void setOnStreamStopped(StoppedCallback cb) override { onStopped_ = std::move(cb); }
    void refreshDisplays() override {}
    void start(int index) override {
        if (failStart) throw std::runtime_error("capture: no display found");
        const std::lock_guard g(lock_);
        current_ = std::clamp(index, 0, static_cast<int>(monitors_.size()) - 1);
        ++starts;
    }
    void restart() override {
        ++restarts;
        std::unique_lock lk(lock_);
        released_.wait(lk, [this] { return !hangRestart; });
        if (failRestart) throw std::runtime_error("capture: the display went away");
    }
    std::string name(int index) const override {
        return index == 0 ? "Main display" : "Display " + std::to_string(index + 1);
    }
    std::vector<MonitorInfo> displays() const override { return monitors_; }
    int currentIndex() const override {
        const std::lock_guard g(lock_);
        return current_;
    }
    int width() const override { return monitors_[static_cast<std::size_t>(currentIndex())].width; }
    int height() const override { return monitors_[static_cast<std::size_t>(currentIndex())].height; }
    int captureFPS() const override { return fps_; }
    void setCaptureFPS(int fps) override {
        fps_ = fps;
        const std::lock_guard g(lock_);
        fpsChanges.push_back(fps);
    }
    void requestFrame() override { ++frameRequests; }
    void requestFrames(int count) override {
        ++frameRequests;
        framesKept = count;
    }
    agent::CaptureSourceWords sourceWords() const override { return {"the test's display", "no test display yet"}; }

    // One picture, as the capture thread would deliver it, and one tick of the stream.
    void deliver(Instant at) {
        agent::Diag::stamp(agent::Diag::Stamp::lastStreamAt, at);
        CapturedFrame f;
        f.format = agent::PixelFormat::yuv420p;
        f.width = width();
        f.height = height();
        f.planes = {pixel_, pixel_, pixel_};
        f.strides = {0, 0, 0};
        f.capturedAt = at;
        onFrame_(f);
    }
    // A sign of the stream without a complete picture (an audio buffer, a tick with nothing new).
    void streamTick(Instant at) { agent::Diag::stamp(agent::Diag::Stamp::lastStreamAt, at); }
    void audio(std::span<const int16_t> samples) {
        if (onAudio_) onAudio_(samples, 48000, 2);
    }
    void stopBySystem() {
        if (onStopped_) onStopped_("the display server went away");
    }
    void release() {
        {
            const std::lock_guard g(lock_);
            hangRestart = false;
        }
        released_.notify_all();
    }

    std::atomic<bool> failStart{false};
    std::atomic<bool> failRestart{false};
    bool hangRestart = false; // set before the restart; release() lets it go
    std::atomic<int> starts{0};
    std::atomic<int> restarts{0};
    std::atomic<int> frameRequests{0};
    std::atomic<int> framesKept{0}; // the count of the last requestFrames
    std::vector<int> fpsChanges;
    std::function<void()> onGone; // runs as the capturer is destroyed

private:
    FrameCallback onFrame_;
    AudioCallback onAudio_;
    StoppedCallback onStopped_;
    std::vector<MonitorInfo> monitors_;
    mutable std::mutex lock_;
    std::condition_variable released_;
    int current_ = 0;
    std::atomic<int> fps_{60};
    uint8_t pixel_[1] = {128};
};

// Shared between a test and the encoders the pipeline builds through it.
struct EncoderLog {
    std::mutex lock;
    std::vector<VideoEncoderConfig> built; // every encoder made, started or not
    std::atomic<bool> failStart{false};    // the next starts throw
    std::atomic<bool> silent{false};       // encoders take frames but put nothing out
    std::atomic<int> encodes{0};
    std::vector<Instant> encodedAt;      // the capture time of every frame handed to an encoder
    std::atomic<int> alive{0};           // encoders not yet destroyed
    std::atomic<int> refreshPeriod{4};   // what encoders built to repair losses report (0: like hardware)
    std::atomic<bool> holdStarts{false}; // start() waits while set (a codec slow to open)
    std::atomic<std::size_t> pictureBytes{3}; // the size of each picture made
    std::atomic<int> startsHeld{0};
    std::atomic<bool> retargets{false}; // encoders made from now on take a new rate while they run (x264)
    std::vector<std::pair<uint64_t, std::pair<int64_t, int>>> retargeted; // (encoder, rate) as told
    std::size_t retargetCount() {
        const std::lock_guard g(lock);
        return retargeted.size();
    }
    std::size_t count() {
        const std::lock_guard g(lock);
        return built.size();
    }
    VideoEncoderConfig last() {
        const std::lock_guard g(lock);
        return built.back();
    }
};

// An encoder that puts out one small picture per frame, at once, on the caller's thread: a keyframe
// with parameter sets first and whenever one was asked for. A silent one takes frames and makes nothing.
class FakeEncoder final : public agent::VideoEncoder {
public:
    FakeEncoder(VideoEncoderConfig config, OutputCallback out, std::shared_ptr<EncoderLog> log)
        : config_(config), out_(std::move(out)), log_(std::move(log)), retargets_(log_->retargets) {
        ++log_->alive;
        const std::lock_guard g(log_->lock);
        index_ = log_->built.size();
        log_->built.push_back(config);
    }
    ~FakeEncoder() override { --log_->alive; }
    void start() override {
        for (++log_->startsHeld; log_->holdStarts;)
            std::this_thread::sleep_for(1ms);
        --log_->startsHeld;
        if (log_->failStart) throw std::runtime_error("encoder: avcodec_open2 libx264: no such encoder");
        started_ = true;
    }
    void encode(const CapturedFrame& frame, uint64_t ptsUs, bool forceKeyframe) override {
        if (!started_) return;
        ++log_->encodes;
        {
            const std::lock_guard g(log_->lock);
            log_->encodedAt.push_back(frame.capturedAt);
        }
        if (log_->silent) return;
        // Like a real encoder, the first picture is a keyframe.
        const bool key = takeKeyframeRequest() || forceKeyframe || std::exchange(first_, false);
        EncodedPicture p;
        // The budget it was built for shows in the picture: its bit rate in 100 kbit/s.
        p.units = {wex::Bytes{0x65, 0x88, static_cast<uint8_t>(config_.budget.averageBitRate / 100000)}};
        p.units.front().resize(std::max<std::size_t>(log_->pictureBytes, 3), 0x11);
        p.keyframe = key;
        if (key) p.parameterSets = std::vector<wex::Bytes>{{0x67, 0x01}, {0x68, 0x02}};
        p.ptsUs = ptsUs;
        p.capturedAt = frame.capturedAt;
        out_(std::move(p));
    }
    bool retarget(int64_t bitRate, int frameRate) override {
        if (!retargets_) return false;
        const std::lock_guard g(log_->lock);
        log_->retargeted.push_back({index_, {bitRate, frameRate}});
        return true;
    }
    bool retargetsInPlace() const override { return retargets_; }
    const VideoEncoderConfig& config() const override { return config_; }
    std::string backend() const override { return "fake"; }
    uint64_t framesSkipped() const override { return 0; }
    int refreshPeriod() const override { return config_.repairsLosses ? log_->refreshPeriod.load() : 0; }

private:
    VideoEncoderConfig config_;
    OutputCallback out_;
    std::shared_ptr<EncoderLog> log_;
    const bool retargets_;
    std::size_t index_ = 0; // in the log's `built`
    bool started_ = false;
    bool first_ = true;
};

struct FakePower final : agent::PowerAssertions {
    std::mutex lock;
    std::vector<std::string> calls;
    std::function<void()> onWake;
    void add(std::string c) {
        const std::lock_guard g(lock);
        calls.push_back(std::move(c));
    }
    void hold() override { add("hold"); }
    void restDisplay() override { add("rest"); }
    void wakeDisplay() override { add("wake"); }
    void setOnWake(std::function<void()> cb) override {
        const std::lock_guard g(lock);
        onWake = std::move(cb);
    }
    std::vector<std::string> all() {
        const std::lock_guard g(lock);
        return calls;
    }
};

inline std::vector<MonitorInfo> twoMonitors() {
    return {{"DP-1", 0, 0, 1920, 1080, true}, {"HDMI-1", 1920, 0, 1280, 1024, false}};
}

// A pipeline on fake sources, a fake encoder and a fake clock, with its host recorded.
struct PipelineRig {
    explicit PipelineRig(std::vector<MonitorInfo> monitors = twoMonitors(), bool hevcDefault = false)
        : monitors_(std::move(monitors)) {
        qtApp();
        agent::CapturePipeline::Options o;
        o.clock = &clock;
        o.makeCapturer = [this](agent::ScreenCapturer::FrameCallback cb) {
            auto c = std::make_shared<FakeCapturer>(std::move(cb), monitors_);
            c->failStart = capturerFails.load(); // its display is not there yet
            const std::lock_guard g(lock);
            if (!c->failStart) capturers.push_back(c);
            return std::shared_ptr<agent::ScreenCapturer>(c);
        };
        o.makeEncoder = [log = encoders](VideoEncoderConfig c, agent::VideoEncoder::OutputCallback out) {
            return std::shared_ptr<agent::VideoEncoder>(std::make_shared<FakeEncoder>(c, std::move(out), log));
        };
        o.codec = [hevcDefault] {
            return hevcDefault ? agent::VideoCodecChoice{false, agent::VideoCodecChoice::Why::hardwareHevc}
                               : agent::VideoCodecChoice{true, agent::VideoCodecChoice::Why::noHardwareHevc};
        };
        o.synthetic = false;
        o.budget = [](bool relay) { return agent::VideoBudget::forLink(relay); };
        o.power = power;
        o.sampleStats = [] { return agent::SystemStats::Sample{37, 61}; };
        o.rotateLog = [] {};
        pipeline = std::make_unique<agent::CapturePipeline>(std::move(o));
        pipeline->attach(rec.host());
        // Every stamp fresh at the start, on this clock.
        for (auto s :
             {agent::Diag::Stamp::lastCaptureAt, agent::Diag::Stamp::lastStreamAt, agent::Diag::Stamp::lastEncodeAt})
            agent::Diag::stamp(s, clock.now());
        agent::Diag::tick();
    }
    ~PipelineRig() {
        encoders->holdStarts = false;
        for (const auto& c : allCapturers())
            c->release();
        pipeline.reset();
    }

    // Starts the supervisor and waits for its first set-up attempt.
    void start() {
        pipeline->start();
        pipeline->waitForSetup();
        pipeline->timerQueue().sync([] {});
    }
    // Moves the clock on the pipeline's timer thread, firing what falls due; `each` runs at every whole
    // second on the way (for sources that deliver as time passes).
    void advance(Duration d, const std::function<void()>& each = {}) {
        pipeline->timerQueue().sync([&] {
            if (!each) {
                clock.advance(d);
                return;
            }
            for (Duration done{}; done < d; done += 1s) {
                clock.advance(std::min<Duration>(1s, d - done));
                each();
            }
        });
    }
    // Lets the set-up thread and the timer thread finish what they handed each other.
    void settle() {
        for (int i = 0; i < 3; ++i) {
            pipeline->waitForSetup();
            pipeline->timerQueue().sync([] {});
        }
    }
    // Runs `fn` on the timer thread, where the clock is read.
    void onTimerThread(const std::function<void()>& fn) { pipeline->timerQueue().sync(fn); }

    std::shared_ptr<FakeCapturer> capturer() {
        const std::lock_guard g(lock);
        return capturers.empty() ? nullptr : capturers.back();
    }
    std::vector<std::shared_ptr<FakeCapturer>> allCapturers() {
        const std::lock_guard g(lock);
        return capturers;
    }
    void deliver() {
        onTimerThread([&] { capturer()->deliver(clock.now()); });
    }

    std::vector<MonitorInfo> monitors_;
    FakeScheduler clock;
    HostRecorder rec;
    std::shared_ptr<EncoderLog> encoders = std::make_shared<EncoderLog>();
    std::shared_ptr<FakePower> power = std::make_shared<FakePower>();
    std::atomic<bool> capturerFails{false};
    std::mutex lock;
    std::vector<std::shared_ptr<FakeCapturer>> capturers;
    std::unique_ptr<agent::CapturePipeline> pipeline;
};

// A still screen: one picture a second, for PipelineRig::advance.
inline std::function<void()> stillScreen(PipelineRig& rig) {
    return [&rig] { rig.capturer()->deliver(rig.clock.now()); };
}

// ---- decoding what arrived

// Decodes the NAL units of one payload, as the controller does.
class Decoder : public TestDecoder {
public:
    using TestDecoder::TestDecoder;
    std::vector<agent::libav::FramePtr> decode(const std::vector<wex::Bytes>& nals) {
        return TestDecoder::decode(annexB({}, nals));
    }
};

// Mean luma of one row.
inline double rowLuma(const AVFrame& f, int y) {
    double sum = 0;
    for (int x = 0; x < f.width; ++x)
        sum += f.data[0][static_cast<std::ptrdiff_t>(y) * f.linesize[0] + x];
    return sum / f.width;
}

// The synthetic pattern: row y holds (y + t) mod 256 for the frame's t. True when every row away from
// the wrap (where the codec smooths the jump) is within `tolerance` of that, for the t the picture
// shows away from its edges and the wrap.
inline bool showsGradient(const AVFrame& f, double tolerance = 4.0) {
    std::optional<int> t;
    for (int y = f.height / 8; y < f.height && !t; y += f.height / 8) {
        const int v = static_cast<int>(std::lround(rowLuma(f, y)));
        if (v >= 24 && v <= 231) t = ((v - y) % 256 + 256) % 256;
    }
    if (!t) return false;
    int checked = 0;
    for (int y = 0; y < f.height; ++y) {
        const int expected = (y + *t) % 256;
        if (expected < 8 || expected > 247) continue;
        if (std::abs(rowLuma(f, y) - expected) > tolerance) return false;
        ++checked;
    }
    return checked > f.height / 2;
}

} // namespace dovrel::test

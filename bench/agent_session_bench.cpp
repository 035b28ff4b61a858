// What a streaming session costs and delivers, on a busy 1920x1080 desktop in a private Xvfb with
// software H.264 at the local-network budget:
//  1. the capture pipeline as the agent runs it, sealing and sending to a UDP socket: capture to last
//     piece sent (p50/p95/p99), frames per second, and the bit rate actually sent over 10 s against the
//     budget (average and the one-second burst limit);
//  2. the DovrelAgent program itself: its processor use (% of one core) with no session on a still and
//     on a busy desktop, and with a 1080p60 session, and what the controller received.
// Prints figures; asserts nothing.

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include "BusyScene.h"
#include "agent/common/AgentError.h"
#include "agent/common/Diag.h"
#include "agent/media/CapturePipeline.h"
#include "agent/media/LibavVideoEncoder.h"
#include "agent/media/X11ScreenCapturer.h"
#include "agent/net/UdpSender.h"
#include "protocol/EphemeralKey.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempHome.h"
#include "tests/support/TestController.h"
#include "tests/support/XvfbServer.h"

#include <QCoreApplication>

using namespace dovrel;
using namespace dovrel::agent;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto measureFor = 10s;

double pct(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p / 100 * static_cast<double>(v.size())))];
}

// Counts what arrives on a UDP socket on 127.0.0.1, per second.
class UdpCounter {
public:
    UdpCounter() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        const int big = 16 << 20;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~UdpCounter() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    uint16_t port() const { return port_; }
    void reset() {
        const std::lock_guard g(lock_);
        bytes_ = datagrams_ = 0;
        perSecond_.clear();
        since_ = Clock::now();
    }
    struct Totals {
        uint64_t bytes = 0, datagrams = 0, busiestSecond = 0;
    };
    Totals totals() {
        const std::lock_guard g(lock_);
        Totals t{bytes_, datagrams_, 0};
        for (auto b : perSecond_)
            t.busiestSecond = std::max(t.busiestSecond, b);
        return t;
    }

private:
    void run() {
        uint8_t buf[65536];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) continue;
            const std::lock_guard g(lock_);
            bytes_ += static_cast<uint64_t>(n);
            ++datagrams_;
            const auto second = static_cast<std::size_t>((Clock::now() - since_) / 1s);
            if (perSecond_.size() <= second) perSecond_.resize(second + 1);
            perSecond_[second] += static_cast<uint64_t>(n);
        }
    }
    int fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    uint64_t bytes_ = 0, datagrams_ = 0;
    std::vector<uint64_t> perSecond_;
    Clock::time_point since_ = Clock::now();
    std::thread thread_;
};

double cpuSecondsOfSelf() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Processor time of every thread of a process, in nanoseconds (schedstat), so that a fraction of a
// percent shows.
double cpuSecondsOf(pid_t pid) {
    double total = 0;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream in(task.path() / "schedstat");
        unsigned long long ns = 0;
        if (in >> ns) total += static_cast<double>(ns) / 1e9;
    }
    return total;
}

// Keeps the pipeline's log lines out of the figures.
class Quiet {
public:
    Quiet() : saved_(::dup(1)) {
        std::fflush(stdout);
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        ::dup2(null, 1);
        ::close(null);
    }
    ~Quiet() {
        std::fflush(stdout);
        ::dup2(saved_, 1);
        ::close(saved_);
    }

private:
    int saved_;
};

class NoAudio final : public AudioCapturer {
public:
    void start(Callback) override { throw AgentError(AgentError::Kind::capture, "not measured"); }
    void stop() override {}
    bool running() const override { return false; }
};

void inProcessSession(int w, int h) {
    test::XvfbServer xvfb(w, h);
    if (!xvfb.running()) {
        std::printf("no Xvfb: %s\n", xvfb.failure().c_str());
        return;
    }
    bench::BusyScene scene(xvfb.display(), w, h);
    UdpCounter sink;

    wex::EphemeralKey a, c;
    const auto keys = wex::SessionKeys::derive(c.sharedSecret(a.publicKey()).view(), c.publicKey(), a.publicKey());
    auto target = std::make_shared<SendTarget>();
    target->session = std::make_shared<wex::SecureSession>(keys, wex::Direction::agentToClient);
    target->sessionId = 1;
    target->route = UdpSender::connectTo("127.0.0.1", sink.port());
    const std::shared_ptr<const SendTarget> published = target;

    std::mutex lock;
    std::vector<double> latencyMs;
    std::atomic<bool> measuring{false};
    std::atomic<uint64_t> pictures{0}, pieces{0}, bytes{0};
    CapturePipeline::Options o;
    o.makeCapturer = [display = xvfb.display()](ScreenCapturer::FrameCallback cb) {
        X11ScreenCapturer::Options xo;
        xo.displayName = display;
        xo.audio = std::make_shared<NoAudio>();
        return std::shared_ptr<ScreenCapturer>(std::make_shared<X11ScreenCapturer>(std::move(cb), std::move(xo)));
    };
    o.makeEncoder = [](VideoEncoderConfig config, VideoEncoder::OutputCallback out) {
        return std::shared_ptr<VideoEncoder>(
            std::make_shared<LibavVideoEncoder>(config, std::move(out), LibavVideoEncoder::Hardware::never));
    };
    o.codec = [] { return VideoCodecChoice{true, VideoCodecChoice::Why::requested}; };
    o.synthetic = false;
    o.budget = [](bool relay) { return VideoBudget::forLink(relay); };
    o.rotateLog = [] {};
    std::vector<double> convertMs, encodeMs, sendMs, beforeMs;
    o.onPictureSent = [&](const PictureTrace& t) {
        if (!measuring) return;
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t.capturedAt).count();
        ++pictures;
        pieces += t.sent.pieces;
        bytes += t.sent.bytes;
        const std::lock_guard g(lock);
        latencyMs.push_back(ms);
        convertMs.push_back(t.convertMicros / 1000.0);
        encodeMs.push_back(t.encodeMicros / 1000.0);
        sendMs.push_back(t.sendMicros / 1000.0);
        beforeMs.push_back(ms - (t.convertMicros + t.encodeMicros + t.sendMicros) / 1000.0);
    };
    std::atomic<bool> streaming{false};
    double cpu = 0;
    Diag::Tick counts;
    uint64_t skipped = 0;
    {
        Quiet quiet;
        CapturePipeline pipeline(std::move(o));
        PipelineHost host;
        host.sendTarget = [&] { return published; };
        host.streaming = [&] { return streaming.load(); };
        pipeline.attach(host);
        pipeline.start();
        pipeline.waitForSetup();
        streaming = true;
        pipeline.requestKeyframe();
        std::this_thread::sleep_for(1s); // warm-up
        sink.reset();
        Diag::tick();
        measuring = true;
        const double cpu0 = cpuSecondsOfSelf();
        std::this_thread::sleep_for(measureFor);
        cpu = cpuSecondsOfSelf() - cpu0;
        measuring = false;
        counts = Diag::tick();
        skipped = pipeline.currentEncoder()->framesSkipped();
        std::this_thread::sleep_for(100ms);
    }
    const double seconds = std::chrono::duration<double>(measureFor).count();
    const VideoBudget budget = VideoBudget::lan();
    const auto received = sink.totals();
    const std::lock_guard g(lock);
    std::printf("\n1. capture pipeline in process, %dx%d busy desktop, software H.264 (libx264), LAN budget\n", w, h);
    std::printf("   capture -> last piece sent: p50 %.2f ms   p95 %.2f ms   p99 %.2f ms   (%zu pictures)\n",
                pct(latencyMs, 50), pct(latencyMs, 95), pct(latencyMs, 99), latencyMs.size());
    std::printf("     of which: grab and hand-over to the encoder p50 %.2f ms, conversion p50 %.2f ms, encoding p50 "
                "%.2f ms, payload + seal + send p50 %.2f ms (p95 %.2f / %.2f / %.2f / %.2f ms)\n",
                pct(beforeMs, 50), pct(convertMs, 50), pct(encodeMs, 50), pct(sendMs, 50), pct(beforeMs, 95),
                pct(convertMs, 95), pct(encodeMs, 95), pct(sendMs, 95));
    std::printf("   captured %.1f/s, encoded %.1f/s, sent %.1f pictures/s (%.1f pieces each); %llu frames the encoder "
                "skipped because it was still busy\n",
                static_cast<double>(counts.cap) / seconds, static_cast<double>(counts.enc) / seconds,
                static_cast<double>(pictures) / seconds,
                pictures ? static_cast<double>(pieces) / static_cast<double>(pictures) : 0.0,
                static_cast<unsigned long long>(skipped));
    std::printf("   sent over %.0f s: %.2f Mbit/s on the wire (budget %.0f Mbit/s average, burst limit %.0f Mbit/s);"
                " busiest second %.2f Mbit/s\n",
                seconds, static_cast<double>(bytes) * 8 / seconds / 1e6,
                static_cast<double>(budget.averageBitRate) / 1e6,
                static_cast<double>(budget.burstBytesPerSecond) * 8 / 1e6,
                static_cast<double>(received.busiestSecond) * 8 / 1e6);
    std::printf("   received on the socket: %llu datagrams, %.2f Mbit/s\n",
                static_cast<unsigned long long>(received.datagrams),
                static_cast<double>(received.bytes) * 8 / seconds / 1e6);
    std::printf("   processor: %.0f%% of one core (capture, conversion, encoding, sealing, sending)\n",
                cpu / seconds * 100);
}

void programCost(int w, int h) {
    test::XvfbServer xvfb(w, h);
    if (!xvfb.running()) return;
    test::TempDir home;
    test::TestController controller;
    {
        std::filesystem::create_directories(home.file(".config/Dovrel"));
        std::ofstream(home.file(".config/Dovrel/relay.json")) << "{\"lan\": true}";
        std::filesystem::create_directories(home.file(".dovrel"));
        const wex::Bytes key = controller.publicKey();
        std::ofstream(home.file(".dovrel/paired"), std::ios::binary)
            .write(reinterpret_cast<const char*>(key.data()), static_cast<std::streamsize>(key.size()));
    }
    UdpCounter sink;
    test::ChildProcess agent;
    test::ChildProcess::Options opts;
    opts.env = {{"HOME", home.str()},        {"XDG_CONFIG_HOME", home.file(".config")},
                {"DISPLAY", xvfb.display()}, {"PULSE_SERVER", "unix:/nonexistent"},
                {"DOVREL_H264", "1"},        {"DOVREL_CONTROL_PORT", "0"},
                {"DOVREL_INPUT_PORT", "0"},  {"DOVREL_VIDEO_PORT", std::to_string(sink.port())}};
    if (!agent.start({DOVREL_AGENT_BINARY}, opts)) {
        std::printf("DovrelAgent would not start\n");
        return;
    }
    const std::string logPath = home.file(".dovrel-agent.log");
    std::smatch ports;
    std::string log;
    for (int i = 0; i < 500; ++i) {
        std::ifstream in(logPath);
        log.assign(std::istreambuf_iterator<char>(in), {});
        if (log.find("• capture pipeline ready") != std::string::npos &&
            std::regex_search(log, ports, std::regex(R"(CONTROL tcp/(\d+), INPUT udp/(\d+))")))
            break;
        std::this_thread::sleep_for(20ms);
    }
    if (ports.empty()) {
        std::printf("DovrelAgent did not come up:\n%s\n", log.c_str());
        return;
    }
    const auto cost = [&](const std::function<void()>& during) {
        const double c0 = cpuSecondsOf(agent.pid());
        const auto end = Clock::now() + measureFor;
        while (Clock::now() < end) {
            if (during) during();
            std::this_thread::sleep_for(1s);
        }
        return (cpuSecondsOf(agent.pid()) - c0) / std::chrono::duration<double>(measureFor).count() * 100;
    };
    std::this_thread::sleep_for(6s); // past the first watchdog tick, which settles the idle capture rate
    const double idleStill = cost({});
    double idleBusy = 0, session = 0;
    UdpCounter::Totals received;
    {
        bench::BusyScene scene(xvfb.display(), w, h);
        std::this_thread::sleep_for(1s);
        idleBusy = cost({});
        controller.connect(static_cast<uint16_t>(std::stoi(ports[1])), static_cast<uint16_t>(std::stoi(ports[2])));
        if (!controller.authenticateWithKey()) {
            std::printf("the controller could not authenticate\n");
            return;
        }
        std::this_thread::sleep_for(1s);
        sink.reset();
        session = cost([&] { controller.keepAlive(); });
        received = sink.totals();
    }
    const double seconds = std::chrono::duration<double>(measureFor).count();
    std::printf("\n2. DovrelAgent program, %dx%d Xvfb, software H.264, %.0f s each\n", w, h, seconds);
    std::printf("   no session, still desktop:  %.3f%% of one core\n", idleStill);
    std::printf("   no session, busy desktop:   %.3f%% of one core\n", idleBusy);
    std::printf("   1080p60 session, busy desktop: %.0f%% of one core; the controller received %.2f Mbit/s in %llu "
                "datagrams (busiest second %.2f Mbit/s)\n",
                session, static_cast<double>(received.bytes) * 8 / seconds / 1e6,
                static_cast<unsigned long long>(received.datagrams),
                static_cast<double>(received.busiestSecond) * 8 / 1e6);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv); // the pipeline's queues run Qt event loops
    std::printf("agent session, %u hardware threads\n", std::thread::hardware_concurrency());
    std::fflush(stdout);
    inProcessSession(1920, 1080);
    std::fflush(stdout);
    programCost(1920, 1080);
    return 0;
}

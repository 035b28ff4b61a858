// The picture under loss, end to end on loopback: the real DovrelAgent streams a busy 1920x1080 desktop
// (a private Xvfb, 60 pictures a second) to the controller's client through a small UDP forwarder that
// drops a share of the video pieces at random (1 % and 5 %). Figures: pictures shown per second, the
// gaps between new pictures (p50, p99, the longest), and how long after a lost piece the picture is
// whole again (decoded from an unbroken chain since a keyframe; p50 and max over loss episodes), the
// bit rate on the wire, and for each gap over 100 ms what lay in it (frames not shown, pieces dropped).
// Prints figures; asserts nothing.
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "BenchClient.h"
#include "BusyScene.h"
#include "EventLoopWait.h"
#include "controller/client/WEXClient.h"
#include "protocol/CommonHeader.h"
#include "tests/controller/media/AgentUnderTest.h"
#include "tests/support/TempHome.h"
#include "tests/support/XvfbServer.h"

using namespace dovrel;
using namespace dovrel::controller;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int W = 1920, H = 1080;
constexpr auto warmUp = 3s;
constexpr auto window = 15s;

[[noreturn]] void runPainter(const std::string& display) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    {
        dovrel::test::XTestClient pointer(display);
        pointer.movePointer(W - 10, H - 10);
    }
    bench::BusyScene scene(display, W, H);
    for (;;)
        ::pause();
}

int udpSocket(uint16_t port) {
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int big = 8 << 20;
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    return s;
}

uint16_t portOf(int s) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

uint16_t freeUdpPort() {
    const int s = udpSocket(0);
    const uint16_t port = portOf(s);
    ::close(s);
    return port;
}

// Forwards the agent's datagrams to the client, dropping that share of the video pieces.
class LossyForwarder {
public:
    explicit LossyForwarder(uint16_t to) : in_(udpSocket(0)), out_(udpSocket(0)), to_(to) {
        thread_ = std::thread([this] { run(); });
    }
    ~LossyForwarder() {
        stop_ = true;
        thread_.join();
        ::close(in_);
        ::close(out_);
    }
    uint16_t port() const { return portOf(in_); }
    void setLoss(double share) { lossPerMillion_ = static_cast<uint32_t>(share * 1e6); }
    // Times a piece was dropped since the last call.
    std::vector<Clock::time_point> takeDrops() {
        const std::lock_guard g(lock_);
        return std::exchange(drops_, {});
    }
    uint64_t forwarded() const { return forwarded_; }
    // Bytes of video forwarded since the last call.
    uint64_t takeVideoBytes() { return videoBytes_.exchange(0); }

private:
    void run() {
        std::mt19937 rng(7);
        std::vector<uint8_t> buf(70000);
        sockaddr_in dest{};
        dest.sin_family = AF_INET;
        dest.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        dest.sin_port = htons(to_);
        while (!stop_) {
            pollfd p{in_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = ::recv(in_, buf.data(), buf.size(), 0);
            if (n <= 0) continue;
            bool video = false;
            try {
                video = wex::CommonHeader::decode(wex::ByteView(buf.data(), static_cast<std::size_t>(n))).stream ==
                        wex::Stream::video;
            } catch (...) {
            }
            if (video && rng() % 1'000'000 < lossPerMillion_.load()) {
                const std::lock_guard g(lock_);
                drops_.push_back(Clock::now());
                continue;
            }
            ::sendto(out_, buf.data(), static_cast<std::size_t>(n), 0, reinterpret_cast<sockaddr*>(&dest), sizeof dest);
            ++forwarded_;
            if (video) videoBytes_ += static_cast<uint64_t>(n);
        }
    }
    int in_, out_;
    uint16_t to_;
    std::atomic<bool> stop_{false};
    std::atomic<uint32_t> lossPerMillion_{0};
    std::atomic<uint64_t> forwarded_{0};
    std::atomic<uint64_t> videoBytes_{0};
    std::mutex lock_;
    std::vector<Clock::time_point> drops_;
    std::thread thread_;
};

struct Shown {
    Clock::time_point at;
    bool whole;
    uint32_t frameId;
};

struct Collector {
    std::mutex lock;
    bool recording = false;
    std::vector<Shown> shown;
    void add(const VideoPicture& p) {
        const std::lock_guard g(lock);
        if (recording) shown.push_back({p.decodedAt, p.whole, p.frameId});
    }
};

double pct(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p / 100 * static_cast<double>(v.size())))];
}
double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

using bench::pump;
using bench::waitFor;

void measure(double loss, LossyForwarder& forwarder, Collector& collector) {
    forwarder.setLoss(loss);
    pump(std::chrono::duration_cast<std::chrono::milliseconds>(warmUp));
    forwarder.takeDrops();
    forwarder.takeVideoBytes();
    {
        const std::lock_guard g(collector.lock);
        collector.shown.clear();
        collector.recording = true;
    }
    const auto start = Clock::now();
    pump(std::chrono::duration_cast<std::chrono::milliseconds>(window));
    const auto end = Clock::now();
    std::vector<Shown> shown;
    {
        const std::lock_guard g(collector.lock);
        collector.recording = false;
        shown = std::move(collector.shown);
    }
    const auto drops = forwarder.takeDrops();
    const uint64_t videoBytes = forwarder.takeVideoBytes();

    std::vector<double> gaps;
    Clock::time_point last = start;
    // What lay in each long gap: frames the agent numbered but the client did not show, pieces dropped.
    std::vector<std::string> causes;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const Shown& s = shown[i];
        gaps.push_back(ms(s.at - last));
        if (i > 0 && gaps.back() > 100) {
            const auto dropped =
                std::count_if(drops.begin(), drops.end(), [&](auto t) { return t > last - 50ms && t <= s.at; });
            char line[200];
            std::snprintf(line, sizeof line, "    %.0f ms: frames %u -> %u (%d not shown), %ld pieces dropped, %s\n",
                          gaps.back(), shown[i - 1].frameId, s.frameId,
                          static_cast<int>(s.frameId - shown[i - 1].frameId) - 1, static_cast<long>(dropped),
                          s.whole ? "whole after" : "concealed after");
            causes.emplace_back(line);
        }
        last = s.at;
    }
    gaps.push_back(ms(end - last));
    // A loss episode begins with a dropped piece while the picture is whole and ends with the first
    // whole picture after it; drops inside an episode belong to it.
    std::vector<double> toClean;
    int unfinished = 0;
    std::size_t next = 0;
    for (std::size_t d = 0; d < drops.size();) {
        const auto begun = drops[d];
        while (next < shown.size() && shown[next].at <= begun)
            ++next;
        while (next < shown.size() && !shown[next].whole)
            ++next;
        if (next == shown.size()) {
            ++unfinished;
            break;
        }
        toClean.push_back(ms(shown[next].at - begun));
        while (d < drops.size() && drops[d] <= shown[next].at)
            ++d;
    }
    std::size_t whole = 0;
    for (const Shown& s : shown)
        whole += s.whole ? 1 : 0;
    const double seconds = std::chrono::duration<double>(end - start).count();
    std::printf("\n== %.0f %% of video pieces dropped (%zu drops in %.1f s)\n", loss * 100, drops.size(), seconds);
    std::printf("  pictures shown: %.1f per second (%zu in all, %zu of them whole)\n",
                static_cast<double>(shown.size()) / seconds, shown.size(), whole);
    std::printf("  video on the wire: %.1f Mbit/s\n", static_cast<double>(videoBytes) * 8 / seconds / 1e6);
    std::printf("  time without a new picture: p50 %.1f ms   p99 %.1f ms   longest %.1f ms\n", pct(gaps, 50),
                pct(gaps, 99), gaps.empty() ? 0 : *std::max_element(gaps.begin(), gaps.end()));
    if (!causes.empty()) std::printf("  gaps over 100 ms:\n");
    for (const auto& c : causes)
        std::fputs(c.c_str(), stdout);
    if (toClean.empty())
        std::printf("  time until whole again after a loss: no episode ended within the window\n");
    else
        std::printf(
            "  time until whole again after a loss: p50 %.1f ms   max %.1f ms   (%zu episodes, %d still open at "
            "the end)\n",
            pct(toClean, 50), *std::max_element(toClean.begin(), toClean.end()), toClean.size(), unfinished);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    dovrel::test::XvfbServer xvfb(W, H);
    if (!xvfb.running()) {
        std::printf("video loss: cannot run: %s\n", xvfb.failure().c_str());
        return 0;
    }
    const pid_t painter = ::fork();
    if (painter == 0) runPainter(xvfb.display());

    QCoreApplication app(argc, argv);
    std::printf("video loss: DovrelAgent at %dx%d, 60 pictures a second, busy desktop on Xvfb %s, loopback\n", W, H,
                xvfb.display().c_str());
    dovrel::test::TempDir dir;
    const ClientConfig config = bench::benchClientConfig(dir, freeUdpPort());
    WEXClient client(config, std::make_shared<bench::NoRelayAccount>());
    Collector collector;
    auto surface = std::make_shared<VideoSurface>();
    surface->setObserver([&collector](const VideoPicture& p) { collector.add(p); });
    client.attachVideoSurface(surface);
    LossyForwarder forwarder(config.videoPort);

    controller::test::AgentUnderTest agent;
    const auto& pub = client.security().identity().publicKey();
    client.security().trustAgent(agent.publicKey(), agent.room());
    std::string why;
    if (!agent.start(DOVREL_AGENT_BINARY, wex::ByteView(pub.data(), pub.size()), forwarder.port(),
                     {{"DISPLAY", xvfb.display()}, {"DOVREL_H264", "1"}}, why)) {
        std::printf("  cannot run: %s\n", why.c_str());
    } else {
        client.connectToHost(QString("127.0.0.1:%1").arg(agent.controlPort()));
        if (!waitFor([&] { return client.phaseKind() == PhaseKind::connected; }, 15s) ||
            !waitFor([&] { return client.displayedFrames() > 0; }, 15s)) {
            std::printf("  cannot run: no pictures (status \"%s\")\n  its log ends:\n%s\n",
                        client.status().toStdString().c_str(), agent.tail(12).c_str());
        } else {
            measure(0.0, forwarder, collector);
            measure(0.01, forwarder, collector);
            measure(0.05, forwarder, collector);
        }
        client.disconnectSession();
        pump(300ms);
    }
    ::kill(painter, SIGTERM);
    ::waitpid(painter, nullptr, 0);
    return 0;
}

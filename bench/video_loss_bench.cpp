// The picture under loss, end to end on loopback: the real DovrelAgent streams a busy 1920x1080 desktop
// (a private Xvfb, 60 pictures a second) to the controller's client through a small UDP forwarder that
// drops a share of the video pieces at random (none, 0.1 %, 1 % and 5 %). Figures: pictures shown per
// second, the gaps between new pictures (p50, p99, the longest), how long after a lost piece the picture
// is whole again by the client's own account, the bit rate on the wire, the agent's processor time, and
// for each gap over 100 ms what lay in it (frames not shown, pieces dropped).
//
// How wrong the picture is, and for how long: every piece the agent sent, dropped or not, is opened a
// second time with a copy of the session and decoded again with nothing missing. Each picture the client
// shows is compared with its lossless twin in 16 horizontal bands of the luma plane; a band whose PSNR is
// under 40 dB is damaged. A damaged band heals at the first shown picture where it is clean again.
// "--isolated" runs it (and all it starts) at real-time priority, ahead of the machine's other work.
// Prints figures; asserts nothing.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sched.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QCoreApplication>

extern "C" {
#include <libavutil/frame.h>
}

#include "BenchClient.h"
#include "BusyScene.h"
#include "EventLoopWait.h"
#include "MachineLoad.h"
#include "controller/client/session/ClientCore.h"
#include "controller/client/session/WEXClient.h"
#include "controller/client/video/PictureDecoder.h"
#include "controller/client/video/Reassembler.h"
#include "protocol/ByteReader.h"
#include "protocol/CommonHeader.h"
#include "protocol/VideoPayload.h"
#include "protocol/WEXError.h"
#include "tests/controller/media/AgentUnderTest.h"
#include "tests/support/FreeUdpPort.h"
#include "tests/support/SecureSessionTestAccess.h"
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
constexpr int bands = 16;
constexpr double cleanPsnr = 40; // dB

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

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double pct(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p / 100 * static_cast<double>(v.size())))];
}

// The luma plane of one picture, tightly packed.
using Luma = std::vector<uint8_t>;

// Every video piece the agent sent, opened with a copy of the session and decoded with nothing missing:
// the picture the client would have shown had nothing been lost, by frame identifier.
class LosslessTwin {
public:
    LosslessTwin() {
        thread_ = std::thread([this] { run(); });
    }
    ~LosslessTwin() {
        {
            const std::lock_guard g(lock_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    // The forwarder's thread: every sealed video piece, in the order it came.
    void piece(const uint8_t* data, std::size_t size) {
        {
            const std::lock_guard g(lock_);
            pieces_.emplace_back(data, data + size);
        }
        wake_.notify_all();
    }
    // Once the session exists: pieces are opened from then on (the ones before wait for it).
    void open(std::unique_ptr<wex::SecureSession> session) {
        {
            const std::lock_guard g(lock_);
            session_ = std::move(session);
        }
        wake_.notify_all();
    }
    // The twin of picture `frameId`, waiting up to `limit` for it; nothing when it never came. Pictures
    // before it are let go.
    std::optional<Luma> take(uint32_t frameId, std::chrono::milliseconds limit) {
        std::unique_lock lk(lock_);
        const bool there = done_.wait_for(lk, limit, [&] {
            return decoded_.contains(frameId) || (!decoded_.empty() && decoded_.rbegin()->first > frameId + 600);
        });
        std::optional<Luma> out;
        if (there)
            if (auto it = decoded_.find(frameId); it != decoded_.end()) out = std::move(it->second);
        decoded_.erase(decoded_.begin(), decoded_.upper_bound(frameId));
        return out;
    }

private:
    void run() {
        Reassembler reassembler;
        std::unique_ptr<PictureDecoder> decoder;
        std::optional<VideoCodec> codec;
        for (;;) {
            wex::Bytes sealed;
            wex::SecureSession* session = nullptr;
            {
                std::unique_lock lk(lock_);
                wake_.wait(lk, [&] { return stop_ || (session_ && !pieces_.empty()); });
                if (stop_) return;
                sealed = std::move(pieces_.front());
                pieces_.pop_front();
                session = session_.get();
            }
            const auto opened = session->openFrame(sealed);
            if (!opened || opened->header.stream != wex::Stream::video) continue;
            wex::ByteView slice(opened->plaintext);
            std::optional<wex::FragmentHeader> fragment;
            if (opened->header.flags.contains(wex::HeaderFlag::fragment)) {
                if (slice.size() < wex::FragmentHeader::size) continue;
                wex::ByteReader r(slice);
                fragment = wex::FragmentHeader::decode(r);
                slice = slice.subspan(wex::FragmentHeader::size);
            }
            auto result = reassembler.add(fragment, slice);
            if (result.outcome != Reassembler::Outcome::complete) continue;
            wex::VideoNALPayload payload;
            try {
                payload = wex::decodeVideoNALPayload(result.payload);
            } catch (const wex::WEXError&) {
                continue;
            }
            const VideoCodec c =
                payload.header.nalFlags.contains(wex::NALFlag::codecH264) ? VideoCodec::h264 : VideoCodec::hevc;
            if (codec != c) {
                codec = c;
                decoder = std::make_unique<PictureDecoder>(c, PictureDecoder::defaultThreads());
            }
            wex::Bytes annexB;
            for (const auto& unit : payload.nals) {
                annexB.insert(annexB.end(), {0, 0, 0, 1});
                annexB.insert(annexB.end(), unit.begin(), unit.end());
            }
            decoder->decode(annexB, payload.header.frameId, [&](const AVFrame& frame, bool) {
                Luma y(static_cast<std::size_t>(W) * H);
                for (int row = 0; row < std::min(H, frame.height); ++row)
                    std::memcpy(y.data() + static_cast<std::size_t>(row) * W,
                                frame.data[0] + static_cast<std::ptrdiff_t>(row) * frame.linesize[0],
                                static_cast<std::size_t>(std::min(W, frame.width)));
                {
                    const std::lock_guard g(lock_);
                    decoded_[payload.header.frameId] = std::move(y);
                }
                done_.notify_all();
            });
        }
    }

    std::mutex lock_;
    std::condition_variable wake_, done_;
    bool stop_ = false;
    std::deque<wex::Bytes> pieces_;
    std::unique_ptr<wex::SecureSession> session_;
    std::map<uint32_t, Luma> decoded_;
    std::thread thread_;
};

// Forwards the agent's datagrams to the client, dropping that share of the video pieces; the twin gets
// every video piece.
class LossyForwarder {
public:
    LossyForwarder(uint16_t to, LosslessTwin& twin) : in_(udpSocket(0)), out_(udpSocket(0)), to_(to), twin_(twin) {
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
            if (video) twin_.piece(buf.data(), static_cast<std::size_t>(n));
            if (video && rng() % 1'000'000 < lossPerMillion_.load()) {
                const std::lock_guard g(lock_);
                drops_.push_back(Clock::now());
                continue;
            }
            ::sendto(out_, buf.data(), static_cast<std::size_t>(n), 0, reinterpret_cast<sockaddr*>(&dest), sizeof dest);
            if (video) videoBytes_ += static_cast<uint64_t>(n);
        }
    }
    int in_, out_;
    uint16_t to_;
    LosslessTwin& twin_;
    std::atomic<bool> stop_{false};
    std::atomic<uint32_t> lossPerMillion_{0};
    std::atomic<uint64_t> videoBytes_{0};
    std::mutex lock_;
    std::vector<Clock::time_point> drops_;
    std::thread thread_;
};

// One picture the client showed, compared with its twin.
struct Shown {
    Clock::time_point at;
    bool whole;
    uint32_t frameId;
    bool compared = false;
    uint32_t damagedBands = 0; // bit b: band b under 40 dB
};

// Compares each shown picture with its twin on a thread of its own, so that the client's decoder
// thread only hands the picture over.
class Comparer {
public:
    explicit Comparer(LosslessTwin& twin) : twin_(twin) {
        thread_ = std::thread([this] { run(); });
    }
    ~Comparer() {
        {
            const std::lock_guard g(lock_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    // The client's decoder thread.
    void shown(const VideoPicture& p) {
        {
            const std::lock_guard g(lock_);
            queue_.push_back(p);
        }
        wake_.notify_all();
    }
    void record(bool on) {
        const std::lock_guard g(lock_);
        if (on) results_.clear();
        recording_ = on;
    }
    // Waits until what was shown so far is compared, then hands the results over.
    std::vector<Shown> take() {
        std::unique_lock lk(lock_);
        idle_.wait(lk, [&] { return queue_.empty() && !busy_; });
        return std::exchange(results_, {});
    }

private:
    void run() {
        for (;;) {
            VideoPicture p;
            bool recording = false;
            {
                std::unique_lock lk(lock_);
                busy_ = false;
                idle_.notify_all();
                wake_.wait(lk, [&] { return stop_ || !queue_.empty(); });
                if (stop_) return;
                p = std::move(queue_.front());
                queue_.pop_front();
                busy_ = true;
                recording = recording_;
            }
            Shown s{p.decodedAt, p.whole, p.frameId};
            if (const auto twin = twin_.take(p.frameId, 2000ms); twin && p.width == W && p.height == H) {
                s.compared = true;
                for (int b = 0; b < bands; ++b) {
                    const int y0 = b * H / bands, y1 = (b + 1) * H / bands;
                    uint64_t sum = 0;
                    for (int y = y0; y < y1; ++y) {
                        const uint8_t* a = p.planes.data[0] + static_cast<std::ptrdiff_t>(y) * p.planes.stride[0];
                        const uint8_t* t = twin->data() + static_cast<std::size_t>(y) * W;
                        for (int x = 0; x < W; ++x) {
                            const int d = a[x] - t[x];
                            sum += static_cast<uint64_t>(d * d);
                        }
                    }
                    const double mse = static_cast<double>(sum) / (static_cast<double>(W) * (y1 - y0));
                    if (mse > 0 && 10 * std::log10(255.0 * 255.0 / mse) < cleanPsnr) s.damagedBands |= 1u << b;
                }
            }
            if (recording) {
                const std::lock_guard g(lock_);
                results_.push_back(s);
            }
        }
    }

    LosslessTwin& twin_;
    std::mutex lock_;
    std::condition_variable wake_, idle_;
    std::deque<VideoPicture> queue_;
    std::vector<Shown> results_;
    bool recording_ = false;
    bool busy_ = false;
    bool stop_ = false;
    std::thread thread_;
};

using bench::pump;
using bench::waitFor;

void measure(double loss, LossyForwarder& forwarder, Comparer& comparer, pid_t agentPid) {
    forwarder.setLoss(loss);
    const std::string loadBefore = bench::loadAverage();
    pump(std::chrono::duration_cast<std::chrono::milliseconds>(warmUp));
    forwarder.takeDrops();
    forwarder.takeVideoBytes();
    comparer.record(true);
    const double agentCpu0 = bench::cpuSecondsOf(agentPid);
    const auto start = Clock::now();
    pump(std::chrono::duration_cast<std::chrono::milliseconds>(window));
    const auto end = Clock::now();
    const double agentCpu = bench::cpuSecondsOf(agentPid) - agentCpu0;
    comparer.record(false);
    const std::vector<Shown> shown = comparer.take();
    const auto drops = forwarder.takeDrops();
    const uint64_t videoBytes = forwarder.takeVideoBytes();
    const std::string loadAfter = bench::loadAverage();

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
    // The client's own account: a loss episode begins with a dropped piece while the picture is whole and
    // ends with the first picture it calls whole after it; drops inside an episode belong to it.
    std::vector<double> toWhole;
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
        toWhole.push_back(ms(shown[next].at - begun));
        while (d < drops.size() && drops[d] <= shown[next].at)
            ++d;
    }
    // Against the twin: each band from the first picture that shows it damaged to the first that shows
    // it clean again. A band already damaged when the window opens is left out (its start is unknown).
    std::vector<double> healed;
    std::size_t compared = 0, clean = 0, stillDamaged = 0;
    std::vector<std::optional<Clock::time_point>> damagedSince(bands);
    std::vector<bool> carried(bands, false);
    bool first = true;
    for (const Shown& s : shown) {
        if (!s.compared) continue;
        ++compared;
        clean += s.damagedBands == 0 ? 1 : 0;
        for (int b = 0; b < bands; ++b) {
            const bool damaged = (s.damagedBands >> b) & 1;
            if (damaged && !damagedSince[b] && !carried[b]) {
                if (first)
                    carried[b] = true;
                else
                    damagedSince[b] = s.at;
            } else if (!damaged) {
                if (damagedSince[b]) healed.push_back(ms(s.at - *damagedSince[b]));
                damagedSince[b].reset();
                carried[b] = false;
            }
        }
        first = false;
    }
    double longestOpen = 0;
    for (const auto& since : damagedSince)
        if (since) {
            ++stillDamaged;
            longestOpen = std::max(longestOpen, ms(end - *since));
        }

    std::size_t whole = 0;
    for (const Shown& s : shown)
        whole += s.whole ? 1 : 0;
    const double seconds = std::chrono::duration<double>(end - start).count();
    std::printf("\n== %g %% of video pieces dropped (%zu drops in %.1f s)\n", loss * 100, drops.size(), seconds);
    std::printf("  pictures shown: %.1f per second (%zu in all, %zu of them whole)\n",
                static_cast<double>(shown.size()) / seconds, shown.size(), whole);
    std::printf("  video on the wire: %.1f Mbit/s\n", static_cast<double>(videoBytes) * 8 / seconds / 1e6);
    std::printf("  time without a new picture: p50 %.1f ms   p99 %.1f ms   longest %.1f ms\n", pct(gaps, 50),
                pct(gaps, 99), gaps.empty() ? 0 : *std::max_element(gaps.begin(), gaps.end()));
    if (!causes.empty()) std::printf("  gaps over 100 ms:\n");
    for (const auto& c : causes)
        std::fputs(c.c_str(), stdout);
    if (toWhole.empty())
        std::printf("  time until whole again after a loss: no episode ended within the window\n");
    else
        std::printf(
            "  time until whole again after a loss: p50 %.1f ms   max %.1f ms   (%zu episodes, %d still open at "
            "the end)\n",
            pct(toWhole, 50), *std::max_element(toWhole.begin(), toWhole.end()), toWhole.size(), unfinished);
    std::printf("  damaged band healed after: p50 %.1f ms   p95 %.1f ms   max %.1f ms   (%zu bands)\n", pct(healed, 50),
                pct(healed, 95), healed.empty() ? 0 : *std::max_element(healed.begin(), healed.end()), healed.size());
    std::printf("  pictures with every band clean: %.1f %%\n",
                compared ? 100.0 * static_cast<double>(clean) / static_cast<double>(compared) : 0.0);
    if (stillDamaged)
        std::printf("  bands still damaged at the end: %zu (the longest for %.1f ms)\n", stillDamaged, longestOpen);
    if (compared < shown.size())
        std::printf("  pictures without a twin to compare with: %zu\n", shown.size() - compared);
    std::printf("  agent CPU: %.1f%% of one core\n", agentCpu / seconds * 100);
    std::printf("  load average before / after: %s / %s\n", loadBefore.c_str(), loadAfter.c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = dovrel::bench::takeIsolatedOption(argc, argv);
    dovrel::test::XvfbServer xvfb(W, H);
    if (!xvfb.running()) {
        std::printf("video loss: cannot run: %s\n", xvfb.failure().c_str());
        return 0;
    }
    const pid_t painter = ::fork();
    if (painter == 0) bench::runBusyPainter(xvfb.display(), W, H);

    QCoreApplication app(argc, argv);
    std::printf("video loss: DovrelAgent at %dx%d, 60 pictures a second, busy desktop on Xvfb %s, loopback\n", W, H,
                xvfb.display().c_str());
    std::printf("scheduling: %s; %u hardware threads\n", mode.c_str(), std::thread::hardware_concurrency());
    dovrel::test::TempDir dir;
    const ClientConfig config = bench::benchClientConfig(dir, dovrel::test::freeUdpPort());
    WEXClient client(config, std::make_shared<bench::NoRelayAccount>());
    LosslessTwin twin;
    Comparer comparer(twin);
    auto surface = std::make_shared<VideoSurface>();
    surface->setObserver([&comparer](const VideoPicture& p) { comparer.shown(p); });
    client.attachVideoSurface(surface);
    LossyForwarder forwarder(config.videoPort, twin);

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
            client.runOnClientThread([&](ClientCore& core) {
                if (const auto session = core.session()) twin.open(wex::SecureSessionTestAccess::copy(*session));
            });
            for (const double loss : {0.0, 0.001, 0.01, 0.05})
                measure(loss, forwarder, comparer, agent.pid());
        }
        client.disconnectSession();
        pump(300ms);
    }
    ::kill(painter, SIGTERM);
    ::waitpid(painter, nullptr, 0);
    return 0;
}

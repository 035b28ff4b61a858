// Per-stage times of the agent's video path on a busy moving desktop (a private Xvfb), at 1920x1080
// and 1280x720: X11 capture (MIT-SHM grab with the cursor drawn in), colour conversion to 4:2:0,
// software encoding, and building the payload and its pieces. Also what the capturer costs when the
// screen is still and when it is busy, and H.264 as the agent encodes it (CAVLC, Constrained Baseline)
// against Main profile with CABAC, and with 1 to 12 sliced threads: encode time, its processor time,
// decode time and size, on the same pictures, with the load average beside; refresh waves of several
// periods against periodic keyframes, with slices of one piece or up to eight: encode and decode time,
// bit rate and quality. "N threads" runs only the thread sweep over N pictures, "N refresh" only the
// refresh sweep. Prints figures; asserts nothing.
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <optional>
#include <sys/resource.h>
#include <vector>

#include "BusyScene.h"
#include "MachineLoad.h"
#include "SampleSeries.h"
#include "agent/media/ColorConverter.h"
#include "agent/media/LibavVideoEncoder.h"
#include "agent/media/VideoPacketizer.h"
#include "agent/media/X11Grabber.h"
#include "agent/media/X11ScreenCapturer.h"
#include "controller/client/video/PictureDecoder.h"
#include "protocol/VideoPayload.h"
#include "tests/support/XvfbServer.h"

using namespace dovrel;
using namespace dovrel::agent;
using Clock = std::chrono::steady_clock;

namespace {

double micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

using bench::Series;

void row(const char* name, Series& s) {
    std::printf("  %-34s p50 %7.2f ms   p95 %7.2f ms   mean %7.2f ms\n", name, s.pct(50) / 1000, s.pct(95) / 1000,
                s.mean() / 1000);
}

// Waits for the encoder's pictures one at a time.
struct Output {
    std::mutex lock;
    std::condition_variable cv;
    std::vector<EncodedPicture> pics;
    Clock::time_point lastAt;
    void push(EncodedPicture&& p) {
        {
            const std::lock_guard g(lock);
            pics.push_back(std::move(p));
            lastAt = Clock::now();
        }
        cv.notify_all();
    }
    EncodedPicture waitNext(std::size_t index) {
        std::unique_lock lk(lock);
        cv.wait(lk, [&] { return pics.size() > index; });
        return pics[index];
    }
};

// A YUV frame the encoder can take without converting it again.
CapturedFrame asCaptured(const AVFrame& yuv) {
    AVFrame* ref = av_frame_clone(&yuv);
    CapturedFrame f;
    f.format = PixelFormat::yuv420p;
    f.width = yuv.width;
    f.height = yuv.height;
    for (std::size_t i = 0; i < 3; ++i) {
        f.planes[i] = ref->data[i];
        f.strides[i] = ref->linesize[i];
    }
    f.owner = std::shared_ptr<AVFrame>(ref, [](AVFrame* p) { av_frame_free(&p); });
    return f;
}

double cpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The busy desktop on a private Xvfb, with what grabs it and converts it to 4:2:0 as the agent does.
struct BusyDesktop {
    test::XvfbServer xvfb;
    std::optional<bench::BusyScene> scene;
    std::optional<X11Grabber> grabber;
    ColorConverter converter;
    libav::FramePtr yuv{av_frame_alloc()};

    BusyDesktop(int w, int h) : xvfb(w, h) {
        if (!xvfb.running()) {
            std::printf("no Xvfb: %s\n", xvfb.failure().c_str());
            return;
        }
        scene.emplace(xvfb.display(), w, h);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        grabber.emplace(xvfb.display());
        grabber->select(grabber->monitors()[0]);
        yuv->format = AV_PIX_FMT_YUV420P;
        yuv->width = w;
        yuv->height = h;
    }
    bool ok() const { return grabber.has_value(); }
};

void stages(int w, int h, bool h264, int frames) {
    BusyDesktop desktop(w, h);
    if (!desktop.ok()) return;
    test::XTestClient pointer(desktop.xvfb.display());
    pointer.setSolidCursor(16, 0xFFFFFF);
    X11Grabber& grabber = *desktop.grabber;
    ColorConverter& converter = desktop.converter;
    libav::FramePtr& yuv = desktop.yuv;
    const VideoBudget budget = VideoBudget::lan();
    Output out;
    LibavVideoEncoder encoder(
        {w, h, h264, budget}, [&](EncodedPicture&& p) { out.push(std::move(p)); }, LibavVideoEncoder::Hardware::never);
    encoder.start();

    Series capture, convert, encode, packetize, total;
    std::size_t bytes = 0, pieces = 0, keyframes = 0;
    uint32_t seq = 0;
    std::vector<wex::Bytes> paramSets;
    std::size_t encoded = 0;
    auto next = Clock::now();
    for (int i = 0; i < frames; ++i) {
        pointer.movePointer((i * 13) % w, (i * 7) % h);
        const auto t0 = Clock::now();
        std::optional<CapturedFrame> shot = grabber.grab(t0);
        const auto t1 = Clock::now();
        if (!shot) continue;
        converter.convert(*shot, *yuv);
        const auto t2 = Clock::now();
        shot.reset();
        encoder.encode(asCaptured(*yuv), static_cast<uint64_t>(i), false);
        EncodedPicture pic = out.waitNext(encoded++);
        const auto t3 = Clock::now();
        // What the send path does before sealing: the payload with its parameter sets, then pieces.
        std::vector<wex::Bytes> nals;
        if (pic.keyframe) {
            if (pic.parameterSets) paramSets = *pic.parameterSets;
            nals = paramSets;
            ++keyframes;
        }
        nals.insert(nals.end(), pic.units.begin(), pic.units.end());
        const wex::VideoNALHeader header{
            0, static_cast<uint32_t>(i), 0, wex::NALFlags{}, static_cast<uint16_t>(w), static_cast<uint16_t>(h), 0, 0};
        const wex::Bytes payload = wex::encodeVideoNALPayload(header, nals);
        pieces += VideoPacketizer::pieces(static_cast<uint32_t>(i), payload, seq).size();
        const auto t4 = Clock::now();
        bytes += payload.size();
        if (i >= 10) { // past the warm-up
            capture.add(micros(t1 - t0));
            convert.add(micros(t2 - t1));
            encode.add(pic.encodeMicros);
            packetize.add(micros(t4 - t3));
            total.add(micros(t4 - t0));
        }
        next += std::chrono::microseconds(16667);
        std::this_thread::sleep_until(next);
    }
    std::printf("\n%dx%d, %s (%s), budget %lld bit/s at %d fps, %d frames, %s\n", w, h, h264 ? "H.264" : "HEVC",
                encoder.backend().c_str(), static_cast<long long>(budget.averageBitRate), budget.expectedFrameRate,
                frames, grabber.usesSharedMemory() ? "MIT-SHM" : "socket copies");
    row("capture (SHM grab + cursor)", capture);
    row("colour conversion (BGRA->I420)", convert);
    row("encode", encode);
    row("payload + packetize", packetize);
    row("sum of stages", total);
    const double seconds = frames / 60.0;
    std::printf("  %.0f kbit/s sent (%.0f%% of the average, burst limit %.0f kbit/s), %.1f pieces and %.1f kB per "
                "frame, %zu keyframes\n",
                static_cast<double>(bytes) * 8 / seconds / 1000,
                static_cast<double>(bytes) * 8 / seconds / static_cast<double>(budget.averageBitRate) * 100,
                static_cast<double>(budget.burstBytesPerSecond) * 8 / 1000, static_cast<double>(pieces) / frames,
                static_cast<double>(bytes) / frames / 1000, keyframes);
}

// libx264 as the agent opens it, but with CABAC.
libav::CodecContextPtr openCabac(int w, int h, const VideoBudget& b) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) return nullptr;
    libav::CodecContextPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx) return nullptr;
    ctx->width = w;
    ctx->height = h;
    ctx->time_base = AVRational{1, b.expectedFrameRate};
    ctx->framerate = AVRational{b.expectedFrameRate, 1};
    ctx->bit_rate = b.averageBitRate;
    ctx->rc_max_rate = b.burstBytesPerSecond * 8;
    ctx->rc_buffer_size = static_cast<int>(b.burstBytesPerSecond * 8);
    ctx->gop_size = b.maxKeyFrameInterval;
    ctx->max_b_frames = 0;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->thread_count = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 3u, 8u)) - 2;
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "preset", "ultrafast", 0);
    av_dict_set(&opts, "tune", "zerolatency", 0);
    av_dict_set(&opts, "forced-idr", "1", 0);
    av_dict_set(&opts, "profile", "main", 0);
    av_dict_set(&opts, "x264-params", "cabac=1:ratetol=0.1", 0);
    const int err = avcodec_open2(ctx.get(), codec, &opts);
    av_dict_free(&opts);
    return err < 0 ? nullptr : std::move(ctx);
}

// Encodes one picture (the packet's Annex B bytes into `out`); the time spent inside the codec.
double encodeInto(AVCodecContext* ctx, AVFrame* picture, int64_t pts, std::vector<uint8_t>& out) {
    out.clear();
    const auto t0 = Clock::now();
    picture->pts = pts;
    if (avcodec_send_frame(ctx, picture) < 0) return 0;
    libav::PacketPtr packet(av_packet_alloc());
    while (avcodec_receive_packet(ctx, packet.get()) == 0) {
        out.insert(out.end(), packet->data, packet->data + packet->size);
        av_packet_unref(packet.get());
    }
    return micros(Clock::now() - t0);
}

// One encoder setting under trial: each picture encoded, then decoded as the controller decodes it.
struct EncoderTrial {
    EncoderTrial(std::string n, libav::CodecContextPtr c, bool h264 = true)
        : name(std::move(n)), ctx(std::move(c)),
          decoder(h264 ? controller::VideoCodec::h264 : controller::VideoCodec::hevc,
                  controller::PictureDecoder::defaultThreads()) {}
    std::string name;
    libav::CodecContextPtr ctx;
    controller::PictureDecoder decoder;
    Series encode, encodeCpu, decode, psnr;
    std::size_t bytes = 0;
    int pictures = 0, heldBack = 0; // pictures taken; those that did not come out of the call that took them

    void take(AVFrame* picture, int i, std::vector<uint8_t>& annexB) {
        const double cpu0 = cpuSeconds();
        const double enc = encodeInto(ctx.get(), picture, i, annexB);
        const double encCpu = (cpuSeconds() - cpu0) * 1e6;
        const auto t0 = Clock::now();
        double quality = 0;
        decoder.decode(wex::ByteView(annexB.data(), annexB.size()), i,
                       [&](const AVFrame& f, bool) { quality = lumaPsnr(*picture, f); });
        const double dec = micros(Clock::now() - t0);
        bytes += annexB.size();
        ++pictures;
        heldBack += annexB.empty() ? 1 : 0;
        if (i < 10) return; // the warm-up
        encode.add(enc);
        encodeCpu.add(encCpu);
        decode.add(dec);
        psnr.add(quality);
    }
    // How close the decoded picture is to what was captured, in dB over the luma plane.
    static double lumaPsnr(const AVFrame& a, const AVFrame& b) {
        uint64_t sum = 0;
        for (int y = 0; y < a.height; ++y)
            for (int x = 0; x < a.width; ++x) {
                const int d = a.data[0][static_cast<std::ptrdiff_t>(y) * a.linesize[0] + x] -
                              b.data[0][static_cast<std::ptrdiff_t>(y) * b.linesize[0] + x];
                sum += static_cast<uint64_t>(d * d);
            }
        const double mse = static_cast<double>(sum) / (static_cast<double>(a.width) * a.height);
        return mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99;
    }
    void print(int frames) {
        std::printf("  %s: %.0f kbit/s at 60 fps, luma PSNR against the captured picture mean %.2f dB (p5 %.2f)\n",
                    name.c_str(), static_cast<double>(bytes) * 8 / (frames / 60.0) / 1000, psnr.mean(), psnr.pct(5));
        if (heldBack)
            std::printf("    %d of %d pictures held back by the encoder past their call\n", heldBack, pictures);
        row("  encode", encode);
        row("  encode, processor time", encodeCpu);
        row("  decode (the controller's decoder)", decode);
    }
};

// The busy desktop's pictures, one every 1/60 s, each handed to every trial in turn (starting with a
// different one each time), so that all see the same pictures and the same machine load.
void runTrials(BusyDesktop& desktop, std::vector<std::unique_ptr<EncoderTrial>>& trials, int frames) {
    std::vector<uint8_t> annexB;
    auto next = Clock::now();
    for (int i = 0; i < frames; ++i) {
        std::optional<CapturedFrame> shot = desktop.grabber->grab(Clock::now());
        if (!shot || !desktop.converter.convert(*shot, *desktop.yuv)) continue;
        shot.reset();
        for (std::size_t k = 0; k < trials.size(); ++k)
            trials[(k + static_cast<std::size_t>(i)) % trials.size()]->take(desktop.yuv.get(), i, annexB);
        next += std::chrono::microseconds(16667);
        std::this_thread::sleep_until(next);
    }
}

// The agent's CAVLC against CABAC on the same busy 1080p pictures.
void profiles(int w, int h, int frames) {
    BusyDesktop desktop(w, h);
    if (!desktop.ok()) return;
    const VideoBudget budget = VideoBudget::lan();
    std::string error;
    std::vector<std::unique_ptr<EncoderTrial>> trials;
    trials.push_back(std::make_unique<EncoderTrial>(
        "CAVLC (the agent's)", LibavVideoEncoder::open("libx264", {w, h, true, budget}, nullptr, error)));
    trials.push_back(std::make_unique<EncoderTrial>("Main, CABAC", openCabac(w, h, budget)));
    for (const auto& t : trials)
        if (!t->ctx) return;
    runTrials(desktop, trials, frames);
    std::printf("\n%dx%d H.264 profiles on the same %d pictures, budget %lld bit/s at %d fps (load average %s)\n", w, h,
                frames, static_cast<long long>(budget.averageBitRate), budget.expectedFrameRate,
                bench::loadAverage().c_str());
    for (auto& t : trials)
        t->print(frames);
}

// The agent's H.264 settings with several thread counts (x264's sliced threads: one slice per thread);
// each stream decoded as the controller decodes it (slice threads follow the slices).
void threadSweep(int w, int h, int frames) {
    BusyDesktop desktop(w, h);
    if (!desktop.ok()) return;
    const VideoBudget budget = VideoBudget::lan();
    std::vector<std::unique_ptr<EncoderTrial>> trials;
    for (int t : {1, 2, 3, 4, 6, 8, 12}) {
        std::string error;
        trials.push_back(std::make_unique<EncoderTrial>(
            std::to_string(t) + (t == 1 ? " thread" : " threads"),
            LibavVideoEncoder::open("libx264", {w, h, true, budget, t}, nullptr, error)));
        if (!trials.back()->ctx) return;
    }
    runTrials(desktop, trials, frames);
    std::printf("\n%dx%d H.264 encoder threads on the same %d pictures (load average %s)\n", w, h, frames,
                bench::loadAverage().c_str());
    for (auto& t : trials)
        t->print(frames);
}

// Refresh waves against periodic keyframes, and slices of one piece against slices of up to eight:
// what they cost in encoding and decoding time and in picture quality at the same bit rate (the rate
// control holds the rate, so a wave's intra-coded column shows as a lower PSNR against the captured
// picture). How soon they repair a loss is video_loss_bench's part.
void refreshSweep(int w, int h, int frames) {
    BusyDesktop desktop(w, h);
    if (!desktop.ok()) return;
    const VideoBudget budget = VideoBudget::lan();
    std::vector<std::unique_ptr<EncoderTrial>> trials;
    for (const auto& [pieces, wave] : {std::pair{8, -1}, std::pair{1, -1}, std::pair{8, 12}, std::pair{1, 12},
                                       std::pair{1, 8}, std::pair{1, 6}, std::pair{1, 4}}) {
        VideoEncoderConfig config{w, h, true, budget};
        config.slicePieces = pieces;
        config.refreshPictures = wave;
        std::string error;
        const std::string name = "slices of " + std::to_string(pieces) + (pieces == 1 ? " piece, " : " pieces, ") +
                                 (wave < 0 ? "an IDR every " + std::to_string(budget.maxKeyFrameInterval)
                                           : "a refresh wave every " + std::to_string(wave));
        trials.push_back(
            std::make_unique<EncoderTrial>(name, LibavVideoEncoder::open("libx264", config, nullptr, error)));
        if (!trials.back()->ctx) return;
    }
    runTrials(desktop, trials, frames);
    std::printf("\n%dx%d H.264 refresh waves and slice sizes on the same %d pictures (load average %s)\n", w, h, frames,
                bench::loadAverage().c_str());
    for (auto& t : trials)
        t->print(frames);
}

// x265 with refresh waves (and without temporal motion vector prediction, which would carry a loss on
// through the waves) against periodic keyframes: one slice a picture either way.
void hevcRefresh(int w, int h, int frames) {
    BusyDesktop desktop(w, h);
    if (!desktop.ok()) return;
    const VideoBudget budget = VideoBudget::lan();
    std::vector<std::unique_ptr<EncoderTrial>> trials;
    for (const int wave : {-1, repairRefreshPictures}) {
        VideoEncoderConfig config{w, h, false, budget};
        config.refreshPictures = wave;
        std::string error;
        trials.push_back(
            std::make_unique<EncoderTrial>(wave < 0 ? "an IDR every " + std::to_string(budget.maxKeyFrameInterval)
                                                    : "a refresh wave every " + std::to_string(wave),
                                           LibavVideoEncoder::open("libx265", config, nullptr, error), false));
        if (!trials.back()->ctx) return;
    }
    runTrials(desktop, trials, frames);
    std::printf("\n%dx%d HEVC (libx265) refresh waves on the same %d pictures (load average %s)\n", w, h, frames,
                bench::loadAverage().c_str());
    for (auto& t : trials)
        t->print(frames);
}

// The capturer as the agent runs it, with the encoder behind it converting on its own thread:
// capture-to-encoded latency, and what the whole costs in processor time.
void pipeline(int w, int h, int seconds) {
    test::XvfbServer xvfb(w, h);
    if (!xvfb.running()) return;
    Series latency;
    std::atomic<int> delivered{0};
    {
        auto scene = std::make_unique<bench::BusyScene>(xvfb.display(), w, h);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        std::mutex lock;
        LibavVideoEncoder encoder(
            {w, h, true, VideoBudget::lan()},
            [&](EncodedPicture&& p) {
                const std::lock_guard g(lock);
                latency.add(micros(Clock::now() - p.capturedAt));
            },
            LibavVideoEncoder::Hardware::never);
        encoder.start();
        X11ScreenCapturer capturer(
            [&](const CapturedFrame& f) {
                ++delivered;
                encoder.encode(f, 0, false);
            },
            {xvfb.display(), nullptr, nullptr});
        const double cpu0 = cpuSeconds();
        capturer.start(0);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const double busyCpu = cpuSeconds() - cpu0;
        const int busyFrames = delivered.load();
        scene.reset(); // the desktop keeps still from here
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const int stillStart = delivered.load();
        const double cpu1 = cpuSeconds();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const double stillCpu = cpuSeconds() - cpu1;
        const std::lock_guard g(lock);
        std::printf("\n%dx%d capture -> H.264 as the agent runs it (60 fps, capture thread + encoder thread)\n", w, h);
        row("captured -> encoded picture", latency);
        std::printf("  busy screen:  %.1f frames/s, %.0f%% of one core (capture, conversion, encoding)\n",
                    busyFrames / static_cast<double>(seconds), busyCpu / seconds * 100);
        std::printf("  still screen: %.1f frames/s, %.1f%% of one core\n",
                    (delivered.load() - stillStart) / static_cast<double>(seconds), stillCpu / seconds * 100);
    }
}

// The capturer alone with nobody encoding (no session): what watching the screen costs.
void idleCapture(int w, int h, int seconds) {
    test::XvfbServer xvfb(w, h);
    if (!xvfb.running()) return;
    std::atomic<int> delivered{0};
    X11ScreenCapturer capturer([&](const CapturedFrame&) { ++delivered; }, {xvfb.display(), nullptr, nullptr});
    capturer.start(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double cpu0 = cpuSeconds();
    const int n0 = delivered.load();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    std::printf("\n%dx%d capture only, still screen, no encoder: %.1f frames/s, %.2f%% of one core\n", w, h,
                (delivered.load() - n0) / static_cast<double>(seconds), (cpuSeconds() - cpu0) / seconds * 100);
}

} // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 300;
    if (argc > 2 && std::string(argv[2]) == "threads") { // the thread sweep alone
        threadSweep(1920, 1080, frames);
        return 0;
    }
    if (argc > 2 && std::string(argv[2]) == "refresh") { // the refresh sweeps alone
        refreshSweep(1920, 1080, frames);
        hevcRefresh(1280, 720, std::min(frames, 120));
        return 0;
    }
    std::printf("media pipeline, %u hardware threads\n", std::thread::hardware_concurrency());
    std::fflush(stdout);
    for (const auto& [w, h] : {std::pair{1920, 1080}, std::pair{1280, 720}}) {
        stages(w, h, true, frames);
        std::fflush(stdout);
    }
    stages(1280, 720, false, std::min(frames, 120));
    profiles(1920, 1080, frames);
    threadSweep(1920, 1080, frames);
    refreshSweep(1920, 1080, frames);
    hevcRefresh(1280, 720, std::min(frames, 120));
    pipeline(1920, 1080, 5);
    idleCapture(1920, 1080, 5);
    return 0;
}

#include "agent/media/LibavVideoEncoder.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

extern "C" {
#include <libavutil/hwcontext.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include "agent/common/AgentError.h"
#include "agent/common/AgentLog.h"
#include "agent/common/ThreadName.h"
#include "agent/media/ColorConverter.h"
#include "agent/media/HardwareEncoders.h"
#include "agent/media/VideoPacketizer.h"
#include "protocol/NalUnits.h"
#include "runtime/SignalStack.h"

namespace dovrel::agent {

namespace {

using Clock = std::chrono::steady_clock;

uint32_t microsBetween(Clock::time_point a, Clock::time_point b) {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(b - a).count();
    return static_cast<uint32_t>(std::clamp<int64_t>(us, 0, std::numeric_limits<uint32_t>::max()));
}

// The libraries' informational lines would otherwise land in the agent's log at every encoder build.
void quietLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (av_log_get_level() > AV_LOG_ERROR) av_log_set_level(AV_LOG_ERROR);
    });
}

bool isHardware(const std::string& name) { return name.ends_with("_vaapi"); }

// How a lost piece is repaired. The decoder conceals what a lost piece held from the neighbouring
// pixels, and the damage stays, spreading with motion, until something intra-coded replaces it. One big
// keyframe cannot: a 1080p keyframe is hundreds of pieces, and under steady loss it loses some of them
// itself. The software encoders that repair losses (config.repairsLosses) refresh instead: a column of
// intra-coded blocks sweeps the picture every repairRefreshPictures pictures, the blocks it has passed
// referring only to blocks it has passed, so whatever a loss damaged is whole again once the next
// complete wave has gone by: within one to two periods, with no keyframe and nothing asked of the
// client. x264 then cuts every picture into slices of at most one video piece (repairSlicePieces), so a
// lost piece costs the one or two slices it held a part of, a strip of a few rows, instead of a
// thread's band. Without losses the plain settings are kept: slices of up to eight pieces, which leave
// ordinary pictures as they are (one slice per thread), and periodic keyframes.
//
// Measured on a busy 1080p60 desktop (the whole screen moving every picture) at 12 Mbit/s, with video
// pieces dropped at random (bench/video_loss_bench): how long a band of the picture stays wrong (PSNR
// under 40 dB against the same pieces decoded without loss), p50 / max at 1 % and at 5 % of pieces lost:
//   slices of up to 8 pieces, a wave every 12 pictures: 466 / 4434 ms, never healed at 5 %
//   slices of 1 piece, a wave every 12: 190 / 749 ms, 574 / 5416 ms;  every 8: 133 / 717, 277 / 2131 ms
//   every 6: 88-100 / 333-350 ms, 167 / 1384-1468 ms;  every 4: 53-61 / 233-278 ms, 84-85 / 601-618 ms
// (the plain settings: 218 / 1333 ms, and 825 / 5567 ms). Four pictures is the longest period that keeps
// a band's repair under a second at 5 %. What it costs, on the same pictures
// (media_pipeline_bench): the rate control holds the bit rate, so the cost shows as quality, and it lies
// mostly in the waves themselves, hardly in their period: luma PSNR against the captured picture 23.6 dB
// with 8-piece slices and keyframes, 22.3 with 1-piece slices, 19.5 / 19.4 / 19.3 with waves every
// 12 / 6 / 4 pictures; encoding 4.4 ms a picture before, 4.9 / 5.1 / 5.3 ms with waves every 12 / 6 / 4;
// decoding 3.1 ms before, 3.4 ms with 1-piece slices (on a shared machine, load 13). In a session on an
// unbroken link that is 1-2 ms more from a change on the screen to its picture decoded (p50 8.6-9.2 ms
// with the plain settings, 10.3-10.7 ms repairing; session_latency_bench) and a fifth of a core more,
// which is why the agent repairs only while pieces are being lost (CapturePipeline).
std::string slicesOf(const VideoEncoderConfig& config) {
    const std::size_t slicePieces = static_cast<std::size_t>(config.slicePieces > 0 ? config.slicePieces
                                                             : config.repairsLosses ? repairSlicePieces
                                                                                    : plainSlicePieces);
    // The unit's length field in the payload.
    constexpr std::size_t lengthField = 4;
    return "slice-max-size=" + std::to_string(slicePieces * VideoPacketizer::pieceBytes - lengthField) +
           ":slices-max=" + std::to_string(maxSlicesPerPicture);
}

int refreshPeriodOf(const VideoEncoderConfig& config) {
    if (config.refreshPictures != 0) return std::max(config.refreshPictures, 0);
    return config.repairsLosses ? repairRefreshPictures : 0;
}

} // namespace

libav::CodecContextPtr LibavVideoEncoder::open(const std::string& name, const VideoEncoderConfig& config,
                                               AVBufferRef* hwDevice, std::string& error) {
    quietLibraries();
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    if (!codec) {
        error = "this FFmpeg has no " + name;
        return nullptr;
    }
    libav::CodecContextPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx) {
        error = "out of memory";
        return nullptr;
    }
    const VideoBudget& b = config.budget;
    const int fps = std::max(b.expectedFrameRate, 1);
    ctx->width = config.width & ~1; // 4:2:0 needs even sizes; an odd last column or row is left out
    ctx->height = config.height & ~1;
    ctx->time_base = AVRational{1, fps};
    ctx->framerate = AVRational{fps, 1};
    // The budget is what the link carries; the pieces' headers and seals take their share of it.
    ctx->bit_rate = VideoBudget::encoderShareOf(b.averageBitRate);
    // The burst limit: at most burstBytesPerSecond in any one second.
    const int64_t burstBits =
        std::clamp<int64_t>(VideoBudget::encoderShareOf(b.burstBytesPerSecond * 8), 1, std::numeric_limits<int>::max());
    ctx->rc_max_rate = burstBits;
    ctx->rc_buffer_size = static_cast<int>(burstBits);
    if (config.bufferTime.count() > 0) {
        // Capped at the rate itself, with a buffer of that much of it (a frame's worth at least).
        const int64_t share = std::max<int64_t>(ctx->bit_rate, 1000);
        ctx->rc_max_rate = share;
        ctx->rc_buffer_size = static_cast<int>(
            std::clamp<int64_t>(std::max<int64_t>(share * config.bufferTime.count() / 1000, share / fps + 1000), 1,
                                std::numeric_limits<int>::max()));
    }
    const int refresh = isHardware(name) ? 0 : refreshPeriodOf(config);
    // With refresh waves the interval is the wave's period, and IDRs come only when asked for.
    ctx->gop_size = refresh > 0 ? refresh : std::max(b.maxKeyFrameInterval, 1);
    ctx->max_b_frames = 0;
    ctx->color_range = AVCOL_RANGE_MPEG;
    ctx->colorspace = AVCOL_SPC_SMPTE170M;
    ctx->color_primaries = AVCOL_PRI_SMPTE170M;
    ctx->color_trc = AVCOL_TRC_SMPTE170M;

    AVDictionary* opts = nullptr;
    libav::BufferPtr frames;
    if (isHardware(name)) {
        if (!hwDevice) {
            error = "no VAAPI device";
            return nullptr;
        }
        frames.reset(av_hwframe_ctx_alloc(hwDevice));
        if (!frames) {
            error = "out of memory";
            return nullptr;
        }
        auto* fc = reinterpret_cast<AVHWFramesContext*>(frames->data);
        fc->format = AV_PIX_FMT_VAAPI;
        fc->sw_format = AV_PIX_FMT_NV12;
        fc->width = ctx->width;
        fc->height = ctx->height;
        fc->initial_pool_size = 4;
        if (const int err = av_hwframe_ctx_init(frames.get()); err < 0) {
            error = "VAAPI surfaces: " + libav::errorText(err);
            return nullptr;
        }
        ctx->pix_fmt = AV_PIX_FMT_VAAPI;
        ctx->hw_frames_ctx = av_buffer_ref(frames.get());
        av_dict_set(&opts, "async_depth", "1", 0); // one picture in flight: lowest latency
    } else {
        ctx->pix_fmt = AV_PIX_FMT_YUV420P;
        av_dict_set(&opts, "preset", "ultrafast", 0);
        av_dict_set(&opts, "tune", "zerolatency", 0);
        av_dict_set(&opts, "forced-idr", "1", 0);
        if (name == "libx265") {
            // The thread count is x265's frame-thread count: more than one holds pictures back. Its
            // wavefront rows still use every core.
            // One slice per picture, unlike x264's: x265 (3.5) hands a picture back in the same call only
            // when it cuts one slice, and with `slices=N` it holds each picture until the next one arrives.
            // That is a picture interval more latency, and on a still screen the last change would wait
            // for the next capture, up to a second (whatever waits for a picture's output stalls).
            // Pushing the held picture out with a repeated one costs a second encode: measured at 720p,
            // 17 ms of encoding a picture instead of 11, and nearly twice the bytes. libavcodec cannot
            // flush an x265 encoder and go on.
            // Refresh waves keep that: x265 hands each picture back at once with them too. Its version and
            // settings message (2.3 kB, which the controller drops) would otherwise go with every wave.
            ctx->thread_count = 1;
            const std::string params =
                std::string("frame-threads=1:open-gop=0:repeat-headers=1:log-level=error:info=0") +
                (refresh > 0 ? ":intra-refresh=1:temporal-mvp=0" : "");
            av_dict_set(&opts, "x265-params", params.c_str(), 0);
        } else {
            // One slice per thread, all of one picture at once (sliced threads: frame threads would hold
            // pictures back). Measured on 8 cores with a busy 1080p desktop: in the agent's own pipeline,
            // 3 threads encode a picture in 3.2 ms against 3.1 with 4, and the pipeline takes 57 % of a core
            // against 65 %; media_pipeline_bench's sweep has 3.5 ms for 3, 3.0 for 4, 2.8 for 6 and 7.2 for
            // 1 with the machine to itself, 5.7, 5.5, 5.9 and 8.8 ms when other work shares it. More
            // threads lose to the capture, the converter and the display server for the cores.
            ctx->thread_type = FF_THREAD_SLICE;
            ctx->thread_count = config.threads > 0
                                    ? config.threads
                                    : static_cast<int>(std::clamp(std::thread::hardware_concurrency() / 2, 1u, 3u));
            // CAVLC, as ultrafast leaves it: the stream is Constrained Baseline, which every Main decoder
            // takes. Main with CABAC was measured against it on a busy 1080p desktop at the same bit rate
            // (media_pipeline_bench): no faster to encode, and a software decoder needs 0.7-1 ms more per
            // picture, a tenth of the latency budget.
            // A tight rate tolerance keeps the average within a few percent of the budget over seconds;
            // x264's looser default overshot it by about a tenth on a desktop in motion.
            av_dict_set(&opts, "x264-params", ("ratetol=0.1:" + slicesOf(config)).c_str(), 0);
            if (refresh > 0) av_dict_set(&opts, "intra-refresh", "1", 0);
        }
    }
    const int err = avcodec_open2(ctx.get(), codec, &opts);
    av_dict_free(&opts);
    if (err < 0) {
        error = libav::errorText(err);
        return nullptr;
    }
    return ctx;
}

struct LibavVideoEncoder::Worker {
    struct Job {
        CapturedFrame frame;
        uint64_t ptsUs = 0;
        bool force = false;
    };
    struct InFlight {
        int64_t pts;
        uint64_t ptsUs;
        Instant capturedAt;
        uint32_t convertMicros;
        Clock::time_point submittedAt;
    };

    VideoCodec codec = VideoCodec::h264;
    std::string backend;
    int refreshPeriod = 0; // pictures a refresh wave takes; 0: periodic IDRs
    libav::CodecContextPtr ctx;
    libav::BufferPtr hwDevice;
    OutputCallback onEncoded;

    // The output thread's own.
    ColorConverter converter;
    libav::FramePtr scratch;
    libav::PacketPtr packet;
    int64_t nextPts = 0;
    std::deque<InFlight> inFlight;

    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
    std::optional<Job> waiting;
    std::optional<std::pair<int64_t, int>> retarget; // bits and frames a second, for the next frame
    std::atomic<uint64_t> skipped{0};
    // What the codec was opened with, whether it has been capped since, and the buffer of a cap.
    int configuredFrameRate = 1;
    int64_t openedBitRate = 0;
    bool capped = false;
    static constexpr std::chrono::milliseconds cappedBuffer{300};

    void run();
    void applyRate(int64_t bitRate, int frameRate);
    void encodeOne(Job job);
    void drain(Clock::time_point submittedAt);
};

LibavVideoEncoder::LibavVideoEncoder(VideoEncoderConfig config, OutputCallback onEncoded, Hardware hardware)
    : config_(config), onEncoded_(std::move(onEncoded)), hardware_(hardware) {}

LibavVideoEncoder::~LibavVideoEncoder() {
    if (!worker_) return;
    {
        const std::lock_guard guard(worker_->lock);
        worker_->stopping = true;
        worker_->waiting.reset();
    }
    worker_->wake.notify_all();
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach(); // the thread holds the worker
    else
        thread_.join();
}

std::string LibavVideoEncoder::backend() const { return worker_ ? worker_->backend : std::string(); }

// Which encoders take a new rate while they run, through this machine's libavcodec (5.1), measured by
// encoding moving noise at 720p and changing the context's rate between pictures. libx264: libavcodec
// hands x264 a changed bit rate, VBV rate and VBV buffer before the next picture, but x264's average
// rate control keeps the average it was opened with (opened at 2 Mbit/s and raised to 8: still 2.0;
// opened at 8 and lowered to 2: still 8.0); the VBV cap alone moves it (opened at 8, capped at 2: 2.0
// Mbit/s within a second, no keyframe). So x264 is opened for the budget and capped below it, and climbs
// back by lifting the cap. libx265: libavcodec reads the rate only as it opens the encoder and never
// reconfigures x265 (bit rate, VBV rate and buffer changed alike: still 8.0 Mbit/s after a change to 2).
// h264_vaapi / hevc_vaapi: libavcodec works the rate control's parameters out as it opens the encoder
// and hands them to the driver only with an IDR, so even a changed rate would cost the keyframe that a
// rebuild costs. Both are rebuilt for each new rate.
bool LibavVideoEncoder::retargetsInPlace() const { return worker_ && worker_->backend == "libx264"; }

bool LibavVideoEncoder::retarget(int64_t bitRate, int frameRate) {
    Worker* w = worker_.get();
    if (!w || !retargetsInPlace()) return false;
    const std::lock_guard guard(w->lock);
    w->retarget = std::pair(bitRate, frameRate);
    return true;
}

uint64_t LibavVideoEncoder::framesSkipped() const { return worker_ ? worker_->skipped.load() : 0; }

int LibavVideoEncoder::refreshPeriod() const { return worker_ ? worker_->refreshPeriod : 0; }

void LibavVideoEncoder::start() {
    if (worker_) return;
    if (config_.width < 2 || config_.height < 2)
        throw AgentError(AgentError::Kind::encoder, "no picture to encode at " + std::to_string(config_.width) + "×" +
                                                        std::to_string(config_.height));
    auto worker = std::make_shared<Worker>();
    worker->codec = config_.h264 ? VideoCodec::h264 : VideoCodec::hevc;
    const std::string software = config_.h264 ? "libx264" : "libx265";
    // An encoder that cannot take a new rate opens for the one it starts at; libx264 opens for the budget
    // and is capped to it before its first picture.
    const bool startsBelow = config_.startBitRate > 0 && config_.startFrameRate > 0 &&
                             (config_.startBitRate < config_.budget.averageBitRate ||
                              config_.startFrameRate < config_.budget.expectedFrameRate);
    VideoEncoderConfig atStart = config_;
    if (startsBelow) {
        atStart.budget = config_.budget.at(config_.startBitRate, config_.startFrameRate);
        // Below the budget the link is slow: no keyframe may hold more of it than a capped x264's does.
        atStart.bufferTime = std::chrono::duration_cast<std::chrono::milliseconds>(Worker::cappedBuffer);
    }

    if (hardware_ == Hardware::whenPresent) {
        const HardwareEncoders& hw = HardwareEncoders::probe();
        if (config_.h264 ? hw.h264 : hw.hevc) {
            const std::string name = config_.h264 ? "h264_vaapi" : "hevc_vaapi";
            AVBufferRef* device = nullptr;
            std::string error;
            if (const int err = av_hwdevice_ctx_create(&device, AV_HWDEVICE_TYPE_VAAPI, hw.device.c_str(), nullptr, 0);
                err < 0) {
                error = libav::errorText(err);
            } else {
                worker->hwDevice.reset(device);
                worker->ctx = open(name, atStart, device, error);
            }
            if (worker->ctx) {
                worker->backend = name;
            } else {
                worker->hwDevice.reset();
                print("⚠︎ hardware encoder " + name + " would not open (" + error + ") — using " + software);
            }
        }
    }
    if (!worker->ctx) {
        std::string error;
        worker->ctx = open(software, software == "libx264" ? config_ : atStart, nullptr, error);
        if (!worker->ctx) throw AgentError(AgentError::Kind::encoder, "avcodec_open2 " + software + ": " + error);
        worker->backend = software;
    }
    const VideoBudget& opened = worker->backend == "libx264" ? config_.budget : atStart.budget;
    if (worker->backend == "libx264" && startsBelow)
        worker->retarget = std::pair(config_.startBitRate, config_.startFrameRate);
    worker->scratch.reset(av_frame_alloc());
    worker->packet.reset(av_packet_alloc());
    if (!worker->scratch || !worker->packet) throw AgentError(AgentError::Kind::encoder, "out of memory");
    worker->scratch->format = worker->hwDevice ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P;
    worker->scratch->width = worker->ctx->width;
    worker->scratch->height = worker->ctx->height;
    worker->onEncoded = onEncoded_;
    worker->configuredFrameRate = std::max(opened.expectedFrameRate, 1);
    worker->openedBitRate = opened.averageBitRate;
    if (!worker->hwDevice) worker->refreshPeriod = refreshPeriodOf(config_);

    print(opened.logLine(worker->refreshPeriod));
    thread_ = std::thread([worker] { worker->run(); });
    worker_ = std::move(worker);
}

void LibavVideoEncoder::encode(const CapturedFrame& frame, uint64_t ptsUs, bool forceKeyframe) {
    Worker* w = worker_.get();
    if (!w || frame.empty()) return;
    const bool force = takeKeyframeRequest() || forceKeyframe;
    {
        const std::lock_guard guard(w->lock);
        if (w->stopping) return;
        bool carried = false;
        if (w->waiting) {
            carried = w->waiting->force;
            w->skipped.fetch_add(1, std::memory_order_relaxed);
        }
        w->waiting = Worker::Job{frame, ptsUs, force || carried};
    }
    w->wake.notify_one();
}

void LibavVideoEncoder::Worker::run() {
    armSignalStack();
    nameCurrentThread("dovrel.encoder");
    std::unique_lock lk(lock);
    for (;;) {
        wake.wait(lk, [this] { return stopping || waiting.has_value(); });
        if (stopping) return;
        Job job = std::move(*waiting);
        waiting.reset();
        const auto rate = std::exchange(retarget, std::nullopt);
        lk.unlock();
        if (rate) applyRate(rate->first, rate->second);
        try {
            encodeOne(std::move(job));
        } catch (const std::bad_alloc&) {
            // The picture is lost, as any failed frame; the next one may fare better.
        }
        lk.lock();
    }
}

// x264 takes no new average rate while it runs (its rate control keeps the one it opened with), but it
// does take a new cap: the rate and buffer of its VBV. The cap is the new rate, with a buffer of a third
// of a second, so that no picture, a keyframe neither, holds more than that much of the link. Once
// capped, the cap stays, at the budget too: x264 makes up for the bits it did not spend meanwhile, and
// would otherwise spend them in bursts of twice the budget. x264 also counts every frame as 1/fps of a
// second of the frame rate it was opened with (zerolatency forces a constant rate), so frames that come
// fewer a second get the bits of the longer time they stand for: the cap is scaled by the opened frame
// rate over the new one. libavcodec hands the new cap to x264 with the next frame.
void LibavVideoEncoder::Worker::applyRate(int64_t bitRate, int frameRate) {
    if (!capped && bitRate >= openedBitRate && frameRate >= configuredFrameRate) return;
    capped = true;
    const double scale = static_cast<double>(configuredFrameRate) / std::max(frameRate, 1);
    const double share = static_cast<double>(VideoBudget::encoderShareOf(bitRate));
    const auto cap = std::clamp<int64_t>(static_cast<int64_t>(share * scale), 1000, std::numeric_limits<int>::max());
    // At least one frame's worth, which x264 needs to make a picture at all.
    const auto buffer =
        std::max<int64_t>(static_cast<int64_t>(share * std::chrono::duration<double>(cappedBuffer).count()),
                          cap / configuredFrameRate + 1000);
    ctx->rc_max_rate = cap;
    ctx->rc_buffer_size = static_cast<int>(std::min<int64_t>(buffer, std::numeric_limits<int>::max()));
}

void LibavVideoEncoder::Worker::encodeOne(Job job) {
    const Clock::time_point begun = Clock::now();
    libav::FramePtr input;
    const bool direct = !hwDevice && job.frame.format == PixelFormat::yuv420p && job.frame.width == ctx->width &&
                        job.frame.height == ctx->height;
    AVFrame* picture = nullptr;
    if (direct) {
        input = libav::wrap(job.frame); // the encoder reads the source's planes; no copy
        picture = input.get();
    } else if (converter.convert(job.frame, *scratch)) {
        picture = scratch.get();
    }
    const Instant capturedAt = job.frame.capturedAt;
    job.frame = {}; // the source may reuse its buffer once the codec has what it needs
    if (!picture) return;

    libav::FramePtr surface;
    if (hwDevice) {
        surface.reset(av_frame_alloc());
        if (!surface || av_hwframe_get_buffer(ctx->hw_frames_ctx, surface.get(), 0) < 0 ||
            av_hwframe_transfer_data(surface.get(), picture, 0) < 0)
            return;
        picture = surface.get();
    }
    const Clock::time_point converted = Clock::now();
    picture->pts = nextPts++;
    picture->pict_type = job.force ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    inFlight.push_back({picture->pts, job.ptsUs, capturedAt, microsBetween(begun, converted), converted});
    const int err = avcodec_send_frame(ctx.get(), picture);
    input.reset();
    surface.reset();
    if (err < 0) {
        inFlight.pop_back(); // a failed frame is dropped; the watchdog notices an encoder that only fails
        return;
    }
    drain(converted);
}

void LibavVideoEncoder::Worker::drain(Clock::time_point submittedAt) {
    while (avcodec_receive_packet(ctx.get(), packet.get()) == 0) {
        const Clock::time_point done = Clock::now();
        InFlight meta{packet->pts, 0, {}, 0, submittedAt};
        while (!inFlight.empty() && inFlight.front().pts <= packet->pts) {
            if (inFlight.front().pts == packet->pts) meta = inFlight.front();
            inFlight.pop_front();
        }
        wex::SplitPicture split =
            wex::splitPicture(codec, wex::ByteView(packet->data, static_cast<std::size_t>(packet->size)));
        av_packet_unref(packet.get());
        if (split.units.empty()) continue;
        EncodedPicture pic;
        pic.units = std::move(split.units);
        pic.keyframe = split.keyframe;
        // Both encoders put the parameter sets in front of the first picture of each wave, and only there
        // besides IDRs.
        pic.refresh = refreshPeriod > 0 && !split.keyframe && !split.parameterSets.empty();
        if ((pic.keyframe || pic.refresh) && !split.parameterSets.empty())
            pic.parameterSets = std::move(split.parameterSets);
        pic.ptsUs = meta.ptsUs;
        pic.capturedAt = meta.capturedAt;
        pic.convertMicros = meta.convertMicros;
        pic.encodeMicros = microsBetween(meta.submittedAt, done);
        if (onEncoded) onEncoded(std::move(pic));
    }
}

std::shared_ptr<VideoEncoder> makeVideoEncoder(VideoEncoderConfig config, VideoEncoder::OutputCallback onEncoded) {
    return std::make_shared<LibavVideoEncoder>(config, std::move(onEncoded));
}

VideoCodecChoice chooseDefaultCodec() {
    if (std::getenv("DOVREL_H264")) return {true, VideoCodecChoice::Why::requested};
    // For measuring HEVC where no graphics card encodes it: libx265 in software, slower than 60 pictures a
    // second at 1080p.
    if (std::getenv("DOVREL_HEVC")) return {false, VideoCodecChoice::Why::requested};
    if (HardwareEncoders::probe().hevc) return {false, VideoCodecChoice::Why::hardwareHevc};
    return {true, VideoCodecChoice::Why::noHardwareHevc};
}

std::string encoderReadyLine(const VideoCodecChoice& choice) {
    std::string line = choice.h264 ? "• H.264 encoder ready" : "• HEVC encoder ready";
    if (choice.h264 && choice.why == VideoCodecChoice::Why::noHardwareHevc)
        line += " — no hardware HEVC encoder on this computer";
    return line;
}

} // namespace dovrel::agent

#include "controller/client/VideoDecoder.h"

#include <pthread.h>

#include "controller/client/PictureConverter.h"
#include "controller/client/PictureDecoder.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace dovrel::controller {

namespace {
constexpr uint8_t startCode[] = {0, 0, 0, 1};

void appendUnit(wex::Bytes& out, wex::ByteView unit) {
    out.insert(out.end(), std::begin(startCode), std::end(startCode));
    out.insert(out.end(), unit.begin(), unit.end());
}

uint32_t microsBetween(Instant from, Instant to) {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::microseconds>(to - from).count());
}
} // namespace

VideoDecoder::VideoDecoder(Callbacks callbacks, int threads)
    : callbacks_(std::move(callbacks)), threads_(threads > 0 ? threads : PictureDecoder::defaultThreads()) {
    thread_ = std::thread([this] { run(); });
}

VideoDecoder::~VideoDecoder() {
    {
        const std::lock_guard g(lock_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void VideoDecoder::setSurface(const std::shared_ptr<VideoSurface>& surface) {
    const std::lock_guard g(surfaceLock_);
    surface_ = surface;
}

std::shared_ptr<VideoSurface> VideoDecoder::surface() const {
    const std::lock_guard g(surfaceLock_);
    return surface_.lock();
}

bool VideoDecoder::hasSurface() const { return surface() != nullptr; }

void VideoDecoder::reset() {
    lastFrameId_.reset();
    waitForKeyframe_ = true;
    Job job;
    job.kind = Job::Kind::reset;
    push(std::move(job));
}

void VideoDecoder::handle(const wex::VideoNALHeader& header, const std::vector<wex::Bytes>& nals, Instant receivedAt) {
    const VideoCodec codec = header.nalFlags.contains(wex::NALFlag::codecH264) ? VideoCodec::h264 : VideoCodec::hevc;
    if (lastCodec_ != codec) {
        // Another codec: nothing of the old format applies, and its pictures still queued are useless.
        lastCodec_ = codec;
        haveFormat_ = false;
        lastParams_.clear();
        reset();
    }
    // A missing frame breaks the chain of references: wait for the next keyframe rather than smear.
    if (lastFrameId_ && header.frameId != *lastFrameId_ + 1) waitForKeyframe_ = true;
    lastFrameId_ = header.frameId;

    const SortedUnits units = sortUnits(codec, nals);
    if (!hasSurface()) {
        // Nothing decodes meanwhile, so a surface that comes later starts at a keyframe.
        waitForKeyframe_ = true;
        return;
    }

    if (auto sets = units.parameterSets(codec); sets && *sets != lastParams_) {
        lastParams_ = std::move(*sets);
        haveFormat_ = true;
        ++formatsMade_;
        waitForKeyframe_ = true;
        Job job;
        job.kind = Job::Kind::format;
        job.codec = codec;
        push(std::move(job));
    }
    if (!haveFormat_ || units.picture.empty()) return;

    const bool keyframe = units.randomAccess;
    if (waitForKeyframe_ && !keyframe) {
        ++skipped_;
        return;
    }
    waitForKeyframe_ = false;

    Job job;
    job.keyframe = keyframe;
    job.frameId = header.frameId;
    job.ptsUs = header.ptsUs;
    job.receivedAt = receivedAt;
    std::size_t size = 0;
    for (const auto& u : units.picture)
        size += 4 + u.size();
    if (keyframe)
        for (const auto& p : lastParams_)
            size += 4 + p.size();
    job.annexB.reserve(size);
    // A keyframe carries the sets it decodes with, so a decoder made for them starts right there.
    if (keyframe)
        for (const auto& p : lastParams_)
            appendUnit(job.annexB, p);
    for (const auto& u : units.picture)
        appendUnit(job.annexB, u);
    push(std::move(job));
}

void VideoDecoder::push(Job job) {
    const bool keyframe = job.keyframe;
    bool cutBack = false;
    {
        const std::lock_guard g(lock_);
        if (job.kind == Job::Kind::picture) {
            std::size_t queued = 0;
            for (const auto& j : jobs_)
                queued += j.kind == Job::Kind::picture ? 1 : 0;
            if (queued >= maxQueued) {
                // Decoding fell behind the stream: show the present, not a backlog. Everything queued
                // goes; a keyframe starts over at once, anything else waits for one.
                std::erase_if(jobs_, [](const Job& j) { return j.kind == Job::Kind::picture; });
                cutBack = true;
            }
        }
        if (!cutBack || keyframe) jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
    if (cutBack && !keyframe) {
        waitForKeyframe_ = true;
        if (callbacks_.keyframeNeeded) callbacks_.keyframeNeeded();
    }
}

bool VideoDecoder::waitIdle(std::chrono::milliseconds limit) const {
    std::unique_lock lk(lock_);
    return idle_.wait_for(lk, limit, [&] { return jobs_.empty() && !busy_; });
}

void VideoDecoder::run() {
    ::pthread_setname_np(::pthread_self(), "dovrel.decode");
    std::unique_ptr<PictureDecoder> decoder;
    PictureConverter converter(threads_);
    bool needKeyframe = true;

    for (;;) {
        Job job;
        {
            std::unique_lock lk(lock_);
            busy_ = false;
            if (jobs_.empty()) idle_.notify_all();
            wake_.wait(lk, [&] { return stop_ || !jobs_.empty(); });
            if (stop_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
            busy_ = true;
        }
        switch (job.kind) {
        case Job::Kind::reset:
            if (decoder) decoder->flush();
            needKeyframe = true;
            continue;
        case Job::Kind::format:
            decoder = std::make_unique<PictureDecoder>(job.codec, threads_);
            if (!decoder->ok()) decoder.reset(); // no format: pictures wait for the next parameter sets
            needKeyframe = true;
            continue;
        case Job::Kind::picture: break;
        }
        if (!decoder || (needKeyframe && !job.keyframe)) continue;
        needKeyframe = false;

        const Instant begun = std::chrono::steady_clock::now();
        std::optional<VideoPicture> shown;
        uint32_t decodeMicros = 0;
        const bool ok = decoder->decode(job.annexB, job.ptsUs, [&](const AVFrame& frame) {
            decodeMicros = microsBetween(begun, std::chrono::steady_clock::now());
            shown = converter.picture(frame); // the planes as they are; the screen converts them to RGB
        });
        if (!ok) {
            decoder->flush();
            needKeyframe = true;
            if (callbacks_.keyframeNeeded) callbacks_.keyframeNeeded();
        }
        if (!shown) continue;
        shown->frameId = job.frameId;
        shown->ptsUs = job.ptsUs;
        shown->receivedAt = job.receivedAt;
        shown->decodeMicros = decodeMicros;
        shown->decodedAt = std::chrono::steady_clock::now();
        const auto target = surface();
        if (!target) continue;
        target->enqueue(*shown);
        displayed_.fetch_add(1, std::memory_order_relaxed);
        if (callbacks_.displayed) callbacks_.displayed(*shown);
    }
}

} // namespace dovrel::controller

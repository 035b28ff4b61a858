#include "controller/client/video/VideoDecoder.h"

#include <pthread.h>

#include <algorithm>

#include "controller/client/video/LibavLog.h"
#include "controller/client/video/PictureConverter.h"
#include "controller/client/video/PictureDecoder.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace dovrel::controller {

namespace {
constexpr uint8_t startCode[] = {0, 0, 0, 1};
// How far back a frame identifier may be and still count as a late frame of this stream.
constexpr int32_t staleWindow = 1024;

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
    // Before anything of libavcodec runs: its converters' messages too.
    routeLibavLog();
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
    {
        const std::lock_guard g(surfaceLock_);
        surface_ = surface;
    }
    if (!surface) return;
    Job job;
    job.kind = Job::Kind::surface;
    push(std::move(job));
}

std::shared_ptr<VideoSurface> VideoDecoder::surface() const {
    const std::lock_guard g(surfaceLock_);
    return surface_.lock();
}

bool VideoDecoder::hasSurface() const { return surface() != nullptr; }

void VideoDecoder::reset() {
    lastFrameId_.reset();
    pictureLost_ = false;
    waitForKeyframe_ = true;
    Job job;
    job.kind = Job::Kind::reset;
    push(std::move(job));
}

void VideoDecoder::handle(const wex::VideoNALHeader& header, const std::vector<wex::Bytes>& nals, Instant receivedAt,
                          bool damaged) {
    handled_.fetch_add(1, std::memory_order_relaxed);
    const VideoCodec codec = header.nalFlags.contains(wex::NALFlag::codecH264) ? VideoCodec::h264 : VideoCodec::hevc;
    const wex::SortedUnits units = wex::sortUnits(codec, nals);
    // A frame older than one already handed over came late: decoding it now would show the past and
    // break the chain it belongs to, so it changes nothing, not even the codec. A jump far back is the
    // agent starting to count again; and a keyframe needs no earlier picture, so whatever its identifier
    // the frames after it count from it (frames that never were cannot keep a real stream out).
    bool afterLoss = false;
    if (lastFrameId_) {
        const auto ahead = static_cast<int32_t>(header.frameId - *lastFrameId_);
        if (ahead <= 0 && ahead > -staleWindow && !units.randomAccess) {
            ++skipped_;
            return;
        }
        afterLoss = ahead != 1;
    }
    // From here on the picture either goes to the decoder's thread or is left out for what it lacks.
    taken_.fetch_add(1, std::memory_order_relaxed);
    if (lastCodec_ != codec) {
        // Another codec: nothing of the old format applies, and its pictures still queued are useless.
        lastCodec_ = codec;
        haveFormat_ = false;
        lastParams_.clear();
        reset();
    }
    lastFrameId_ = header.frameId;

    const std::pair<int, int> pictureSize(header.width, header.height);
    auto sets = units.parameterSets(codec);
    if (sets && *sets != lastParams_) {
        lastParams_ = std::move(*sets);
        formatSize_ = pictureSize;
        haveFormat_ = true;
        ++formatsMade_;
        waitForKeyframe_ = true;
        Job job;
        job.kind = Job::Kind::format;
        job.codec = codec;
        push(std::move(job));
    }
    if (!haveFormat_) return;
    if (units.picture.empty()) {
        // Every slice of it was lost: the next picture refers to one the decoder never had.
        if (damaged) pictureLost_ = true;
        return;
    }

    const bool keyframe = units.randomAccess;
    // The first picture of a refresh wave: flagged as a keyframe and carrying the parameter sets, though
    // its slices refer to earlier pictures. The wave repairs the picture over the following pictures, so
    // a decoder can begin there too.
    const bool refresh = !keyframe && sets && header.nalFlags.contains(wex::NALFlag::keyframe);
    if (damaged && keyframe && !sets && (waitForKeyframe_ || pictureSize != formatSize_)) {
        // Its parameter sets were lost, and they may not be the ones in use: a new format, or one
        // announced at another size. Nothing decodes before a keyframe that brings its sets.
        waitForKeyframe_ = true;
        ++skipped_;
        return;
    }
    if (waitForKeyframe_ && !keyframe && !refresh) {
        ++skipped_;
        return;
    }
    waitForKeyframe_ = false;

    Job job;
    job.keyframe = keyframe;
    job.refresh = refresh;
    job.afterLoss = afterLoss || pictureLost_;
    pictureLost_ = false;
    job.damaged = damaged;
    job.frameId = header.frameId;
    job.ptsUs = header.ptsUs;
    job.receivedAt = receivedAt;
    std::size_t size = 0;
    for (const auto& u : units.picture)
        size += 4 + u.size();
    if (keyframe || refresh)
        for (const auto& p : lastParams_)
            size += 4 + p.size();
    job.annexB.reserve(size);
    // A keyframe carries the sets it decodes with, so a decoder made for them starts right there.
    if (keyframe || refresh)
        for (const auto& p : lastParams_)
            appendUnit(job.annexB, p);
    for (const auto& u : units.picture)
        appendUnit(job.annexB, u);
    push(std::move(job));
}

void VideoDecoder::push(Job job) {
    bool cutBack = false;
    {
        const std::lock_guard g(lock_);
        if (job.kind == Job::Kind::picture) {
            std::size_t queued = 0;
            for (const auto& j : jobs_)
                queued += j.kind == Job::Kind::picture ? 1 : 0;
            if (queued >= maxQueued) {
                // Decoding fell behind the stream: show the present, not a backlog. What is queued goes;
                // the newest picture decodes over the gap like after any other loss.
                std::erase_if(jobs_, [](const Job& j) { return j.kind == Job::Kind::picture; });
                job.afterLoss = true;
                cutBack = true;
            }
        }
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
    if (cutBack && callbacks_.keyframeNeeded) callbacks_.keyframeNeeded();
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
    // Every picture since the last keyframe decoded from complete references, or a whole refresh wave
    // decoded so since the last loss.
    bool whole = false;
    // The current format announced pictures too large to decode: nothing of it is.
    bool refused = false;
    // A refresh wave began intact and nothing was lost since: when the next one begins, the whole
    // picture has been repaired.
    bool waveIntact = false;
    // The last keyframe this decoder took, for a decoder that holds pictures back after a lost one.
    wex::Bytes lastKeyframe;
    // This decoder took a keyframe, or its picture has been whole, since it began or was reset: before
    // that, what it has not decoded yet is grey, and only a whole picture is shown.
    bool grounded = false;
    // Since the picture was last whole, a picture went through that this decoder cannot conceal (lost
    // slices without error resilience; for HEVC, any loss): what it decodes now shows the damage, so the
    // last good picture stays until the picture is whole again.
    bool soiled = false;
    // Pictures in a row that lost no slices, up to calmPictures.
    int calm = calmPictures;
    // The last picture was left out: the next one refers to what the decoder never had.
    bool dropped = false;
    // The newest picture fit to show in this session, for a surface that comes after it.
    std::optional<VideoPicture> newest;

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
        case Job::Kind::surface:
            if (newest) hand(*newest);
            continue;
        case Job::Kind::reset:
            newest.reset();
            if (decoder) decoder->flush();
            needKeyframe = true;
            refused = false;
            waveIntact = false;
            grounded = soiled = dropped = false;
            calm = calmPictures;
            continue;
        case Job::Kind::format:
            decoder = std::make_unique<PictureDecoder>(job.codec, threads_);
            if (!decoder->ok()) decoder.reset(); // no format: pictures wait for the next parameter sets
            needKeyframe = true;
            refused = false;
            waveIntact = false;
            lastKeyframe.clear();
            grounded = soiled = dropped = false;
            continue;
        case Job::Kind::picture: break;
        }
        // A new format decodes nothing before its keyframe, or the start of a refresh wave.
        if (!decoder || refused || (needKeyframe && !job.keyframe && !job.refresh)) continue;
        // A keyframe or a wave's start carries the parameter sets: what they announce is looked at before
        // anything is decoded, since a decoder allocates for the picture first (a few bytes can announce
        // gigabytes).
        if (job.keyframe || job.refresh) {
            const auto size = decoder->announcedSize(job.annexB);
            if (size && !PictureDecoder::fits(*size)) {
                refused = true;
                decoder->flush();
                if (callbacks_.refused) callbacks_.refused(size->first, size->second);
                continue;
            }
        }
        if (dropped) job.afterLoss = true;
        dropped = false;
        // A keyframe needs no earlier picture; any other picture after a loss refers to what is missing.
        // A refresh wave that began intact and ran its course without a loss has repaired everything.
        const bool intact = !job.afterLoss && !job.damaged;
        // Only lost slices count: a lost picture is stood in for either way, and a decoder that fell
        // behind would fall further behind on one thread.
        calm = job.damaged ? 0 : std::min(calm + 1, calmPictures);
        // Lost slices are concealed only by an H.264 decoder of one thread, which takes longer over a
        // picture: it decodes while pieces are being lost, slice threads once none were for calmPictures
        // pictures. A keyframe needs nothing before it, so a decoder made for it loses nothing. Back to
        // slice threads, a refresh wave's start will do too, since an agent that repairs in waves may send
        // no keyframe again: the new decoder is whole once that wave has passed, the last good picture
        // staying meanwhile. Not the other way: with pieces still being lost it might never be whole.
        const bool conceal = calm < calmPictures;
        if ((job.keyframe || (job.refresh && !conceal)) && decoder->codec() == VideoCodec::h264 && threads_ > 1 &&
            decoder->concealsLostSlices() != conceal) {
            auto other = std::make_unique<PictureDecoder>(VideoCodec::h264, conceal ? 1 : threads_);
            if (other->ok()) {
                decoder = std::move(other);
                lastKeyframe.clear();
                grounded = soiled = false;
                if (!job.keyframe) whole = waveIntact = false;
            }
        }
        // A picture that lost slices, to a decoder that would leave them as they were, is not decoded: the
        // decoder stands in for it with a copy of the picture before, as for a picture lost whole, and
        // the keyframe asked for brings a decoder that fills lost slices in.
        if (job.damaged && !job.keyframe && decoder->codec() == VideoCodec::h264 && !decoder->concealsLostSlices()) {
            whole = waveIntact = false;
            dropped = true;
            if (callbacks_.keyframeNeeded) callbacks_.keyframeNeeded();
            continue;
        }
        if (job.keyframe) {
            whole = !job.damaged;
            waveIntact = false;
        } else if (job.refresh) {
            whole = (whole || waveIntact) && intact && !needKeyframe;
            waveIntact = intact;
        } else if (!intact) {
            whole = false;
            waveIntact = false;
        }
        needKeyframe = false;

        const Instant begun = std::chrono::steady_clock::now();
        std::optional<VideoPicture> shown;
        uint32_t decodeMicros = 0;
        bool damaged = false;
        const auto take = [&](const AVFrame& frame, bool concealed) {
            decodeMicros = microsBetween(begun, std::chrono::steady_clock::now());
            damaged = damaged || concealed;
            shown = converter.picture(frame); // the planes as they are; the screen converts them to RGB
        };
        bool accepted = decoder->decode(job.annexB, job.ptsUs, take);
        if (accepted && job.keyframe) lastKeyframe = std::move(job.annexB); // not read again below
        // An H.264 decoder that missed a keyframe numbers the pictures after it from the start again and
        // holds back every one it numbers below the last it showed: the picture would stand still until
        // the count caught up or the next keyframe came. The last keyframe it took, decoded again (and
        // not shown), restarts its count; the first picture after the loss is then decoded again, over
        // that keyframe, and the picture goes on concealed like after any other loss.
        if (accepted && !shown && job.afterLoss && !job.keyframe && !lastKeyframe.empty()) {
            decoder->decode(lastKeyframe, job.ptsUs, [](const AVFrame&, bool) {});
            accepted = decoder->decode(job.annexB, job.ptsUs, take);
            waveIntact = false;
        }
        // The data of a picture whose references were all there should decode cleanly: when it does not,
        // it is damaged itself. It is not shown, and only a keyframe or a refresh wave makes the picture
        // whole again. Errors in a picture decoded over a loss are the loss showing: it is shown, concealed.
        if (!accepted || (damaged && whole)) {
            whole = false;
            waveIntact = false;
            if (callbacks_.keyframeNeeded) callbacks_.keyframeNeeded();
            continue;
        }
        if (damaged) waveIntact = false;
        if (whole && !damaged) soiled = false;
        const bool hevc = decoder->codec() == VideoCodec::hevc;
        if (!soiled && (hevc ? !intact || damaged : job.damaged && !decoder->concealsLostSlices())) {
            soiled = true;
            if (callbacks_.keyframeNeeded) callbacks_.keyframeNeeded();
        }
        grounded = grounded || job.keyframe || (whole && !damaged);
        if (!shown) continue;
        shown->whole = whole && !damaged;
        // No grey or leftover areas: the last good picture stays in place of one that would show them.
        if (!shown->whole && (!grounded || soiled)) continue;
        shown->frameId = job.frameId;
        shown->ptsUs = job.ptsUs;
        shown->receivedAt = job.receivedAt;
        shown->decodeMicros = decodeMicros;
        shown->decodedAt = std::chrono::steady_clock::now();
        if (shown->whole) whole_.fetch_add(1, std::memory_order_relaxed);
        newest = *shown;
        hand(*shown);
    }
}

void VideoDecoder::hand(const VideoPicture& picture) {
    const auto target = surface();
    if (!target) return;
    target->enqueue(picture);
    displayed_.fetch_add(1, std::memory_order_relaxed);
    if (callbacks_.displayed) callbacks_.displayed(picture);
}

} // namespace dovrel::controller

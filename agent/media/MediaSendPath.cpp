#include "agent/media/MediaSendPath.h"

#include <algorithm>

#include "agent/common/Diag.h"
#include "agent/common/MonoClock.h"
#include "agent/media/VideoPacketizer.h"
#include "protocol/AudioFrame.h"
#include "protocol/VideoPayload.h"

namespace dovrel::agent {

namespace {

constexpr uint8_t videoNal = static_cast<uint8_t>(wex::VideoType::nal);
constexpr uint8_t audioPcm = 1;

// Hands one sealed frame to the session's route; false when there is no route or the relay queue
// refused it (full, or the session is over): such a frame is lost, not sent.
bool route(const PipelineHost& host, const SendTarget& target, wex::Bytes&& sealed, bool isVideo) {
    if (target.isRelay) return host.sendRelayMedia && host.sendRelayMedia(target, std::move(sealed), isVideo);
    if (!target.route) return false;
    target.route->sendFrame(std::move(sealed),
                            isVideo); // a datagram the kernel refuses is lost like one lost on the way
    return true;
}

bool hasRoute(const PipelineHost& host, const SendTarget& target) {
    return target.isRelay ? static_cast<bool>(host.sendRelayMedia) : target.route != nullptr;
}

} // namespace

MediaSendPath::MediaSendPath(const PipelineHost& host)
    : host_(host), pacer_([this](const SendTarget& target,
                                 wex::Bytes&& sealed) { return route(host_, target, std::move(sealed), true); },
                          [this](const SendTarget& target) {
                              // A piece that waited goes only to the session it was sealed for.
                              const auto now = host_.sendTarget ? host_.sendTarget() : nullptr;
                              return now && now->session == target.session;
                          }) {}

uint64_t MediaSendPath::parameterSetsGeneration() const {
    const std::lock_guard guard(videoStateLock_);
    return paramSetsGeneration_;
}

std::vector<wex::Bytes> MediaSendPath::parameterSets() const {
    const std::lock_guard guard(videoStateLock_);
    return paramSets_;
}

PictureSent MediaSendPath::sendPicture(EncodedPicture&& picture, const PictureFormat& format) {
    return sendPicture(std::move(picture), format, host_.sendTarget ? host_.sendTarget() : nullptr);
}

PictureSent MediaSendPath::sendPicture(EncodedPicture&& picture, const PictureFormat& format,
                                       const std::shared_ptr<const SendTarget>& target) {
    PictureSent out;
    if (picture.units.empty() || !host_.streaming()) return out;

    wex::NALFlags flags;
    std::vector<wex::Bytes> nals;
    const bool keyframe = picture.keyframe;
    if (picture.keyframe || picture.refresh) {
        flags = {wex::NALFlag::keyframe, wex::NALFlag::config};
        // Every keyframe carries the parameter sets, also one whose encoder output reported none.
        const std::lock_guard guard(videoStateLock_);
        if (picture.parameterSets && !picture.parameterSets->empty()) {
            paramSets_ = std::move(*picture.parameterSets);
            paramSetsGeneration_ = format.generation;
        }
        if (paramSetsGeneration_ == format.generation) nals = paramSets_;
    }
    nals.reserve(nals.size() + picture.units.size());
    std::move(picture.units.begin(), picture.units.end(), std::back_inserter(nals));
    // The flag describes the bitstream of the encoder that made this picture.
    if (format.h264) flags.insert(wex::NALFlag::codecH264);

    // One snapshot for the whole picture: its pieces go to one session on one route.
    if (!target || !target->session) {
        frameId_.fetch_add(1, std::memory_order_relaxed); // no session: nothing to seal for, nothing counted
        return out;
    }
    // Numbered, admitted and handed on as one: pieces leave in the order of their numbers, so that a
    // receiver's replay window never drops a run of them that two encoder threads had interleaved.
    const std::lock_guard sending(videoSendLock_);
    const uint32_t frameId = frameId_.load(std::memory_order_relaxed) + 1;
    wex::VideoNALHeader header;
    header.ptsUs = MonoClock::wireMicros();
    header.frameId = frameId;
    header.displayId = 0;
    header.nalFlags = flags;
    header.width = static_cast<uint16_t>(format.width);
    header.height = static_cast<uint16_t>(format.height);
    header.inputWatermark = 0;
    const wex::Bytes payload = wex::encodeVideoNALPayload(header, nals);
    // A picture the pace could not send in time is left out before it is numbered: the client sees no
    // gap, and the picture the encoder is asked for next starts the stream again.
    const bool twice = twice_.load(std::memory_order_relaxed) && !target->isRelay;
    if (!pacer_.admits(target, VideoPacketizer::wireBytes(payload.size()) * (twice ? 2 : 1), keyframe)) {
        out.leftOut = true;
        return out;
    }
    frameId_.store(frameId, std::memory_order_relaxed);

    const bool routed = hasRoute(host_, *target);
    bool exhausted = false;
    uint32_t unusedSeq = 0; // the session numbers the pieces as it seals them
    std::vector<wex::Bytes> pieces;
    const std::size_t count = VideoPacketizer::forEachPiece(
        frameId, payload, unusedSeq, [&](uint32_t, wex::HeaderFlags pieceFlags, wex::ByteView plaintext) {
            if (exhausted) return;
            if (!routed) {
                ++out.dropped;
                return;
            }
            wex::Bytes sealed = target->session->sealNext(wex::Stream::video, videoNal, target->sessionId,
                                                          MonoClock::wireMicros(), plaintext, pieceFlags);
            if (sealed.empty()) {
                exhausted = target->session->sendExhausted(wex::Stream::video);
                return;
            }
            pieces.push_back(std::move(sealed));
        });
    if (twice) {
        const std::size_t originals = pieces.size();
        pieces.reserve(2 * originals);
        for (std::size_t i = 0; i < originals; ++i)
            pieces.push_back(pieces[i]);
    }
    const std::size_t copies = twice ? pieces.size() / 2 : 0;
    const PiecePacer::Handed handed = pacer_.send(target, std::move(pieces));
    out.copies = handed.pieces > copies ? copies : 0;
    out.pieces += handed.pieces;
    out.bytes += handed.bytes;
    out.dropped += handed.dropped;
    if (count == 0) {
        out.tooLarge = true;
        out.dropped = 1;
    }
    Diag::add(Diag::Counter::videoFrames, static_cast<int64_t>(out.pieces));
    Diag::add(Diag::Counter::videoBytes, static_cast<int64_t>(out.bytes));
    if (out.dropped) Diag::add(Diag::Counter::videoDropped, static_cast<int64_t>(out.dropped));
    if (exhausted && host_.dropClient) host_.dropClient();
    return out;
}

int64_t MediaSendPath::audioShare() const {
    const int64_t at = lastAudioAt_.load(std::memory_order_relaxed);
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return at != 0 && now - std::chrono::nanoseconds(at) < std::chrono::seconds(2) ? audio_.bitRate() : 0;
}

void MediaSendPath::sendAudio(std::span<const int16_t> samples, uint32_t sampleRate, uint8_t channels) {
    lastAudioAt_.store(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count(),
        std::memory_order_relaxed);
    Diag::add(Diag::Counter::audioBuffers);
    Diag::add(Diag::Counter::audioSamples, static_cast<int64_t>(samples.size()));
    if (!host_.streaming()) {
        // What the conversion held belongs to sound nobody will hear.
        const std::lock_guard sending(audioSendLock_);
        audio_.reset();
        return;
    }
    if (samples.empty()) return;

    const std::shared_ptr<const SendTarget> target = host_.sendTarget ? host_.sendTarget() : nullptr;
    bool exhausted = false;
    int64_t frames = 0;
    wex::AudioFrame frame;
    const std::lock_guard sending(audioSendLock_); // as for video: numbered and sent in one order
    audio_.add(samples, {sampleRate, channels}, [&](std::span<const int16_t> part, PcmFormat format) {
        ++frames;
        if (!target || !target->session || exhausted) return;
        frame.sampleRate = format.sampleRate;
        frame.channels = format.channels;
        frame.pcm.assign(part.begin(), part.end());
        wex::Bytes sealed = target->session->sealNext(wex::Stream::audio, audioPcm, target->sessionId,
                                                      MonoClock::wireMicros(), frame.encode());
        if (sealed.empty()) {
            exhausted = target->session->sendExhausted(wex::Stream::audio);
            return;
        }
        route(host_, *target, std::move(sealed), false); // without a route the frame is discarded
    });
    Diag::add(Diag::Counter::audioFrames, frames);
    if (exhausted && host_.dropClient) host_.dropClient();
}

} // namespace dovrel::agent

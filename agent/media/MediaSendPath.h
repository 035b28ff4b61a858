#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

#include "agent/core/SessionPipeline.h"
#include "agent/link/PiecePacer.h"
#include "agent/media/LinkAudio.h"
#include "agent/media/VideoEncoder.h"
#include "protocol/Bytes.h"
#include "runtime/Scheduler.h"

namespace dovrel::agent {

// Which encoder made a picture: its generation, its codec and the size the video header announces.
struct PictureFormat {
    uint64_t generation = 0;
    bool h264 = true;
    int width = 0;
    int height = 0;
};

// What one picture became on its way out.
struct PictureSent {
    std::size_t pieces = 0;  // sealed and handed to the connection
    std::size_t copies = 0;  // of those, second copies of a piece
    std::size_t bytes = 0;   // of those, on the wire
    std::size_t dropped = 0; // pieces with no connection to go on
    bool tooLarge = false;   // the payload cannot be cut into pieces: the picture is lost
    // Left out whole, unnumbered: the pace could not have sent it in time. The stream needs a picture
    // to start again from.
    bool leftOut = false;
};

// One picture's way from capture to the network, for measuring.
struct PictureTrace {
    Instant capturedAt{};
    uint32_t convertMicros = 0; // colour conversion
    uint32_t encodeMicros = 0;  // inside the codec
    uint32_t sendMicros = 0;    // payload, pieces, sealing and sending
    PictureSent sent;
};

// The per-frame work after the encoder: each picture becomes a video payload (keyframes and the first
// pictures of refresh waves flagged as keyframes, behind the stored parameter sets: a decoder can begin
// at either), cut into pieces, each sealed with the session's next video sequence number
// and sent on the session's route; each audio buffer becomes sealed AudioFrames of 256 sample frames, in
// the format the link's rate calls for (LinkAudio).
// Runs on the producing threads (the encoder's output thread, the audio thread); a picture's pieces go
// out at once while they fit the pace, and otherwise wait for their time on the pacer's thread. The
// pieces of one stream are numbered and handed on under one lock, so they leave in sequence order.
//
// Sequence numbers come from the session itself, so they start at 0 with every session and never
// wrap inside one: a stream that has used them all ends the session.
class MediaSendPath {
public:
    static constexpr std::size_t audioFramesPerChunk = LinkAudio::framesPerChunk;

    explicit MediaSendPath(const PipelineHost& host);
    MediaSendPath(const MediaSendPath&) = delete;
    MediaSendPath& operator=(const MediaSendPath&) = delete;

    // One picture of the current encoder. Nothing goes out while the client does not stream.
    PictureSent sendPicture(EncodedPicture&& picture, const PictureFormat& format);
    // The same for the session of `target`, the snapshot the caller judged the picture by.
    PictureSent sendPicture(EncodedPicture&& picture, const PictureFormat& format,
                            const std::shared_ptr<const SendTarget>& target);
    // The video budget the pieces are paced by (a little above it, PiecePacer; a picture that could not
    // go in time is left out); 0: none. Any thread.
    // `twice`: on the local network each piece goes twice, the copies behind the picture's last piece (a
    // link that loses pieces at random loses both seldom; the client's replay window drops the second).
    void setPace(int64_t bitsPerSecond, bool twice = false) {
        twice_.store(twice, std::memory_order_relaxed);
        pacer_.setBudget(twice ? 2 * bitsPerSecond : bitsPerSecond);
    }
    // Video bytes waiting for their time.
    std::size_t paceBacklog() const { return pacer_.backlog(); }
    // One buffer of interleaved samples; counted always, sent while the client streams.
    void sendAudio(std::span<const int16_t> samples, uint32_t sampleRate, uint8_t channels);
    // The link now carries `linkBitRate` of its full budget `fullBitRate`: the sound takes its share of
    // it from the next buffer on. Any thread.
    void setAudioFormatFor(int64_t linkBitRate, int64_t fullBitRate) { audio_.setFormatFor(linkBitRate, fullBitRate); }
    // The format the sound goes in, and what it takes on the link while it is captured (bits a second).
    PcmFormat audioFormat() const { return audio_.format(); }
    int64_t audioBitRate() const { return audio_.bitRate(); }
    // What the sound takes now: its bit rate while buffers came lately (sound is being captured), else
    // nothing.
    int64_t audioShare() const;

    // The parameter sets the last keyframe reported, and the generation of the encoder they belong to.
    // A keyframe of another encoder that reports none carries none: a new encoder's sets are not known
    // until its first keyframe reports them.
    std::vector<wex::Bytes> parameterSets() const;
    uint64_t parameterSetsGeneration() const;
    // The identifier of the last payload built (wrapping; 0 before the first).
    uint32_t lastFrameId() const { return frameId_.load(std::memory_order_relaxed); }

private:
    const PipelineHost& host_;
    mutable std::mutex videoStateLock_;
    std::vector<wex::Bytes> paramSets_;
    uint64_t paramSetsGeneration_ = 0;
    std::atomic<uint32_t> frameId_{0};
    std::atomic<bool> twice_{false};
    std::atomic<int64_t> lastAudioAt_{0}; // steady clock, nanoseconds; 0: never
    // Held while a stream's pieces are sealed and handed on, one per stream.
    std::mutex videoSendLock_;
    std::mutex audioSendLock_;
    LinkAudio audio_; // converted and framed under audioSendLock_
    // Last: its thread hands pieces to the routes through host_ until it is gone.
    PiecePacer pacer_;
};

} // namespace dovrel::agent

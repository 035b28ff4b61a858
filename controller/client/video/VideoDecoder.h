#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "controller/client/video/PictureDecoder.h"
#include "controller/client/video/VideoSurface.h"
#include "protocol/Bytes.h"
#include "protocol/VideoPayload.h"

namespace dovrel::controller {

// Turns the NAL units of each received video payload into pictures on the session window's surface.
// Follows the codec each payload announces (H.264 or HEVC) and makes a new decoder whenever the
// parameter sets change (byte for byte, not only in length, so a new resolution never decodes against
// the old one); a new format shows nothing before its first keyframe, since nothing decodes without
// one, or before the first picture of a refresh wave (flagged as a keyframe, with parameter sets, but
// not an IDR), which repairs the picture over the pictures that follow it. A missing frame does not stop
// the picture: decoding goes on and the decoder conceals what the lost frame would have changed, while
// the client asks the agent for a keyframe, or the agent's refresh waves make the picture whole again.
// A frame that lost some of its pieces comes as the units that survived (`damaged`): it is decoded too,
// the decoder concealing what is missing. A damaged keyframe starts a new format only when its
// parameter sets survived. No picture with areas the decoder could not conceal is shown (grey where
// nothing was decoded yet or a lost reference stands in, leftovers where lost slices were not filled
// in): the last good picture stays instead, until the picture is whole again, and a keyframe is asked
// for. An H.264 decoder fills lost slices in from the picture before only without slice threads: from a
// keyframe after lost slices the stream is decoded on one thread, and on slice threads again from the
// first keyframe or refresh wave after calmPictures pictures that lost none; until then a picture that
// lost slices is left out, the decoder standing in for it with the picture before. HEVC conceals nothing: only whole
// pictures are shown. Data the decoder refuses is dropped,
// with a keyframe request. A stream whose parameter sets announce a picture larger than PictureDecoder::maxSide is
// refused before anything is allocated for it, and said so. Every picture says whether it is whole (an unbroken chain
// of intact frames since its keyframe, or since a refresh wave that began after the last loss and has been followed by
// the next) or concealed.
//
// `handle` runs on the client thread and returns at once; decoding runs on the decoder's own thread
// ("dovrel.decode"), so receiving goes on while a picture decodes. Pictures reach the surface in YUV as
// soon as they are decoded; the screen converts them to RGB as it draws. Pictures are decoded with no
// surface too, and the newest is kept for the surface that comes: a window opened after the session's
// first picture shows it at once rather than waiting for a keyframe the agent may hold back for seconds.
class VideoDecoder {
public:
    struct Callbacks {
        // The decoder could not go on without a keyframe (decoder thread).
        std::function<void()> keyframeNeeded;
        // A picture went to the surface (decoder thread).
        std::function<void(const VideoPicture&)> displayed;
        // The stream's pictures are larger than PictureDecoder decodes: nothing of it is shown until
        // other parameter sets or a new session come (decoder thread, once for each such stream).
        std::function<void(int width, int height)> refused;
    };

    explicit VideoDecoder(Callbacks callbacks = {}, int threads = 0);
    // Stops the decoder's thread after the picture in progress.
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // Any thread. A new surface gets the newest picture decoded so far in this session, if any.
    void setSurface(const std::shared_ptr<VideoSurface>& surface);
    bool hasSurface() const;
    // Pictures handed to a surface so far (one kept for a late surface counts when it is handed over);
    // never reset.
    uint64_t displayed() const { return displayed_.load(std::memory_order_relaxed); }

    // Client thread.
    void handle(const wex::VideoNALHeader& header, const std::vector<wex::Bytes>& nals,
                Instant receivedAt = std::chrono::steady_clock::now(), bool damaged = false);
    // A new session: pictures queued from the last one are dropped, and the next one shown is a keyframe.
    void reset();
    // Decoders made for new parameter sets, and pictures left out: before a new format's keyframe, and
    // frames that came after a newer one had gone to the decoder.
    uint64_t formatsMade() const { return formatsMade_; }
    // Payloads handed to handle() so far, shown or not.
    uint64_t handled() const { return handled_.load(std::memory_order_relaxed); }
    // Pictures taken up so far (late ones aside), and of them those that came out whole: the others were
    // shown concealed, held back (the last good picture standing in), or could not be decoded at all.
    // Never reset.
    uint64_t picturesTaken() const { return taken_.load(std::memory_order_relaxed); }
    uint64_t picturesWhole() const { return whole_.load(std::memory_order_relaxed); }
    uint64_t picturesSkipped() const { return skipped_; }

    // Waits until every picture handed over has been decoded (or dropped); false on time-out.
    bool waitIdle(std::chrono::milliseconds limit) const;

    // Pictures queued behind the one being decoded before the queue is cut back to the newest.
    static constexpr std::size_t maxQueued = 6;
    // Pictures in a row without lost slices after which an H.264 stream is decoded with slice threads
    // again, from its next keyframe or refresh wave on (5 s at 60 pictures a second).
    static constexpr int calmPictures = 300;

private:
    struct Job {
        enum class Kind { picture, format, reset, surface } kind = Kind::picture;
        VideoCodec codec = VideoCodec::h264;
        wex::Bytes annexB;
        bool keyframe = false;
        bool refresh = false;   // the first picture of a refresh wave: decoding can begin here
        bool afterLoss = false; // frames before it were lost or left out: its references are incomplete
        bool damaged = false;   // some of its own units were lost
        uint32_t frameId = 0;
        uint32_t ptsUs = 0;
        Instant receivedAt{};
    };

    void push(Job job);
    std::shared_ptr<VideoSurface> surface() const;
    // Decoder thread: `picture` to the surface, if there is one.
    void hand(const VideoPicture& picture);
    void run();

    Callbacks callbacks_;
    int threads_;

    // Client thread.
    std::optional<VideoCodec> lastCodec_;
    std::vector<wex::Bytes> lastParams_;
    std::pair<int, int> formatSize_; // the picture size the payload carrying lastParams_ announced
    bool haveFormat_ = false;
    std::optional<uint32_t> lastFrameId_;
    bool pictureLost_ = false; // a damaged frame brought no slice since the last picture handed over
    bool waitForKeyframe_ = true;
    uint64_t formatsMade_ = 0;
    uint64_t skipped_ = 0;

    mutable std::mutex surfaceLock_;
    std::weak_ptr<VideoSurface> surface_;

    // Shared with the decoder's thread.
    mutable std::mutex lock_;
    mutable std::condition_variable wake_;
    mutable std::condition_variable idle_;
    std::deque<Job> jobs_;
    bool busy_ = false;
    bool stop_ = false;
    std::atomic<uint64_t> displayed_{0};
    std::atomic<uint64_t> handled_{0};
    std::atomic<uint64_t> taken_{0};
    std::atomic<uint64_t> whole_{0};
    std::thread thread_;
};

} // namespace dovrel::controller

#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "protocol/Bytes.h"
#include "protocol/CommonHeader.h"

namespace dovrel::controller {

// Puts the agent's fragmented video payloads back together. Pieces may come in any order, twice, or
// not at all; there is no timer: an incomplete frame stays until its last piece comes or it is pushed
// out as the lowest of too many pending frames. Memory is bounded: at most `maxPending` frames are
// held, and a frame may have at most `maxPieces` pieces and `maxFrameBytes` bytes; a frame over either
// cap is dropped (its later pieces too) and reported so that the caller can ask for a keyframe.
// Frame identifiers restart with each session: clear() between sessions. One thread.
class Reassembler {
public:
    static constexpr std::size_t maxPending = 25;
    // A 4K keyframe of a screen at a high budget stays well below this.
    static constexpr std::size_t maxFrameBytes = std::size_t{4} << 20;
    // The agent cuts 1000-byte pieces.
    static constexpr std::size_t maxPieces = (maxFrameBytes + 999) / 1000;

    enum class Outcome {
        complete,   // `payload` holds the whole frame
        incomplete, // stored (or ignored); nothing to hand on yet
        oversized,  // the frame broke a cap and was dropped
    };
    struct Result {
        Outcome outcome = Outcome::incomplete;
        wex::Bytes payload;
    };

    // One piece: `header` is its fragment header, none for an unfragmented payload (which is returned
    // whole at once); `slice` the bytes after the header.
    Result add(const std::optional<wex::FragmentHeader>& header, wex::ByteView slice);

    void clear();

    std::size_t pendingFrames() const { return map_.size(); }
    bool isPending(uint32_t frameId) const { return map_.contains(frameId); }
    // Bytes of the pieces held for incomplete frames.
    std::size_t bytesHeld() const;

private:
    struct Pending {
        uint16_t count = 0;
        uint16_t received = 0;
        std::size_t bytes = 0;
        std::vector<std::optional<wex::Bytes>> parts;
    };

    bool wasDropped(uint32_t frameId) const;
    void rememberDropped(uint32_t frameId);

    // Ordered by identifier, so the lowest is the first.
    std::map<uint32_t, Pending> map_;
    // The last frames dropped for size: their remaining pieces are ignored rather than collected again.
    static constexpr std::size_t droppedMemory = 8;
    std::vector<uint32_t> dropped_;
};

} // namespace dovrel::controller

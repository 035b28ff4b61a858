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
// out as the oldest of too many pending frames. Memory is bounded: at most `maxPending` frames are
// held, and a frame may have at most `maxPieces` pieces and `maxFrameBytes` bytes; a frame over either
// cap is dropped (its later pieces too) and reported so that the caller can ask for a keyframe.
// A frame that can no longer complete (a newer one did, or it was pushed out) is handed back with the
// pieces that came, so that what survived of it can still be decoded; its late pieces are ignored.
// Identifiers are taken as they come, in any order: which frame goes when the table is full is decided
// by arrival, not by identifier, and only a frame that was actually handed on makes later pieces of its
// identifier count as late, so no sequence of identifiers keeps a following stream out. A piece that
// names another piece count than its frame's is a new frame under a reused identifier and starts it
// afresh. Frame identifiers restart with each session: clear() between sessions. One thread.
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
    // A frame given up with pieces missing: its pieces by index, none where one never came.
    struct Broken {
        uint32_t frameId = 0;
        std::vector<std::optional<wex::Bytes>> pieces;
    };
    struct Result {
        Outcome outcome = Outcome::incomplete;
        wex::Bytes payload;
        // A frame pushed out of the table by this piece.
        std::optional<Broken> pushedOut;
    };

    // One piece: `header` is its fragment header, none for an unfragmented payload (which is returned
    // whole at once); `slice` the bytes after the header.
    Result add(const std::optional<wex::FragmentHeader>& header, wex::ByteView slice);

    // Frame `frameId` went on to the decoder: the frames still pending before it will not complete in
    // time to be shown. Hands them back, oldest first, and ignores their late pieces.
    std::vector<Broken> closeBefore(uint32_t frameId);

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
        uint64_t arrival = 0; // when its first piece came, in pieces seen
        std::vector<std::optional<wex::Bytes>> parts;
    };
    // A frame that left the table (complete, given up, or dropped for size) and its piece count.
    struct Finished {
        uint32_t frameId = 0;
        uint16_t count = 0;
    };

    bool finished(uint32_t frameId, uint16_t count) const;
    void rememberFinished(uint32_t frameId, uint16_t count);
    Broken takeBroken(std::map<uint32_t, Pending>::iterator it);

    std::map<uint32_t, Pending> map_;
    uint64_t arrivals_ = 0;
    // The last frames that left the table: their remaining pieces are ignored rather than collected
    // again. Enough for the frames a second of pieces could still straggle in for.
    static constexpr std::size_t finishedMemory = 64;
    std::vector<Finished> finished_;
};

} // namespace dovrel::controller

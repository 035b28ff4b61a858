#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "protocol/Bytes.h"
#include "protocol/CommonHeader.h"

namespace dovrel::bench {

// Puts video payloads together from their pieces as the protocol's controller does, and nothing more:
// a payload whose pieces never all come is never salvaged. It waits until it is the lowest of 25
// pending payloads, and then it goes; there is no timer.
class PieceReassembler {
public:
    static constexpr std::size_t mostPending = 25;

    // The whole payload when this piece completed one; a payload that came in one piece (no fragment
    // header) is whole at once.
    std::optional<wex::Bytes> add(const std::optional<wex::FragmentHeader>& piece, wex::ByteView slice) {
        if (!piece) return wex::Bytes(slice.begin(), slice.end());
        const uint32_t id = piece->frameId;
        Pending& p = pending_[id];
        // The first piece seen says how many there are.
        if (p.parts.empty() && p.received == 0) p.parts.resize(piece->fragCount);
        if (piece->fragIndex < p.parts.size() && !p.parts[piece->fragIndex]) {
            p.parts[piece->fragIndex] = wex::Bytes(slice.begin(), slice.end());
            ++p.received;
        }
        if (p.received == p.parts.size()) {
            wex::Bytes whole;
            for (const auto& part : p.parts)
                whole.insert(whole.end(), part->begin(), part->end());
            pending_.erase(id);
            return whole;
        }
        if (pending_.size() >= mostPending && pending_.begin()->first != id) pending_.erase(pending_.begin());
        return std::nullopt;
    }

    std::size_t pending() const { return pending_.size(); }

private:
    struct Pending {
        std::vector<std::optional<wex::Bytes>> parts;
        std::size_t received = 0;
    };
    std::map<uint32_t, Pending> pending_;
};

// When the protocol's controller asks for a keyframe, besides once right after AuthOk: when a decoded
// payload's frame identifier skips ahead of the last one's, at most once every 250 ms; and on the
// once-a-second tick, when two ticks in a row saw no new picture shown, then again only once 0.9 s have
// passed. Both rules count from the last ask of either.
class KeyframeAsking {
public:
    using Clock = std::chrono::steady_clock;

    // An ask was sent (the one after AuthOk, say).
    void asked(Clock::time_point now) { lastAsk_ = now; }

    // A decoded payload arrived; true when it asks for a keyframe.
    bool payload(uint32_t frameId, Clock::time_point now) {
        const bool ask = lastFrameId_ != 0 && lastFrameId_ + 1 < frameId && now - lastAsk_ > gapSpacing;
        // It follows the identifier backwards too, when a frame comes late.
        lastFrameId_ = frameId;
        if (ask) lastAsk_ = now;
        return ask;
    }

    // The tick, with the count of pictures shown so far; true when it asks for a keyframe.
    bool tick(std::size_t shown, Clock::time_point now) {
        const bool fresh = shown > shownAtTick_;
        shownAtTick_ = shown;
        if (fresh) {
            staleTicks_ = 0;
            return false;
        }
        ++staleTicks_;
        if (staleTicks_ < 2 || now - lastAsk_ <= staleSpacing) return false;
        lastAsk_ = now;
        return true;
    }

private:
    static constexpr auto gapSpacing = std::chrono::milliseconds(250);
    static constexpr auto staleSpacing = std::chrono::milliseconds(900);
    uint32_t lastFrameId_ = 0;
    Clock::time_point lastAsk_{};
    std::size_t shownAtTick_ = 0;
    int staleTicks_ = 0;
};

} // namespace dovrel::bench

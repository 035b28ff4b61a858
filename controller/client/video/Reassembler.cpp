#include "controller/client/video/Reassembler.h"

#include <algorithm>

namespace dovrel::controller {

namespace {
// How far back a frame identifier may be and still count as one of this stream's past frames.
constexpr int32_t pastWindow = 1024;

bool before(uint32_t a, uint32_t b) {
    const auto behind = static_cast<int32_t>(b - a);
    return behind > 0 && behind < pastWindow;
}
} // namespace

Reassembler::Result Reassembler::add(const std::optional<wex::FragmentHeader>& header, wex::ByteView slice) {
    if (!header) return {Outcome::complete, wex::Bytes(slice.begin(), slice.end()), std::nullopt};
    const uint32_t id = header->frameId;
    const uint16_t count = header->fragCount;
    // A frame of no pieces has nothing to decode; a piece of one already handed on or dropped is late.
    if (count == 0 || finished(id, count)) return {};

    auto it = map_.find(id);
    if (it != map_.end() && it->second.count != count) {
        // The agent never changes a frame's piece count: this is another frame under the same
        // identifier, and the newer one is the one that can still complete.
        map_.erase(it);
        it = map_.end();
    }
    if (it == map_.end()) {
        if (count > maxPieces) {
            rememberFinished(id, count);
            return {Outcome::oversized, {}, std::nullopt};
        }
        Pending fresh;
        fresh.count = count;
        fresh.arrival = ++arrivals_;
        fresh.parts.resize(fresh.count);
        it = map_.emplace(id, std::move(fresh)).first;
    }
    Pending& p = it->second;

    // A repeated piece keeps its first copy.
    if (header->fragIndex < p.count && !p.parts[header->fragIndex]) {
        if (p.bytes + slice.size() > maxFrameBytes) {
            map_.erase(it);
            rememberFinished(id, count);
            return {Outcome::oversized, {}, std::nullopt};
        }
        p.parts[header->fragIndex] = wex::Bytes(slice.begin(), slice.end());
        p.bytes += slice.size();
        ++p.received;
    }

    if (p.received == p.count) {
        wex::Bytes whole;
        whole.reserve(p.bytes);
        for (const auto& part : p.parts)
            whole.insert(whole.end(), part->begin(), part->end());
        map_.erase(it);
        rememberFinished(id, count);
        return {Outcome::complete, std::move(whole), std::nullopt};
    }

    // Too many frames pending: the one whose first piece came longest ago goes. For the agent's
    // ever-growing identifiers that is the lowest; for identifiers in any other order it is still the
    // frame least likely to complete, and never one that has just begun.
    if (map_.size() >= maxPending) {
        auto oldest = map_.end();
        for (auto i = map_.begin(); i != map_.end(); ++i)
            if (i->first != id && (oldest == map_.end() || i->second.arrival < oldest->second.arrival)) oldest = i;
        Result r;
        r.pushedOut = takeBroken(oldest);
        return r;
    }
    return {};
}

std::vector<Reassembler::Broken> Reassembler::closeBefore(uint32_t frameId) {
    std::vector<Broken> out;
    if (map_.empty() || (map_.size() == 1 && map_.begin()->first == frameId)) return out;
    // Oldest first, in the stream's own order (identifiers may have wrapped).
    std::vector<uint32_t> ids;
    for (const auto& [id, p] : map_)
        if (before(id, frameId)) ids.push_back(id);
    std::sort(ids.begin(), ids.end(), [frameId](uint32_t a, uint32_t b) { return frameId - a > frameId - b; });
    for (const uint32_t id : ids)
        out.push_back(takeBroken(map_.find(id)));
    return out;
}

Reassembler::Broken Reassembler::takeBroken(std::map<uint32_t, Pending>::iterator it) {
    Broken b{it->first, std::move(it->second.parts)};
    rememberFinished(b.frameId, it->second.count);
    map_.erase(it);
    return b;
}

void Reassembler::clear() {
    map_.clear();
    finished_.clear();
}

std::size_t Reassembler::bytesHeld() const {
    std::size_t n = 0;
    for (const auto& [id, p] : map_)
        n += p.bytes;
    return n;
}

bool Reassembler::finished(uint32_t frameId, uint16_t count) const {
    return std::any_of(finished_.begin(), finished_.end(),
                       [&](const Finished& f) { return f.frameId == frameId && f.count == count; });
}

void Reassembler::rememberFinished(uint32_t frameId, uint16_t count) {
    std::erase_if(finished_, [&](const Finished& f) { return f.frameId == frameId; });
    if (finished_.size() == finishedMemory) finished_.erase(finished_.begin());
    finished_.push_back({frameId, count});
}

} // namespace dovrel::controller

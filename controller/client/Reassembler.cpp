#include "controller/client/Reassembler.h"

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
    // A frame of no pieces has nothing to decode; one already dropped stays dropped.
    if (wasDropped(id) || (closedBefore_ && before(id, *closedBefore_))) return {};

    auto it = map_.find(id);
    if (it == map_.end()) {
        if (header->fragCount == 0) return {};
        if (header->fragCount > maxPieces) {
            rememberDropped(id);
            return {Outcome::oversized, {}, std::nullopt};
        }
        Pending fresh;
        fresh.count = header->fragCount;
        fresh.parts.resize(fresh.count);
        it = map_.emplace(id, std::move(fresh)).first;
    }
    Pending& p = it->second;

    // A frame keeps the piece count of the first piece seen; a repeated piece keeps its first copy.
    if (header->fragIndex < p.count && !p.parts[header->fragIndex]) {
        if (p.bytes + slice.size() > maxFrameBytes) {
            map_.erase(it);
            rememberDropped(id);
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
        return {Outcome::complete, std::move(whole), std::nullopt};
    }

    // Too many frames pending: the oldest (lowest) goes, except that a brand-new frame lower than all the
    // others does not push out a newer one while the table is exactly full. Beyond full, the lowest goes
    // whatever it is, so no order of arrival makes the table hold more than maxPending frames.
    if (map_.size() >= maxPending) {
        const auto lowest = map_.begin();
        if (lowest->first != id || map_.size() > maxPending) {
            Result r;
            r.pushedOut = takeBroken(lowest);
            return r;
        }
    }
    return {};
}

std::vector<Reassembler::Broken> Reassembler::closeBefore(uint32_t frameId) {
    if (!closedBefore_ || !before(frameId, *closedBefore_)) closedBefore_ = frameId;
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
    map_.erase(it);
    rememberDropped(b.frameId);
    return b;
}

void Reassembler::clear() {
    map_.clear();
    dropped_.clear();
    closedBefore_.reset();
}

std::size_t Reassembler::bytesHeld() const {
    std::size_t n = 0;
    for (const auto& [id, p] : map_)
        n += p.bytes;
    return n;
}

bool Reassembler::wasDropped(uint32_t frameId) const {
    return std::find(dropped_.begin(), dropped_.end(), frameId) != dropped_.end();
}

void Reassembler::rememberDropped(uint32_t frameId) {
    if (dropped_.size() == droppedMemory) dropped_.erase(dropped_.begin());
    dropped_.push_back(frameId);
}

} // namespace dovrel::controller

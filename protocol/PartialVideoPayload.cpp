#include "protocol/PartialVideoPayload.h"

#include <algorithm>

#include "protocol/ByteReader.h"

namespace wex {

namespace {

// A unit's length field is followed by at least this many bytes before a slice can be recognised.
constexpr std::size_t sliceHeadBytes = 2;
// Enough units of a length chain agree that a spot after a gap is a unit's start.
constexpr int chainEvidence = 4;

// The payload as its pieces lay it out: piece i covers [i × size, i × size + its own length).
class PieceMap {
public:
    PieceMap(std::span<const std::optional<Bytes>> pieces, std::size_t pieceSize) : pieces_(pieces), size_(pieceSize) {
        const auto& last = pieces_.back();
        end_ = (pieces_.size() - 1) * size_ + (last ? last->size() : size_);
        endKnown_ = last.has_value();
    }

    // The payload's length, or where it ends at most when its last piece is missing.
    std::size_t end() const { return end_; }
    bool endKnown() const { return endKnown_; }

    bool received(std::size_t at, std::size_t len) const {
        if (len == 0) return at <= end_;
        if (at >= end_ || len > end_ - at) return false;
        for (std::size_t i = at / size_; i <= (at + len - 1) / size_; ++i)
            if (!pieces_[i]) return false;
        return true;
    }
    uint8_t byte(std::size_t at) const { return (*pieces_[at / size_])[at % size_]; }
    uint32_t u32(std::size_t at) const {
        uint32_t v = 0;
        for (std::size_t i = 0; i < 4; ++i)
            v = v << 8 | byte(at + i);
        return v;
    }
    Bytes copy(std::size_t at, std::size_t len) const {
        Bytes out;
        out.reserve(len);
        while (len > 0) {
            const Bytes& piece = *pieces_[at / size_];
            const std::size_t from = at % size_, n = std::min(len, piece.size() - from);
            out.insert(out.end(), piece.begin() + static_cast<std::ptrdiff_t>(from),
                       piece.begin() + static_cast<std::ptrdiff_t>(from + n));
            at += n;
            len -= n;
        }
        return out;
    }
    // The start of the next received piece after `at`, or the end.
    std::size_t nextReceived(std::size_t at) const {
        for (std::size_t i = at / size_ + 1; i < pieces_.size(); ++i)
            if (pieces_[i]) return i * size_;
        return end_;
    }

private:
    std::span<const std::optional<Bytes>> pieces_;
    std::size_t size_;
    std::size_t end_ = 0;
    bool endKnown_ = false;
};

// A unit of a slice starts at `at`, and the length chain from there runs to the payload's end or into
// the next gap, every unit on the way a slice too.
bool chainHolds(const PieceMap& m, VideoCodec codec, std::size_t at) {
    for (int hops = 0;; ++hops) {
        if (hops == chainEvidence) return true;
        if (at == m.end()) return hops > 0 && m.endKnown();
        if (!m.received(at, 4 + sliceHeadBytes)) return hops > 0;
        const std::size_t len = m.u32(at);
        if (len < sliceHeadBytes || len > m.end() - at - 4) return false;
        const uint8_t head[sliceHeadBytes] = {m.byte(at + 4), m.byte(at + 5)};
        if (!looksLikeSlice(codec, ByteView(head, sliceHeadBytes))) return false;
        at += 4 + len;
    }
}

// The first spot after the gap at `from` where a unit starts, by the evidence of its length chain.
std::optional<std::size_t> findUnitAfterGap(const PieceMap& m, VideoCodec codec, std::size_t from) {
    for (std::size_t at = from + 1; at + 4 + sliceHeadBytes <= m.end();) {
        if (!m.received(at, 4 + sliceHeadBytes)) {
            // The spot's bytes are not all there: go on at the next received piece, or the one after.
            const std::size_t next = m.nextReceived(at);
            at = next > at ? next : at + 1;
            continue;
        }
        // A length field below 2^16 starts with two zero bytes; no slice's own bytes hold 00 00 00.
        if (m.byte(at) == 0 && m.byte(at + 1) == 0 && chainHolds(m, codec, at)) return at;
        ++at;
    }
    return std::nullopt;
}

} // namespace

bool looksLikeSlice(VideoCodec codec, ByteView unit) {
    if (unit.size() < sliceHeadBytes || (unit[0] & 0x80) != 0) return false;
    const int type = nalType(codec, unit);
    if (codec == VideoCodec::h264) return type == 1 || (type == 5 && (unit[0] & 0x60) != 0);
    const int layer = (unit[0] & 1) << 5 | unit[1] >> 3, temporalIdPlus1 = unit[1] & 7;
    const bool vcl = type <= 9 || (type >= 16 && type <= 21);
    return vcl && layer == 0 && temporalIdPlus1 > 0;
}

std::optional<VideoNALPayload> salvageVideoNALPayload(std::span<const std::optional<Bytes>> pieces,
                                                      const std::optional<VideoNALHeader>& lostHeader) {
    if (pieces.empty()) return std::nullopt;
    const bool headerCame = pieces[0].has_value();
    if (!headerCame && !lostHeader) return std::nullopt;
    // Every piece but the last is full: the first received one that is not the last gives the size.
    std::size_t pieceSize = 0;
    for (std::size_t i = 0; i + 1 < pieces.size() && pieceSize == 0; ++i)
        if (pieces[i]) pieceSize = pieces[i]->size();
    if (pieces.size() == 1 && headerCame) pieceSize = pieces[0]->size();
    if (pieceSize < VideoNALHeader::size) return std::nullopt;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (!pieces[i]) continue;
        const bool last = i + 1 == pieces.size();
        if (last ? (pieces[i]->empty() || pieces[i]->size() > pieceSize) : pieces[i]->size() != pieceSize)
            return std::nullopt;
    }
    const PieceMap m(pieces, pieceSize);

    VideoNALPayload out;
    if (headerCame) {
        ByteReader r(*pieces[0]);
        out.header = VideoNALHeader::decode(r);
    } else {
        out.header = *lostHeader;
        out.header.nalCount = UINT16_MAX; // not known: as many as the pieces hold
    }
    const VideoCodec codec = out.header.nalFlags.contains(NALFlag::codecH264) ? VideoCodec::h264 : VideoCodec::hevc;

    std::size_t at = VideoNALHeader::size;
    // Units stepped over; after a gap that hid length fields, at least one for each such gap.
    std::size_t units = 0;
    while (units < out.header.nalCount && at < m.end()) {
        if (m.received(at, 4)) {
            const std::size_t len = m.u32(at);
            if (len > m.end() - at - 4) break; // no unit of this payload is that long
            if (len > 0 && m.received(at + 4, len)) out.nals.push_back(m.copy(at + 4, len));
            at += 4 + len;
            ++units;
            continue;
        }
        const auto next = findUnitAfterGap(m, codec, at);
        if (!next) break;
        at = *next;
        ++units;
    }
    if (out.nals.size() > out.header.nalCount) out.nals.resize(out.header.nalCount);
    if (!headerCame) out.header.nalCount = static_cast<uint16_t>(out.nals.size());
    return out;
}

} // namespace wex

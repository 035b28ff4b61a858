#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/Bytes.h"
#include "protocol/CommonHeader.h"
#include "protocol/SecureSession.h"
#include "protocol/Stream.h"

namespace dovrel::agent {

// Cuts one encoded video payload into the pieces that are sealed and sent one by one. A payload of at
// most 1000 bytes goes whole; a larger one goes in 1000-byte pieces, each behind a FragmentHeader
// (frame id, index, count), flagged `fragment`, the last one also `endFrag`.
namespace VideoPacketizer {

inline constexpr std::size_t pieceBytes = 1000;
// The piece count is 16 bits wide: 65535 pieces of 1000 bytes at most.
inline constexpr std::size_t maxPayloadBytes = 65535 * pieceBytes;

struct Piece {
    uint32_t seq = 0;
    wex::HeaderFlags flags; // extra header flags of the sealed frame
    wex::Bytes plaintext;   // what is sealed
    bool operator==(const Piece&) const = default;
};

// What a payload of `payloadBytes` takes on the wire once cut and sealed.
inline std::size_t wireBytes(std::size_t payloadBytes) {
    if (payloadBytes <= pieceBytes) return payloadBytes + wex::SecureSession::overhead;
    const std::size_t count = (payloadBytes + pieceBytes - 1) / pieceBytes;
    return payloadBytes + count * (wex::FragmentHeader::size + wex::SecureSession::overhead);
}

// The pieces in sending order. Takes sequence numbers from `seq` (wrapping) and advances it by the
// number of pieces. A payload above maxPayloadBytes cannot be described on the wire: it yields no
// pieces and leaves `seq` alone (the caller counts it as dropped and asks for a keyframe).
std::vector<Piece> pieces(uint32_t frameId, wex::ByteView payload, uint32_t& seq);

// The same cut without an allocation per piece: calls `send(seq, flags, plaintext)` for each piece in
// order, with `plaintext` valid only during the call. Returns the number of pieces (0 when too large).
template <typename Send> std::size_t forEachPiece(uint32_t frameId, wex::ByteView payload, uint32_t& seq, Send&& send);

} // namespace VideoPacketizer

namespace VideoPacketizer::detail {
void writeFragmentHeader(uint8_t* to, uint32_t frameId, uint16_t index, uint16_t count);
}

template <typename Send>
std::size_t VideoPacketizer::forEachPiece(uint32_t frameId, wex::ByteView payload, uint32_t& seq, Send&& send) {
    const std::size_t n = payload.size();
    if (n <= pieceBytes) {
        send(seq, wex::HeaderFlags{}, payload);
        seq += 1;
        return 1;
    }
    if (n > maxPayloadBytes) return 0;
    const std::size_t count = (n + pieceBytes - 1) / pieceBytes;
    uint8_t scratch[8 + pieceBytes];
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t from = i * pieceBytes;
        const std::size_t len = std::min(pieceBytes, n - from);
        detail::writeFragmentHeader(scratch, frameId, static_cast<uint16_t>(i), static_cast<uint16_t>(count));
        std::copy_n(payload.data() + from, len, scratch + 8);
        wex::HeaderFlags flags = wex::HeaderFlag::fragment;
        if (i + 1 == count) flags.insert(wex::HeaderFlag::endFrag);
        send(static_cast<uint32_t>(seq + i), flags, wex::ByteView(scratch, 8 + len));
    }
    seq += static_cast<uint32_t>(count);
    return count;
}

} // namespace dovrel::agent

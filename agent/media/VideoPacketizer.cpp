#include "agent/media/VideoPacketizer.h"

#include <algorithm>

namespace dovrel::agent::VideoPacketizer {

void detail::writeFragmentHeader(uint8_t* to, uint32_t frameId, uint16_t index, uint16_t count) {
    // The FragmentHeader's big-endian layout: frame id (4), index (2), count (2).
    to[0] = static_cast<uint8_t>(frameId >> 24);
    to[1] = static_cast<uint8_t>(frameId >> 16);
    to[2] = static_cast<uint8_t>(frameId >> 8);
    to[3] = static_cast<uint8_t>(frameId);
    to[4] = static_cast<uint8_t>(index >> 8);
    to[5] = static_cast<uint8_t>(index);
    to[6] = static_cast<uint8_t>(count >> 8);
    to[7] = static_cast<uint8_t>(count);
}

std::vector<Piece> pieces(uint32_t frameId, wex::ByteView payload, uint32_t& seq) {
    std::vector<Piece> out;
    out.reserve(payload.size() <= pieceBytes ? 1 : (payload.size() + pieceBytes - 1) / pieceBytes);
    forEachPiece(frameId, payload, seq, [&](uint32_t s, wex::HeaderFlags flags, wex::ByteView plaintext) {
        out.push_back(Piece{s, flags, wex::Bytes(plaintext.begin(), plaintext.end())});
    });
    return out;
}

} // namespace dovrel::agent::VideoPacketizer

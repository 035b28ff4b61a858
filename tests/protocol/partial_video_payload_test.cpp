// What survives of a cut video payload with pieces missing: whole units only, the walk finding the next
// unit after a lost length field, a stand-in for a lost header, and pieces that cannot be used at all.
#include <gtest/gtest.h>

#include "protocol/PartialVideoPayload.h"

using namespace wex;

namespace {

constexpr std::size_t pieceSize = 100;

// An H.264 slice of `n` bytes whose body is `fill` (never zero, as a slice's bytes never hold 00 00 00).
Bytes slice(std::size_t n, uint8_t fill) {
    Bytes b(n, fill);
    b[0] = 0x41; // non-IDR slice, referenced
    return b;
}

VideoNALPayload payload(std::vector<Bytes> nals) {
    VideoNALHeader h;
    h.frameId = 9;
    h.width = 640;
    h.height = 360;
    h.nalFlags = NALFlag::codecH264;
    h.nalCount = static_cast<uint16_t>(nals.size());
    return {h, std::move(nals)};
}

// The payload's pieces, without those in `lost`.
std::vector<std::optional<Bytes>> cut(const VideoNALPayload& p, std::initializer_list<std::size_t> lost) {
    const Bytes bytes = encodeVideoNALPayload(p.header, p.nals);
    std::vector<std::optional<Bytes>> pieces;
    for (std::size_t at = 0; at < bytes.size(); at += pieceSize)
        pieces.emplace_back(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                  bytes.begin() + static_cast<std::ptrdiff_t>(std::min(at + pieceSize, bytes.size()))));
    for (const std::size_t i : lost)
        pieces[i].reset();
    return pieces;
}

} // namespace

TEST(PartialVideoPayload, UnitsCutByAMissingPieceAreLeftOutTheOthersKept) {
    // Units at 20..64, 64..200, 200..264, 264..398: piece 1 (100..200) cuts only the second unit.
    const auto p = payload({slice(40, 1), slice(132, 2), slice(60, 3), slice(130, 4)});
    const auto all = salvageVideoNALPayload(cut(p, {}));
    ASSERT_TRUE(all);
    EXPECT_EQ(all->nals, p.nals);
    const auto got = salvageVideoNALPayload(cut(p, {1}));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->header, p.header);
    EXPECT_EQ(got->nals, (std::vector<Bytes>{p.nals[0], p.nals[2], p.nals[3]}));
}

TEST(PartialVideoPayload, AfterALostLengthFieldTheNextUnitIsFoundByItsLengthChain) {
    // Small units, several to a piece: piece 1 holds length fields, so the walk must find its way again.
    std::vector<Bytes> nals;
    for (uint8_t i = 0; i < 16; ++i)
        nals.push_back(slice(26, static_cast<uint8_t>(0x80 + i)));
    const auto p = payload(nals);
    const auto got = salvageVideoNALPayload(cut(p, {1}));
    ASSERT_TRUE(got);
    // Units 0-1 lie before the gap (20..80), 2-5 are cut or lost (80..200), 6 onwards lie after it.
    std::vector<Bytes> want = {nals[0], nals[1]};
    want.insert(want.end(), nals.begin() + 6, nals.end());
    EXPECT_EQ(got->nals, want);
    // Without its last piece the tail is unknown: units that reach into it are left out too.
    const auto headless = salvageVideoNALPayload(cut(p, {1, 4}));
    ASSERT_TRUE(headless);
    want.erase(want.end() - 4, want.end()); // units 12-15 (380..500)
    EXPECT_EQ(headless->nals, want);
}

TEST(PartialVideoPayload, NothingWithoutTheFirstPieceOrFromPiecesOfUnequalSize) {
    const auto p = payload({slice(150, 1), slice(150, 2)});
    EXPECT_FALSE(salvageVideoNALPayload(cut(p, {0})));
    auto pieces = cut(p, {});
    pieces[1]->pop_back();
    EXPECT_FALSE(salvageVideoNALPayload(pieces));
    EXPECT_FALSE(salvageVideoNALPayload(std::vector<std::optional<Bytes>>{}));
    // A length field that runs past the payload's end stops the walk; what came before stays.
    auto bad = payload({slice(30, 1), slice(30, 2)});
    Bytes bytes = encodeVideoNALPayload(bad.header, bad.nals);
    bytes[20 + 4 + 30 + 1] = 0x7f;
    const auto got = salvageVideoNALPayload(std::vector<std::optional<Bytes>>{bytes});
    ASSERT_TRUE(got);
    EXPECT_EQ(got->nals, (std::vector<Bytes>{bad.nals[0]}));
}

TEST(PartialVideoPayload, WithoutTheFirstPieceAStandInHeaderLetsTheUnitsAfterItThrough) {
    std::vector<Bytes> nals;
    for (uint8_t i = 0; i < 10; ++i)
        nals.push_back(slice(26, static_cast<uint8_t>(0x80 + i)));
    const auto p = payload(nals); // units at 20, 50, ... 290: units 0-2 touch piece 0
    VideoNALHeader standIn = p.header;
    standIn.frameId = 8;
    standIn.nalCount = 0;
    const auto got = salvageVideoNALPayload(cut(p, {0}), standIn);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->header.frameId, 8u);
    EXPECT_EQ(got->nals, std::vector<Bytes>(nals.begin() + 3, nals.end()));
    EXPECT_EQ(got->header.nalCount, 7u);
}

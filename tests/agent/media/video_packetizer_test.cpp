#include <map>
#include <random>

#include <gtest/gtest.h>

#include "agent/media/VideoPacketizer.h"
#include "protocol/ByteReader.h"
#include "protocol/CommonHeader.h"

using namespace dovrel::agent;
using wex::Bytes;
using wex::HeaderFlag;
using wex::HeaderFlags;

namespace {

Bytes pattern(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(i * 7 + 3);
    return b;
}

// What the controller does with the pieces of one frame: checks each header and joins the bytes.
Bytes reassemble(const std::vector<VideoPacketizer::Piece>& pieces, uint32_t frameId) {
    Bytes out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        wex::ByteReader r(pieces[i].plaintext);
        const wex::FragmentHeader h = wex::FragmentHeader::decode(r);
        EXPECT_EQ(h.frameId, frameId);
        EXPECT_EQ(h.fragIndex, i);
        EXPECT_EQ(h.fragCount, pieces.size());
        EXPECT_TRUE(pieces[i].flags.contains(HeaderFlag::fragment));
        EXPECT_EQ(pieces[i].flags.contains(HeaderFlag::endFrag), i + 1 == pieces.size());
        out.insert(out.end(), pieces[i].plaintext.begin() + 8, pieces[i].plaintext.end());
    }
    return out;
}

} // namespace

TEST(VideoPacketizer, PayloadsUpToAThousandBytesGoWholeWithoutAFragmentHeader) {
    for (const std::size_t n : {0u, 1u, 999u, 1000u}) {
        uint32_t seq = 41;
        const Bytes payload = pattern(n);
        const auto pieces = VideoPacketizer::pieces(7, payload, seq);
        ASSERT_EQ(pieces.size(), 1u) << n;
        EXPECT_EQ(pieces[0].seq, 41u);
        EXPECT_TRUE(pieces[0].flags.empty());
        EXPECT_EQ(pieces[0].plaintext, payload);
        EXPECT_EQ(seq, 42u);
    }
}

TEST(VideoPacketizer, OneByteOverIsCutInTwoWithTheEndFlagOnTheLast) {
    uint32_t seq = 100;
    const Bytes payload = pattern(1001);
    const auto pieces = VideoPacketizer::pieces(0xA1B2C3D4, payload, seq);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].plaintext.size(), 1008u);
    EXPECT_EQ(pieces[1].plaintext.size(), 9u);
    // Frame id, index and count, big-endian, in front of each piece.
    EXPECT_EQ(Bytes(pieces[0].plaintext.begin(), pieces[0].plaintext.begin() + 8),
              (Bytes{0xA1, 0xB2, 0xC3, 0xD4, 0, 0, 0, 2}));
    EXPECT_EQ(Bytes(pieces[1].plaintext.begin(), pieces[1].plaintext.begin() + 8),
              (Bytes{0xA1, 0xB2, 0xC3, 0xD4, 0, 1, 0, 2}));
    EXPECT_EQ(pieces[0].flags, HeaderFlags{HeaderFlag::fragment});
    EXPECT_EQ(pieces[1].flags, (HeaderFlags{HeaderFlag::fragment, HeaderFlag::endFrag}));
    EXPECT_EQ(pieces[0].seq, 100u);
    EXPECT_EQ(pieces[1].seq, 101u);
    EXPECT_EQ(seq, 102u);
    EXPECT_EQ(reassemble(pieces, 0xA1B2C3D4), payload);
}

TEST(VideoPacketizer, ExactMultiplesFillEveryPiece) {
    uint32_t seq = 0;
    const auto pieces = VideoPacketizer::pieces(1, pattern(2000), seq);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].plaintext.size(), 1008u);
    EXPECT_EQ(pieces[1].plaintext.size(), 1008u);
    EXPECT_TRUE(pieces[1].flags.contains(HeaderFlag::endFrag));
}

TEST(VideoPacketizer, SequenceNumbersWrapAcrossAFrame) {
    uint32_t seq = 4294967295u;
    const auto pieces = VideoPacketizer::pieces(9, pattern(2500), seq);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].seq, 4294967295u);
    EXPECT_EQ(pieces[1].seq, 0u);
    EXPECT_EQ(pieces[2].seq, 1u);
    EXPECT_EQ(seq, 2u);
}

TEST(VideoPacketizer, RandomPayloadsReassembleExactly) {
    std::mt19937 rng(7);
    uint32_t seq = 5;
    for (int round = 0; round < 200; ++round) {
        const std::size_t n = std::uniform_int_distribution<std::size_t>(1001, 60000)(rng);
        Bytes payload(n);
        for (auto& b : payload)
            b = static_cast<uint8_t>(rng());
        const uint32_t before = seq;
        const auto pieces = VideoPacketizer::pieces(static_cast<uint32_t>(round), payload, seq);
        EXPECT_EQ(pieces.size(), (n + 999) / 1000);
        EXPECT_EQ(seq - before, pieces.size());
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            EXPECT_EQ(pieces[i].seq, before + i);
            EXPECT_LE(pieces[i].plaintext.size(), 1008u);
        }
        ASSERT_EQ(reassemble(pieces, static_cast<uint32_t>(round)), payload);
    }
}

TEST(VideoPacketizer, TheVisitorCutsLikeTheListAndCountsThePieces) {
    const Bytes payload = pattern(4321);
    uint32_t a = 77, b = 77;
    const auto listed = VideoPacketizer::pieces(3, payload, a);
    std::vector<VideoPacketizer::Piece> visited;
    const std::size_t n = VideoPacketizer::forEachPiece(3, payload, b, [&](uint32_t s, HeaderFlags f, wex::ByteView p) {
        visited.push_back({s, f, Bytes(p.begin(), p.end())});
    });
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(visited, listed);
    EXPECT_EQ(a, b);
}

TEST(VideoPacketizer, TheLargestDescribablePayloadUsesAllPieceNumbersAndOneMoreByteIsRefused) {
    const Bytes payload(VideoPacketizer::maxPayloadBytes + 1, 0x5A);
    uint32_t seq = 10;
    std::size_t calls = 0;
    uint16_t lastIndex = 0, lastCount = 0;
    const wex::ByteView largest(payload.data(), VideoPacketizer::maxPayloadBytes);
    EXPECT_EQ(VideoPacketizer::forEachPiece(1, largest, seq,
                                            [&](uint32_t, HeaderFlags, wex::ByteView p) {
                                                ++calls;
                                                wex::ByteReader r(p);
                                                const auto h = wex::FragmentHeader::decode(r);
                                                lastIndex = h.fragIndex;
                                                lastCount = h.fragCount;
                                            }),
              65535u);
    EXPECT_EQ(calls, 65535u);
    EXPECT_EQ(lastIndex, 65534);
    EXPECT_EQ(lastCount, 65535);
    EXPECT_EQ(seq, 10u + 65535u);

    // A count of 65536 would wrap to 0 on the wire: such a payload is not sent at all.
    EXPECT_TRUE(VideoPacketizer::pieces(2, payload, seq).empty());
    EXPECT_EQ(seq, 10u + 65535u);
}

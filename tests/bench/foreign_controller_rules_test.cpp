#include <gtest/gtest.h>

#include "bench/ForeignControllerRules.h"

using namespace dovrel::bench;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

wex::FragmentHeader piece(uint32_t frameId, uint16_t index, uint16_t count) { return {frameId, index, count}; }
wex::Bytes bytes(std::initializer_list<uint8_t> b) { return b; }

} // namespace

TEST(PieceReassembler, PiecesInAnyOrderMakeOnePayloadOnlyWhenAllCame) {
    PieceReassembler r;
    EXPECT_EQ(r.add(std::nullopt, bytes({9, 8})), bytes({9, 8})); // in one piece: whole at once
    EXPECT_EQ(r.pending(), 0u);
    EXPECT_FALSE(r.add(piece(5, 2, 3), bytes({3})));
    EXPECT_FALSE(r.add(piece(5, 0, 3), bytes({1})));
    // A repeated piece stores nothing (the first copy stays) and completes nothing; an index beyond the
    // count is ignored, as is another count.
    EXPECT_FALSE(r.add(piece(5, 0, 3), bytes({7})));
    EXPECT_FALSE(r.add(piece(5, 3, 4), bytes({7})));
    EXPECT_EQ(r.add(piece(5, 1, 3), bytes({2})), bytes({1, 2, 3}));
    EXPECT_EQ(r.pending(), 0u);
}

TEST(PieceReassembler, TooManyUnfinishedPayloadsGiveUpTheLowestButNeverTheNewest) {
    PieceReassembler r;
    for (uint32_t id = 100; id < 124; ++id)
        r.add(piece(id, 0, 2), bytes({1}));
    ASSERT_EQ(r.pending(), 24u);
    r.add(piece(200, 0, 2), bytes({1}));
    EXPECT_EQ(r.pending(), 24u);
    // Payload 100 went: its last piece now starts it afresh instead of completing it.
    EXPECT_FALSE(r.add(piece(100, 1, 2), bytes({2})));
    // A payload lower than every pending one is itself the lowest, and stays.
    PieceReassembler low;
    for (uint32_t id = 100; id < 124; ++id)
        low.add(piece(id, 0, 2), bytes({1}));
    low.add(piece(50, 0, 2), bytes({1}));
    EXPECT_EQ(low.pending(), 25u);
    EXPECT_EQ(low.add(piece(50, 1, 2), bytes({2})), bytes({1, 2}));
}

TEST(KeyframeAsking, AGapInDecodedPayloadsAsksAtMostEvery250Ms) {
    KeyframeAsking k;
    const auto t0 = Clock::now();
    k.asked(t0); // right after AuthOk
    // The first payload of the session never asks, whatever its identifier.
    EXPECT_FALSE(k.payload(10, t0 + 1s));
    EXPECT_FALSE(k.payload(11, t0 + 1s + 16ms));
    EXPECT_TRUE(k.payload(13, t0 + 1s + 50ms));
    EXPECT_FALSE(k.payload(15, t0 + 1s + 300ms)); // 250 ms after the last ask, and not more
    EXPECT_TRUE(k.payload(17, t0 + 1s + 301ms));
    // A late frame moves the identifier back; the next in order is no gap.
    EXPECT_FALSE(k.payload(16, t0 + 2s));
    EXPECT_FALSE(k.payload(17, t0 + 2s + 16ms));
}

TEST(KeyframeAsking, TicksWithoutNewPicturesAskOnTheSecondThenEvery900MsAtMost) {
    KeyframeAsking k;
    const auto t0 = Clock::now();
    k.asked(t0);
    EXPECT_FALSE(k.tick(30, t0 + 1s));
    EXPECT_FALSE(k.tick(30, t0 + 2s)); // one tick without a new picture
    EXPECT_TRUE(k.tick(30, t0 + 3s));  // two
    EXPECT_FALSE(k.tick(30, t0 + 3s + 900ms));
    EXPECT_TRUE(k.tick(30, t0 + 3s + 901ms));
    // A new picture starts the count again.
    EXPECT_FALSE(k.tick(31, t0 + 5s));
    EXPECT_FALSE(k.tick(31, t0 + 6s));
    // An ask for a gap counts for the tick's spacing too.
    EXPECT_FALSE(k.payload(40, t0 + 6s + 500ms));
    EXPECT_TRUE(k.payload(42, t0 + 6s + 600ms));
    EXPECT_FALSE(k.tick(31, t0 + 7s));
}

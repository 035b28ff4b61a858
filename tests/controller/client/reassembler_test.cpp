// Putting fragmented video payloads back together: order, loss, duplicates, eviction at 25 pending
// frames, the size caps, and a new session's identifiers.
#include <gtest/gtest.h>

#include "controller/client/video/Reassembler.h"

using namespace dovrel::controller;
using Outcome = Reassembler::Outcome;

namespace {

wex::FragmentHeader piece(uint32_t frame, uint16_t index, uint16_t count) { return {frame, index, count}; }

wex::Bytes bytes(std::initializer_list<uint8_t> b) { return wex::Bytes(b); }

// Pieces of a frame whose piece i holds the single byte i.
Reassembler::Result add(Reassembler& r, uint32_t frame, uint16_t index, uint16_t count) {
    const uint8_t b = static_cast<uint8_t>(index);
    return r.add(piece(frame, index, count), wex::ByteView(&b, 1));
}

} // namespace

TEST(Reassembler, AnUnfragmentedPayloadPassesWholeWithoutTouchingTheTable) {
    Reassembler r;
    const auto res = r.add(std::nullopt, bytes({1, 2, 3}));
    EXPECT_EQ(res.outcome, Outcome::complete);
    EXPECT_EQ(res.payload, bytes({1, 2, 3}));
    EXPECT_EQ(r.pendingFrames(), 0u);
}

TEST(Reassembler, PiecesInAnyOrderJoinInIndexOrderOnTheLastOne) {
    struct Case {
        const char* name;
        std::vector<uint16_t> order; // indices as they arrive; the frame has 3 pieces
        std::size_t completesAt;     // position in `order` of the completing piece
    };
    const std::vector<Case> cases = {
        {"in order", {0, 1, 2}, 2},
        {"reversed", {2, 1, 0}, 2},
        {"2, 0, 1", {2, 0, 1}, 2},
        {"duplicate of 0 before the end", {2, 0, 0, 1}, 3},
        {"duplicates after each", {1, 1, 2, 2, 0}, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reassembler r;
        for (std::size_t i = 0; i < c.order.size(); ++i) {
            const auto res = add(r, 7, c.order[i], 3);
            if (i < c.completesAt) {
                EXPECT_EQ(res.outcome, Outcome::incomplete) << "piece " << i;
                EXPECT_TRUE(r.isPending(7));
            } else {
                ASSERT_EQ(res.outcome, Outcome::complete);
                EXPECT_EQ(res.payload, bytes({0, 1, 2}));
            }
        }
        EXPECT_EQ(r.pendingFrames(), 0u);
    }
}

TEST(Reassembler, ARepeatedPieceKeepsItsFirstCopyAndAnotherCountIsAnotherFrame) {
    Reassembler r;
    EXPECT_EQ(r.add(piece(1, 0, 2), bytes({0xAA})).outcome, Outcome::incomplete);
    EXPECT_EQ(r.add(piece(1, 0, 2), bytes({0xBB})).outcome, Outcome::incomplete);
    auto res = r.add(piece(1, 1, 2), bytes({0xDD}));
    ASSERT_EQ(res.outcome, Outcome::complete);
    EXPECT_EQ(res.payload, bytes({0xAA, 0xDD}));
    // Its late copies start nothing.
    EXPECT_EQ(r.add(piece(1, 0, 2), bytes({0xAA})).outcome, Outcome::incomplete);
    EXPECT_FALSE(r.isPending(1));

    // A piece naming another count is a new frame under the same identifier: it starts afresh.
    r.add(piece(2, 0, 3), bytes({0x01}));
    EXPECT_EQ(r.add(piece(2, 1, 2), bytes({0x22})).outcome, Outcome::incomplete);
    res = r.add(piece(2, 0, 2), bytes({0x11}));
    ASSERT_EQ(res.outcome, Outcome::complete);
    EXPECT_EQ(res.payload, bytes({0x11, 0x22}));
}

TEST(Reassembler, LostPiecesLeaveTheFrameWaitingWhileLaterFramesComplete) {
    Reassembler r;
    add(r, 10, 0, 3); // piece 1 and 2 never come
    add(r, 11, 0, 2);
    EXPECT_EQ(add(r, 11, 1, 2).outcome, Outcome::complete);
    EXPECT_TRUE(r.isPending(10));
    EXPECT_FALSE(r.isPending(11));
    EXPECT_EQ(r.pendingFrames(), 1u);
}

TEST(Reassembler, WithTwentyFivePendingTheOldestGoesWhateverItsIdentifier) {
    struct Case {
        const char* name;
        uint32_t newFrame;
        std::size_t pendingAfter;
        bool lowestOldStays; // frame 100
        bool newStays;
    };
    // 24 incomplete frames 100..123 pending, then one piece of `newFrame`.
    const std::vector<Case> cases = {
        {"a new higher frame pushes out the lowest", 200, 24, false, true},
        {"a new frame lower than all pushes out the oldest too", 50, 24, false, true},
        {"a piece of a pending frame changes nothing", 110, 24, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reassembler r;
        for (uint32_t id = 100; id < 124; ++id)
            add(r, id, 0, 2);
        ASSERT_EQ(r.pendingFrames(), 24u);
        add(r, c.newFrame, 0, 3);
        EXPECT_EQ(r.pendingFrames(), c.pendingAfter);
        EXPECT_EQ(r.isPending(100), c.lowestOldStays);
        EXPECT_EQ(r.isPending(c.newFrame), c.newStays);
    }
}

TEST(Reassembler, NoOrderOfArrivalHoldsMoreThanTwentyFiveFrames) {
    Reassembler r;
    // Ever lower identifiers: each is the lowest when it comes.
    for (uint32_t id = 1000; id > 900; --id)
        add(r, id, 0, 2);
    EXPECT_LE(r.pendingFrames(), Reassembler::maxPending);
    // Then ever higher ones.
    for (uint32_t id = 2000; id < 2100; ++id)
        add(r, id, 0, 2);
    EXPECT_LE(r.pendingFrames(), Reassembler::maxPending);
    EXPECT_TRUE(r.isPending(2099));
    EXPECT_FALSE(r.isPending(1000));
}

TEST(Reassembler, AFrameOverThePieceOrByteCapIsDroppedWithItsLaterPieces) {
    Reassembler r;
    // Too many pieces announced: dropped at its first piece.
    const auto tooMany = static_cast<uint16_t>(Reassembler::maxPieces + 1);
    EXPECT_EQ(add(r, 5, 0, tooMany).outcome, Outcome::oversized);
    EXPECT_EQ(add(r, 5, 1, tooMany).outcome, Outcome::incomplete);
    EXPECT_FALSE(r.isPending(5));

    // Pieces larger than the agent's: the frame grows past the byte cap and goes, once.
    const wex::Bytes big(60000, 0x11);
    const uint16_t count = 100;
    Outcome last = Outcome::incomplete;
    int oversized = 0;
    for (uint16_t i = 0; i < count; ++i) {
        last = r.add(piece(6, i, count), big).outcome;
        oversized += last == Outcome::oversized ? 1 : 0;
        EXPECT_LE(r.bytesHeld(), Reassembler::maxFrameBytes);
    }
    EXPECT_EQ(oversized, 1);
    EXPECT_FALSE(r.isPending(6));
    EXPECT_EQ(r.bytesHeld(), 0u);

    // A frame at the cap itself is fine.
    const std::size_t n = Reassembler::maxFrameBytes / 1000;
    Reassembler ok;
    Reassembler::Result res;
    const wex::Bytes k(1000, 0x22);
    for (std::size_t i = 0; i < n; ++i)
        res = ok.add(piece(9, static_cast<uint16_t>(i), static_cast<uint16_t>(n)), k);
    EXPECT_EQ(res.outcome, Outcome::complete);
    EXPECT_EQ(res.payload.size(), n * 1000);
}

TEST(Reassembler, AFrameOfNoPiecesIsNothingAndClearForgetsEverything) {
    Reassembler r;
    EXPECT_EQ(r.add(piece(3, 0, 0), bytes({1})).outcome, Outcome::incomplete);
    EXPECT_EQ(r.pendingFrames(), 0u);

    // A session's frames 500.. pending; the next session starts again at 1.
    for (uint32_t id = 500; id < 520; ++id)
        add(r, id, 0, 2);
    EXPECT_EQ(add(r, 7, 0, static_cast<uint16_t>(Reassembler::maxPieces + 1)).outcome, Outcome::oversized);
    r.clear();
    EXPECT_EQ(r.pendingFrames(), 0u);
    EXPECT_EQ(r.bytesHeld(), 0u);
    // Frame 7 is not remembered as dropped any more.
    add(r, 7, 0, 2);
    EXPECT_EQ(add(r, 7, 1, 2).outcome, Outcome::complete);
}

TEST(Reassembler, FramesClosedBeforeANewerOneComeBackWithTheirPiecesAndIgnoreLatePieces) {
    Reassembler r;
    add(r, 5010, 0, 3); // piece 1 never comes
    add(r, 5010, 2, 3);
    add(r, 5012, 1, 2);
    add(r, 5014, 0, 2); // a newer frame stays
    const auto closed = r.closeBefore(5013);
    ASSERT_EQ(closed.size(), 2u);
    EXPECT_EQ(closed[0].frameId, 5010u);
    ASSERT_EQ(closed[0].pieces.size(), 3u);
    EXPECT_EQ(closed[0].pieces[0], bytes({0}));
    EXPECT_FALSE(closed[0].pieces[1]);
    EXPECT_EQ(closed[0].pieces[2], bytes({2}));
    EXPECT_EQ(closed[1].frameId, 5012u);
    EXPECT_TRUE(r.isPending(5014));
    EXPECT_EQ(r.pendingFrames(), 1u);
    // Their late pieces start nothing; a frame never seen is no late piece (the decoder decides whether
    // it is too old to show).
    EXPECT_EQ(add(r, 5010, 1, 3).outcome, Outcome::incomplete);
    EXPECT_EQ(r.pendingFrames(), 1u);
    EXPECT_EQ(add(r, 5011, 0, 1).outcome, Outcome::complete);
    // The agent counting from 1 again is no late frame.
    EXPECT_EQ(add(r, 1, 0, 1).outcome, Outcome::complete);
}

TEST(Reassembler, AFramePushedOutComesBackWithItsPieces) {
    Reassembler r;
    for (uint32_t id = 100; id < 124; ++id)
        add(r, id, 0, 2);
    const auto res = add(r, 200, 0, 3);
    ASSERT_TRUE(res.pushedOut);
    EXPECT_EQ(res.pushedOut->frameId, 100u);
    EXPECT_EQ(res.pushedOut->pieces, (std::vector<std::optional<wex::Bytes>>{bytes({0}), std::nullopt}));
    // Its last piece comes too late and starts nothing.
    add(r, 100, 1, 2);
    EXPECT_FALSE(r.isPending(100));
}

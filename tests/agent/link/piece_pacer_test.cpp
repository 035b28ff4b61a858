// A picture's pieces paced a little above the budget: small pictures leave at once, a big one is spread
// so that no stretch of it goes faster than the pace beyond the burst; pieces leave in order, only to
// the session they were sealed for, and nothing is admitted that could not leave within the bound, a
// keyframe neither.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "agent/link/PiecePacer.h"
#include "protocol/SecureSession.h"

using namespace dovrel;
using namespace dovrel::agent;
using namespace std::chrono_literals;

namespace {

constexpr std::size_t piece = 1044; // a sealed video piece on the wire

double seconds(Duration d) { return std::chrono::duration<double>(d).count(); }

} // namespace

TEST(PaceSchedule, ABigPictureIsSpreadAtThePaceWhileSmallOnesLeaveAtOnce) {
    PaceSchedule pace;
    const int64_t rate = 3600000; // 1.2 times a budget of 3 Mbit/s
    pace.setRate(rate);
    const double bytesPerSecond = static_cast<double>(rate) / 8;
    const double burstBytes = bytesPerSecond * seconds(PaceSchedule::burst);
    const Instant t0{std::chrono::hours(1)};

    // An average picture at 30 pictures a second goes out back to back.
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(pace.slot(t0, piece), t0) << "piece " << i;

    // A keyframe of sixty pieces a picture interval later: the bucket is nearly full again, and what
    // goes beyond it is spread.
    const Instant t1 = t0 + 33ms;
    std::vector<Instant> slots;
    for (int i = 0; i < 60; ++i)
        slots.push_back(pace.slot(t1, piece));
    EXPECT_EQ(slots.front(), t1);
    EXPECT_TRUE(std::is_sorted(slots.begin(), slots.end()));
    for (std::size_t i = 0; i < slots.size(); ++i)
        for (std::size_t j = i + 1; j < slots.size(); ++j)
            EXPECT_LE(static_cast<double>((j - i) * piece),
                      bytesPerSecond * seconds(slots[j] - slots[i]) + burstBytes + piece)
                << "pieces " << i << " to " << j;
    const double spread = seconds(slots.back() - t1);
    EXPECT_GE(spread, (59.0 * piece - burstBytes) / bytesPerSecond - 0.001);
    EXPECT_LE(spread, (60.0 * piece) / bytesPerSecond);
}

namespace {

// What the pacer handed to the route, in order, and when.
struct Routed {
    std::mutex lock;
    std::vector<std::pair<uint8_t, Instant>> pieces;
    std::atomic<bool> current{true};

    PiecePacer pacer{[this](const SendTarget&, wex::Bytes&& p) {
                         const std::lock_guard g(lock);
                         pieces.emplace_back(p[0], std::chrono::steady_clock::now());
                         return true;
                     },
                     [this](const SendTarget&) { return current.load(); }};

    std::size_t count() {
        const std::lock_guard g(lock);
        return pieces.size();
    }
};

bool waitUntil(const std::function<bool()>& done) {
    const Instant until = std::chrono::steady_clock::now() + 30s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::vector<wex::Bytes> picture(uint8_t first, std::size_t count) {
    std::vector<wex::Bytes> out;
    for (std::size_t i = 0; i < count; ++i)
        out.emplace_back(piece, static_cast<uint8_t>(first + i));
    return out;
}

} // namespace

TEST(PiecePacer, PiecesLeaveInOrderAtTheirTimeOnlyForTheirSession) {
    Routed routed;
    const auto target = std::make_shared<SendTarget>();
    const int64_t budget = 1000000;
    routed.pacer.setBudget(budget);
    const double bytesPerSecond = budget * PiecePacer::aboveBudget / 8;

    // Two pictures, the first bigger than the burst: all of them, in the order handed over, the last
    // no sooner than the pace allows.
    const Instant begun = std::chrono::steady_clock::now();
    auto handed = routed.pacer.send(target, picture(0, 40));
    EXPECT_EQ(handed.pieces, 40u);
    EXPECT_EQ(handed.dropped, 0u);
    EXPECT_GT(routed.pacer.backlog(), 0u);
    routed.pacer.send(target, picture(40, 5));
    ASSERT_TRUE(waitUntil([&] { return routed.count() >= 45; }));
    {
        const std::lock_guard g(routed.lock);
        for (std::size_t i = 0; i < routed.pieces.size(); ++i)
            EXPECT_EQ(routed.pieces[i].first, i);
        const double burstBytes = bytesPerSecond * seconds(PaceSchedule::burst);
        EXPECT_GE(seconds(routed.pieces.back().second - begun), (44.0 * piece - burstBytes) / bytesPerSecond - 0.002);
    }
    EXPECT_EQ(routed.pacer.backlog(), 0u);

    // The session ends: of a big picture, what had to wait is not sent.
    routed.current = false;
    const std::size_t before = routed.count();
    routed.pacer.send(target, picture(100, 60));
    ASSERT_TRUE(waitUntil([&] { return routed.pacer.backlog() == 0; }));
    const std::size_t burstPieces = static_cast<std::size_t>(bytesPerSecond * seconds(PaceSchedule::burst) / piece) + 1;
    EXPECT_LE(routed.count() - before, burstPieces);
}

TEST(PiecePacer, NothingWaitsLongerThanTheBoundAKeyframeNeitherAndANewSessionFindsNothingOfTheOld) {
    Routed routed;
    const auto first = std::make_shared<SendTarget>();
    first->session = std::make_shared<wex::SecureSession>(wex::SessionKeys{}, wex::Direction::agentToClient);
    const int64_t budget = 1000000;
    routed.pacer.setBudget(budget);
    const double bytesPerSecond = budget * PiecePacer::aboveBudget / 8;
    const auto piecesWithin = [&](std::chrono::milliseconds t) {
        return static_cast<std::size_t>((bytesPerSecond * seconds(t) + bytesPerSecond * seconds(PaceSchedule::burst)) /
                                        piece);
    };

    // A picture that would take longer than the bound to leave is not admitted, however empty the queue;
    // a keyframe that finds nothing waiting is: the stream cannot go on without one.
    EXPECT_FALSE(routed.pacer.admits(first, (piecesWithin(PiecePacer::longestWait) + 5) * piece));
    EXPECT_TRUE(routed.pacer.admits(first, (piecesWithin(PiecePacer::longestWait) + 5) * piece, true));
    // One that fits is; behind it, a picture is admitted only while its last piece would still leave
    // within the bound.
    const std::size_t keyframe = piecesWithin(PiecePacer::longestWait) * 3 / 4;
    ASSERT_TRUE(routed.pacer.admits(first, keyframe * piece));
    routed.pacer.send(first, picture(0, keyframe));
    EXPECT_TRUE(routed.pacer.admits(first, 3 * piece));
    EXPECT_FALSE(routed.pacer.admits(first, keyframe * piece));
    EXPECT_FALSE(routed.pacer.admits(first, keyframe * piece, true)) << "a keyframe waits behind nothing else";

    // Another session's picture: what waits of the first is dropped, not sent ahead of it.
    const auto second = std::make_shared<SendTarget>();
    second->session = std::make_shared<wex::SecureSession>(wex::SessionKeys{}, wex::Direction::agentToClient);
    EXPECT_TRUE(routed.pacer.admits(second, keyframe * piece));
    EXPECT_EQ(routed.pacer.backlog(), 0u);
}

// The gate that leaves pictures out below the capture rate spaces what it lets through by the pictures'
// capture times: a capture that comes late or in bursts is still spread evenly, not every n-th picture
// (a held picture going in its slot is checked on the pipeline, send_rate_test).
#include <random>

#include <gtest/gtest.h>

#include "agent/media/PictureGate.h"

using namespace dovrel;
using namespace dovrel::agent;
using namespace std::chrono_literals;

namespace {

CapturedFrame at(Instant t) {
    static const uint8_t pixel = 0;
    CapturedFrame f;
    f.width = f.height = 1;
    f.planes = {&pixel, nullptr, nullptr};
    f.capturedAt = t;
    return f;
}

// Offers each capture time in turn, releasing a held picture whenever its time comes before the next
// capture: the capture times of what went through.
std::vector<Instant> through(PictureGate& gate, const std::vector<Instant>& captured) {
    std::vector<Instant> out;
    for (const Instant t : captured) {
        if (const auto due = gate.heldUntil(); due && *due <= t)
            if (const auto f = gate.release(*due)) out.push_back(f->capturedAt);
        if (gate.offer(at(t))) out.push_back(t);
    }
    return out;
}

} // namespace

TEST(PictureGate, PicturesGoEvenlySpacedByTheirCaptureTimesAtTheRateAskedAndAllAtTheCaptureRate) {
    const Instant t0 = Instant{} + 1h;
    // 60 a second for ten seconds, each captured up to 3 ms late, in bursts now and then.
    std::mt19937 rng(7);
    std::vector<Instant> captured;
    for (int i = 0; i < 600; ++i) {
        const auto late = std::chrono::microseconds(rng() % 3000 + (i % 50 < 3 ? 12000 : 0));
        captured.push_back(t0 + std::chrono::microseconds(16667) * i + late);
    }
    for (const int fps : {10, 20, 25, 30, 45}) {
        SCOPED_TRACE(fps);
        PictureGate gate;
        gate.setRate(fps, 60);
        const std::vector<Instant> out = through(gate, captured);
        EXPECT_NEAR(static_cast<double>(out.size()), fps * 10, fps * 10 * 0.05);
        const Duration interval = 1s / fps;
        for (std::size_t i = 1; i < out.size(); ++i)
            ASSERT_GE(out[i] - out[i - 1], interval - interval / 8 - 3ms) << "picture " << i;
    }
    PictureGate open;
    open.setRate(60, 60);
    EXPECT_EQ(through(open, captured).size(), captured.size());
    // A capture time older than the last (a repeat stamped when sent, then the producer's own) goes too.
    EXPECT_TRUE(open.offer(at(t0 + 5s)));
    EXPECT_TRUE(open.offer(at(t0 + 4s)));
}

// The queue that carries sealed video and audio from capture threads to the relay link: order, the
// socket backlog gate, bounded memory with dropping and one keyframe request per episode, closing, and
// many pushing threads at once.

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "TlsPeer.h"
#include "agent/net/TransportMediaQueue.h"

using dovrel::SerialQueue;
using dovrel::agent::MediaCounters;
using dovrel::agent::MediaQueueLimits;
using dovrel::agent::TransportMediaQueue;

namespace {

// What the relay link would be: frames written, bytes not yet on the network, flushes. Used on the
// queue's owner thread only, which each call checks.
struct FakeLink {
    explicit FakeLink(const SerialQueue& q) : owner(q) {}
    const SerialQueue& owner;
    std::vector<wex::Bytes> written;
    std::size_t backlog = 0; // as the socket reports it
    int flushes = 0;
    bool offThread = false;
    bool flushEmpties = false; // the kernel takes everything at once, and no written-bytes signal follows

    TransportMediaQueue::Sink sink() {
        TransportMediaQueue::Sink s;
        s.write = [this](wex::ByteView frame) {
            offThread = offThread || !owner.isCurrent();
            written.emplace_back(frame.begin(), frame.end());
            backlog += frame.size();
            return true;
        };
        s.flush = [this] {
            ++flushes;
            if (flushEmpties) backlog = 0;
        };
        s.backlog = [this] { return backlog; };
        return s;
    }
};

wex::Bytes frame(uint8_t tag, std::size_t size = 1000) { return wex::Bytes(size, tag); }

struct Rig {
    SerialQueue owner{"test.owner"};
    FakeLink link{owner};
    std::shared_ptr<MediaCounters> counters = std::make_shared<MediaCounters>();
    std::atomic<int> keyframeAsks = 0;
    std::atomic<bool> askedOffThread = false;
    std::shared_ptr<TransportMediaQueue> queue;

    explicit Rig(MediaQueueLimits limits) {
        dovrel::test::qtApp();
        queue = std::make_shared<TransportMediaQueue>(
            owner, link.sink(),
            [this] {
                askedOffThread = askedOffThread || !owner.isCurrent();
                ++keyframeAsks;
            },
            counters, limits);
    }
    ~Rig() {
        owner.sync([this] { queue->close(); });
    }
    // Runs what pushes posted, then a drain as a written-bytes signal of the link would.
    void drain(std::size_t backlogNow) {
        owner.sync([&] {
            link.backlog = backlogNow;
            queue->drain();
        });
    }
    void settle() {
        owner.sync([] {});
    }
};

} // namespace

TEST(TransportMediaQueue, FramesLeaveInOrderOnlyWhileTheLinkHasRoom) {
    Rig rig({10'000, 1'000, 2'000});
    rig.link.backlog = 2'000; // the link is full
    ASSERT_TRUE(rig.queue->push(frame(1), true));
    ASSERT_TRUE(rig.queue->push(frame(2, 100), false));
    ASSERT_TRUE(rig.queue->push(frame(3), true));
    ASSERT_TRUE(rig.queue->push(frame(4), true));
    rig.settle();
    EXPECT_TRUE(rig.link.written.empty());
    EXPECT_EQ(rig.queue->queuedBytes(), 3'100u);

    rig.drain(0); // room for 2 kB: frames go until the backlog reaches it
    ASSERT_EQ(rig.link.written.size(), 3u);
    EXPECT_EQ(rig.link.written[0], frame(1));
    EXPECT_EQ(rig.link.written[1], frame(2, 100));
    EXPECT_EQ(rig.link.written[2], frame(3));
    EXPECT_EQ(rig.link.flushes, 1);
    rig.drain(0);
    ASSERT_EQ(rig.link.written.size(), 4u);
    EXPECT_EQ(rig.link.written[3], frame(4));
    EXPECT_EQ(rig.queue->queuedBytes(), 0u);
    rig.drain(0);
    EXPECT_EQ(rig.link.flushes, 2) << "a drain with nothing to write does not flush";
    EXPECT_FALSE(rig.link.offThread);
    EXPECT_EQ(rig.counters->videoSent, 3u);
    EXPECT_EQ(rig.counters->audioSent, 1u);
}

TEST(TransportMediaQueue, AFlushThatEmptiesTheLinkAtOnceLetsTheSameDrainGoOn) {
    Rig rig({10'000, 1'000, 2'000});
    rig.link.backlog = 2'000;
    for (uint8_t i = 0; i < 7; ++i)
        ASSERT_TRUE(rig.queue->push(frame(i), true));
    rig.settle();
    rig.link.flushEmpties = true;
    rig.drain(0); // one call, no signal in between: everything goes, two frames per flush
    EXPECT_EQ(rig.link.written.size(), 7u);
    EXPECT_EQ(rig.link.flushes, 4);
    EXPECT_EQ(rig.queue->queuedBytes(), 0u);
}

TEST(TransportMediaQueue, AFullQueueDropsVideoUntilHalfDrainedAndAsksForOneKeyframePerEpisode) {
    Rig rig({10'000, 1'000, 3'500});
    rig.link.backlog = 1'000'000; // a stalled link
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(rig.queue->push(frame(static_cast<uint8_t>(i)), true)) << i;
    EXPECT_FALSE(rig.queue->push(frame(10), true));
    EXPECT_FALSE(rig.queue->push(frame(11, 10), true)) << "small frames wait for the drain too";
    // Audio has its own bound and never asks for a keyframe.
    EXPECT_TRUE(rig.queue->push(frame(50, 600), false));
    EXPECT_FALSE(rig.queue->push(frame(51, 600), false));
    rig.settle();
    EXPECT_EQ(rig.keyframeAsks, 1);
    EXPECT_EQ(rig.counters->videoDropped, 2u);
    EXPECT_EQ(rig.counters->audioDropped, 1u);

    rig.drain(0); // four frames go: 6 kB of video still queued, above half the bound
    EXPECT_EQ(rig.link.written.size(), 4u);
    EXPECT_FALSE(rig.queue->push(frame(12), true));
    rig.drain(0); // four more: 2 kB left
    EXPECT_TRUE(rig.queue->push(frame(13), true));
    rig.settle();
    EXPECT_EQ(rig.keyframeAsks, 1);

    // The next overflow is a new episode with its own request.
    rig.link.backlog = 1'000'000;
    while (rig.queue->push(frame(14), true)) {
    }
    rig.settle();
    EXPECT_EQ(rig.keyframeAsks, 2);
    EXPECT_FALSE(rig.askedOffThread);

    // What was accepted leaves in the order it came.
    rig.drain(0);
    while (rig.queue->queuedBytes() > 0)
        rig.drain(0);
    std::vector<uint8_t> tags;
    for (const auto& f : rig.link.written)
        tags.push_back(f[0]);
    const std::vector<uint8_t> start = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 50, 13};
    ASSERT_GE(tags.size(), start.size());
    EXPECT_EQ(std::vector<uint8_t>(tags.begin(), tags.begin() + static_cast<std::ptrdiff_t>(start.size())), start);
}

TEST(TransportMediaQueue, AClosedQueueDiscardsWhatItHeldAndRefusesEveryPush) {
    Rig rig({10'000, 1'000, 3'500});
    rig.link.backlog = 1'000'000;
    ASSERT_TRUE(rig.queue->push(frame(1), true));
    rig.owner.sync([&] { rig.queue->close(); });
    EXPECT_EQ(rig.queue->queuedBytes(), 0u);
    EXPECT_FALSE(rig.queue->push(frame(2), true));
    EXPECT_FALSE(rig.queue->push(frame(3), false));
    EXPECT_FALSE(rig.queue->push({}, true));
    rig.drain(0);
    EXPECT_TRUE(rig.link.written.empty());
    EXPECT_EQ(rig.counters->videoDropped, 0u) << "a session that is over is not a slow link";
}

TEST(TransportMediaQueue, ManyPushingThreadsEachKeepTheirOrderAndEveryFrameIsCountedOnce) {
    Rig rig({64 * 1024, 16 * 1024, 8 * 1024});
    constexpr int threads = 4;
    constexpr int perThread = 3000;
    std::atomic<int> accepted = 0;
    std::atomic<bool> done = false;
    // The link drains as fast as it can, so some frames get through and, under pressure, some drop.
    std::thread network([&] {
        while (!done) {
            rig.drain(0);
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> pushers;
    for (int t = 0; t < threads; ++t) {
        pushers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                wex::Bytes f(300, 0);
                f[0] = static_cast<uint8_t>(t);
                f[1] = static_cast<uint8_t>(i >> 8);
                f[2] = static_cast<uint8_t>(i);
                if (rig.queue->push(std::move(f), t % 2 == 0)) ++accepted;
            }
        });
    }
    for (auto& p : pushers)
        p.join();
    done = true;
    network.join();
    while (rig.queue->queuedBytes() > 0)
        rig.drain(0);

    const auto& c = *rig.counters;
    EXPECT_EQ(static_cast<int>(c.videoSent + c.audioSent), accepted.load());
    EXPECT_EQ(static_cast<int>(c.videoSent + c.audioSent + c.videoDropped + c.audioDropped), threads * perThread);
    EXPECT_EQ(static_cast<int>(rig.link.written.size()), accepted.load());
    std::vector<int> last(threads, -1);
    for (const auto& f : rig.link.written) {
        const int t = f[0];
        const int i = (f[1] << 8) | f[2];
        EXPECT_GT(i, last[t]) << "thread " << t;
        last[t] = i;
    }
    EXPECT_FALSE(rig.link.offThread);
}

// Owner-only work called from another thread is a race: the process stops at once and says which.
TEST(TransportMediaQueueDeathTest, DrainingOrClosingOffTheOwnerThreadStopsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Rig rig({10'000, 1'000, 2'000});
    EXPECT_DEATH(rig.queue->drain(), "drain runs off its owner thread \"test.owner\"");
    EXPECT_DEATH(rig.queue->close(), "close runs off its owner thread \"test.owner\"");
    rig.drain(0); // on the owner it is fine
}

#include <chrono>
#include <random>

#include <gtest/gtest.h>

#include "protocol/StreamFramer.h"
#include "protocol/Frame.h"

using wex::StreamFramer;

namespace {

wex::Bytes plainFrame(uint8_t type, std::size_t payloadSize, uint8_t fill = 0xAB) {
    return wex::buildFrame(wex::Stream::control, type, 0, {}, wex::Bytes(payloadSize, fill));
}

// A frame flagged sealed: 16 tag bytes follow the payload the header counts.
wex::Bytes sealedFrame(uint8_t type, std::size_t payloadSize) {
    wex::HeaderFlags flags;
    flags.insert(wex::HeaderFlag::encryptedApp);
    wex::Bytes f = wex::buildFrame(wex::Stream::video, type, 1, flags, wex::Bytes(payloadSize, 0x5A));
    f.insert(f.end(), 16, 0xEE);
    return f;
}

std::vector<wex::Bytes> drain(StreamFramer& r) {
    std::vector<wex::Bytes> out;
    while (auto f = r.next())
        out.push_back(f->bytes);
    return out;
}

} // namespace

TEST(StreamFramer, CutsFramesFromAStreamWhateverTheReadsLookLike) {
    const wex::Bytes a = plainFrame(13, 10), b = sealedFrame(1, 30), c = plainFrame(1, 0);
    wex::Bytes all = a;
    all.insert(all.end(), b.begin(), b.end());
    all.insert(all.end(), c.begin(), c.end());

    // All at once: three frames in order, the sealed one with its tag.
    StreamFramer whole;
    whole.append(all);
    EXPECT_EQ(drain(whole), (std::vector<wex::Bytes>{a, b, c}));
    EXPECT_EQ(whole.buffered(), 0u);

    // A byte at a time: each frame appears exactly when its last byte (tag included) has arrived.
    StreamFramer bytewise;
    std::vector<wex::Bytes> got;
    for (std::size_t i = 0; i < all.size(); ++i) {
        bytewise.append(wex::ByteView(all).subspan(i, 1));
        while (auto f = bytewise.next()) {
            got.push_back(f->bytes);
            const std::size_t expectedEnd = got.size() == 1   ? a.size()
                                            : got.size() == 2 ? a.size() + b.size()
                                                              : all.size();
            EXPECT_EQ(i + 1, expectedEnd);
        }
    }
    EXPECT_EQ(got, (std::vector<wex::Bytes>{a, b, c}));

    const auto frame = [&] {
        StreamFramer r;
        r.append(b);
        return *r.next();
    }();
    EXPECT_TRUE(frame.sealed());
    EXPECT_EQ(frame.header.stream, wex::Stream::video);
    EXPECT_EQ(frame.payload().size(), 30u);
}

TEST(StreamFramer, SkipsGarbageOneByteAtATimeUntilAHeaderChecksOut) {
    const wex::Bytes frame = plainFrame(2, 5);
    wex::Bytes stream = {0x00, 0x52, 0x52, 0x01, 0xFF};
    // A header with a wrong CRC is garbage too.
    wex::Bytes badCrc = plainFrame(3, 0);
    badCrc[11] ^= 0x01;
    stream.insert(stream.end(), badCrc.begin(), badCrc.end());
    stream.insert(stream.end(), frame.begin(), frame.end());
    StreamFramer r;
    r.append(stream);
    EXPECT_EQ(drain(r), std::vector<wex::Bytes>{frame});

    // Fewer than 12 bytes never make a frame; a header announcing more than is there waits.
    StreamFramer waiting;
    const wex::Bytes big = plainFrame(4, 1000);
    waiting.append(wex::ByteView(big).first(500));
    EXPECT_FALSE(waiting.next());
    waiting.append(wex::ByteView(big).subspan(500));
    EXPECT_EQ(drain(waiting), std::vector<wex::Bytes>{big});
}

TEST(StreamFramer, GarbageCostsLinearTime) {
    // 8 MiB of bytes that all start a header (magic and version) but never pass its checksum, in 64 KiB
    // reads, then one frame. Dropping garbage from the front of a buffer one byte at a time would move
    // the buffer once per byte and take many minutes, past the test's time-out; the reader skips every
    // byte and never holds more than a header's worth of it.
    wex::Bytes junk(8 << 20);
    for (std::size_t i = 0; i < junk.size(); i += 2) {
        junk[i] = 0x52;
        junk[i + 1] = 0x01;
    }
    const wex::Bytes frame = plainFrame(1, 100);
    StreamFramer r;
    for (std::size_t at = 0; at < junk.size(); at += 65536) {
        r.append(wex::ByteView(junk).subspan(at, 65536));
        EXPECT_FALSE(r.next());
        EXPECT_LT(r.buffered(), 12u);
    }
    r.append(frame);
    EXPECT_EQ(drain(r), std::vector<wex::Bytes>{frame});
    EXPECT_EQ(r.skipped(), junk.size());

    // A backlog of many small frames behind one large read is consumed without moving the rest each time.
    wex::Bytes many;
    for (int i = 0; i < 20000; ++i) {
        const wex::Bytes f = plainFrame(1, 20);
        many.insert(many.end(), f.begin(), f.end());
    }
    StreamFramer backlog;
    backlog.append(many);
    std::size_t n = 0;
    while (backlog.next())
        ++n;
    EXPECT_EQ(n, 20000u);
}

TEST(StreamFramer, RandomFramesRandomGarbageRandomReads) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 200; ++round) {
        std::vector<wex::Bytes> frames;
        wex::Bytes stream;
        const int count = std::uniform_int_distribution<int>(0, 12)(rng);
        for (int i = 0; i < count; ++i) {
            // Garbage without the magic byte cannot be taken for a header.
            const int junk = std::uniform_int_distribution<int>(0, 40)(rng);
            for (int j = 0; j < junk; ++j) {
                uint8_t b = static_cast<uint8_t>(rng());
                if (b == 0x52) b = 0x53;
                stream.push_back(b);
            }
            const std::size_t size = std::uniform_int_distribution<std::size_t>(0, 3000)(rng);
            const wex::Bytes f = (rng() & 1)
                                     ? plainFrame(static_cast<uint8_t>(rng()), size, static_cast<uint8_t>(rng()))
                                     : sealedFrame(static_cast<uint8_t>(rng()), size);
            frames.push_back(f);
            stream.insert(stream.end(), f.begin(), f.end());
        }
        StreamFramer r;
        std::vector<wex::Bytes> got;
        for (std::size_t at = 0; at < stream.size();) {
            const std::size_t n =
                std::min(stream.size() - at, std::uniform_int_distribution<std::size_t>(1, 5000)(rng));
            r.append(wex::ByteView(stream).subspan(at, n));
            at += n;
            while (auto f = r.next())
                got.push_back(f->bytes);
        }
        ASSERT_EQ(got, frames) << "round " << round;
        EXPECT_EQ(r.buffered(), 0u);
    }
}

#include <random>

#include <gtest/gtest.h>

#include "protocol/StreamFramer.h"
#include "protocol/Frame.h"
#include "protocol/SecureSession.h"

using wex::StreamFrame;
using Framer = wex::StreamFramer;

namespace {

wex::Bytes plainFrame(uint8_t type, std::size_t payloadSize, uint8_t fill = 0xab) {
    return wex::buildFrame(wex::Stream::control, type, 0, {}, wex::Bytes(payloadSize, fill));
}

wex::SessionKeys keys() { return wex::SessionKeys::fromBytes(wex::Bytes(32, 1), wex::Bytes(32, 2)); }

std::vector<StreamFrame> drainAll(Framer& f) {
    std::vector<StreamFrame> out;
    while (auto frame = f.next())
        out.push_back(std::move(*frame));
    return out;
}

} // namespace

TEST(StreamFramerCuts, ElevenBytesDeliverNothingAndASplitFrameArrivesWithItsLastByte) {
    const wex::Bytes frame = plainFrame(2, 20);
    Framer f;
    f.append(wex::ByteView(frame).first(11));
    EXPECT_FALSE(f.next());
    f.append(wex::ByteView(frame).subspan(11, frame.size() - 12));
    EXPECT_FALSE(f.next());
    f.append(wex::ByteView(frame).last(1));
    const auto got = f.next();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, frame);
    EXPECT_EQ(got->header.msgType, 2);
    EXPECT_EQ(wex::Bytes(got->payload().begin(), got->payload().end()), wex::Bytes(20, 0xab));
    EXPECT_EQ(f.buffered(), 0u);
}

TEST(StreamFramerCuts, SkipsGarbageByteByByteIncludingFalseMagicAndKeepsOrder) {
    // Garbage that contains the magic byte and even a header with a bad CRC in front of two frames.
    wex::Bytes stream = {0x00, 0x52, 0x52, 0x01, 0x99, 0x52};
    wex::Bytes badCrc = plainFrame(4, 3);
    badCrc[11] ^= 0xff;
    stream.insert(stream.end(), badCrc.begin(), badCrc.end());
    const wex::Bytes a = plainFrame(2, 7, 1), b = plainFrame(5, 0);
    stream.insert(stream.end(), a.begin(), a.end());
    stream.insert(stream.end(), b.begin(), b.end());
    Framer f;
    f.append(stream);
    const auto frames = drainAll(f);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].bytes, a);
    EXPECT_EQ(frames[1].bytes, b);
}

TEST(StreamFramerCuts, ASealedFrameSpansItsTagWhichTheLengthDoesNotCount) {
    wex::SecureSession agent(keys(), wex::Direction::agentToClient);
    const wex::Bytes sealed = agent.sealNext(wex::Stream::control, 8, 1, 0, wex::Bytes(40, 7));
    Framer f;
    f.append(wex::ByteView(sealed).first(sealed.size() - 1)); // all but the tag's last byte
    EXPECT_FALSE(f.next());
    f.append(wex::ByteView(sealed).last(1));
    const auto got = f.next();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, sealed);
    wex::SecureSession client(keys(), wex::Direction::clientToAgent);
    EXPECT_TRUE(client.openFrame(got->bytes));
}

TEST(StreamFramerCuts, RandomCutsAndNoiseNeverLoseOrInventFrames) {
    // Frames with noise between them, fed in random pieces: every frame comes out whole and in order.
    std::mt19937 rng(11);
    for (int round = 0; round < 200; ++round) {
        std::vector<wex::Bytes> sent;
        wex::Bytes stream;
        const int n = 1 + static_cast<int>(rng() % 6);
        for (int i = 0; i < n; ++i) {
            const std::size_t noise = rng() % 8;
            for (std::size_t k = 0; k < noise; ++k)
                stream.push_back(static_cast<uint8_t>(rng() % 0x50)); // no magic
            sent.push_back(plainFrame(static_cast<uint8_t>(1 + rng() % 33), rng() % 300, static_cast<uint8_t>(rng())));
            stream.insert(stream.end(), sent.back().begin(), sent.back().end());
        }
        Framer f;
        std::vector<StreamFrame> got;
        for (std::size_t at = 0; at < stream.size();) {
            const std::size_t piece = std::min<std::size_t>(1 + rng() % 64, stream.size() - at);
            f.append(wex::ByteView(stream).subspan(at, piece));
            at += piece;
            for (auto& fr : drainAll(f))
                got.push_back(std::move(fr));
        }
        ASSERT_EQ(got.size(), sent.size()) << "round " << round;
        for (std::size_t i = 0; i < sent.size(); ++i)
            EXPECT_EQ(got[i].bytes, sent[i]);
    }
}

TEST(StreamFramerCuts, PureNoiseIsDiscardedWithoutGrowingTheBuffer) {
    std::mt19937 rng(5);
    Framer f;
    for (int i = 0; i < 200; ++i) {
        wex::Bytes noise(4096);
        for (auto& b : noise)
            b = static_cast<uint8_t>(rng());
        f.append(noise);
        while (f.next()) {
        }
        // A random header can claim a long payload and be waited for; it never exceeds one frame.
        EXPECT_LE(f.buffered(), 12u + 65535u + 16u + 4096u);
    }
}

// Sealed frames and replay windows: layout, limits, tampering, replay, OpenSSL as a second implementation
// of the AEAD, and sequence numbers taken from several threads.
#include <algorithm>
#include <atomic>
#include <memory>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "OpenSSLOracle.h"
#include "TestBytes.h"
#include "protocol/CRC8.h"
#include "protocol/Frame.h"
#include "protocol/SecureSession.h"
#include "tests/support/SecureSessionTestAccess.h"

using namespace wex;
using wex::test::hexBytes;

namespace {

SessionKeys randomKeys() { return SessionKeys::fromBytes(Crypto::randomBytes(32), Crypto::randomBytes(32)); }

struct Pair {
    SessionKeys keys = randomKeys();
    SecureSession agent{keys, Direction::agentToClient};
    SecureSession client{keys, Direction::clientToAgent};
};

void recomputeCRC(Bytes& frame) { frame[11] = CRC8::compute(ByteView(frame).first(11)); }

// The replay rule stated plainly: remember every accepted number; a number is new if nothing was
// accepted yet, if it is above the highest, or if it is at most 63 below the highest and not seen.
struct ReplayModel {
    std::set<uint32_t> seen;
    uint32_t highest = 0;
    bool accept(uint32_t seq) {
        const bool ok = seen.empty() || seq > highest || (highest - seq <= 63 && !seen.count(seq));
        if (ok) {
            seen.insert(seq);
            highest = std::max(highest, seq);
        }
        return ok;
    }
};

uint32_t seqOf(const Bytes& frame) {
    return uint32_t{frame.at(12)} << 24 | uint32_t{frame.at(13)} << 16 | uint32_t{frame.at(14)} << 8 | frame.at(15);
}

constexpr Stream allStreams[] = {Stream::control, Stream::video, Stream::input, Stream::audio};

} // namespace

TEST(SecureSession, OpensOnlyOnThePeersSide) {
    Pair p;
    const Bytes plain = test::asciiBytes("hello over the wire");
    const Bytes frame = SecureSessionTestAccess::sealFrame(p.agent, Stream::control, 13, 1, 7, 123456, plain);
    ASSERT_EQ(frame.size(), SecureSession::overhead + plain.size());

    SecureSession otherAgent(p.keys, Direction::agentToClient);
    EXPECT_FALSE(otherAgent.openFrame(frame)) << "a frame is opened with the other direction's key";

    const auto opened = p.client.openFrame(frame);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->plaintext, plain);
    EXPECT_EQ(opened->seq, 7u);
    EXPECT_EQ(opened->header, (CommonHeader{Stream::control, 13, 1, static_cast<uint16_t>(plain.size() + 8),
                                            HeaderFlag::encryptedApp}));

    const Bytes back = SecureSessionTestAccess::sealFrame(p.client, Stream::input, 1, 1, 0, 0, plain);
    EXPECT_TRUE(p.agent.openFrame(back));
    EXPECT_NE(Bytes(back.begin() + 20, back.end()), Bytes(frame.begin() + 20, frame.end()));
}

TEST(SecureSession, LayoutOfASealedFrame) {
    Pair p;
    const Bytes frame =
        SecureSessionTestAccess::sealFrame(p.agent, Stream::video, 1, 0xA1B2C3D4, 0x01020304, 0x0A0B0C0D,
                                           Bytes(5, 0x55), HeaderFlags{HeaderFlag::fragment, HeaderFlag::endFrag});
    ASSERT_EQ(frame.size(), 41u);
    const CommonHeader h = CommonHeader::decode(frame);
    EXPECT_EQ(h.length, 13);
    EXPECT_EQ(h.flags.rawValue, 0x15);
    EXPECT_EQ(Bytes(frame.begin() + 12, frame.begin() + 20), hexBytes("01020304 0a0b0c0d"));
    EXPECT_EQ(frameSpan(h), frame.size());
    const auto opened = p.client.openFrame(frame);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->header.flags.rawValue, 0x15);
}

TEST(SecureSession, PlaintextSizeLimits) {
    Pair p;
    const Bytes empty = SecureSessionTestAccess::sealFrame(p.agent, Stream::audio, 1, 1, 0, 0, {});
    ASSERT_EQ(empty.size(), 36u);
    EXPECT_EQ(CommonHeader::decode(empty).length, 8);
    const auto opened = p.client.openFrame(empty);
    ASSERT_TRUE(opened);
    EXPECT_TRUE(opened->plaintext.empty());

    const Bytes largest(SecureSession::maxPlaintext, 0xAB);
    ASSERT_EQ(largest.size(), 65527u);
    const Bytes big = SecureSessionTestAccess::sealFrame(p.agent, Stream::video, 1, 1, 1, 0, largest);
    ASSERT_EQ(big.size(), 65563u);
    EXPECT_EQ(CommonHeader::decode(big).length, 65535);
    EXPECT_EQ(p.client.openFrame(big)->plaintext, largest);

    const Bytes tooBig(65528, 0xAB);
    EXPECT_TRUE(SecureSessionTestAccess::sealFrame(p.agent, Stream::video, 1, 1, 2, 0, tooBig).empty());
    EXPECT_TRUE(p.agent.sealNext(Stream::video, 1, 1, 0, tooBig).empty());
    EXPECT_EQ(p.agent.nextSeq(Stream::video), 0u) << "an oversized plaintext uses no sequence number";
}

TEST(SecureSession, ReplayedAndStaleFramesDoNotOpen) {
    Pair p;
    const auto seal = [&](Stream s, uint32_t seq) {
        return SecureSessionTestAccess::sealFrame(p.agent, s, 1, 1, seq, 0, Bytes{1, 2, 3});
    };
    const Bytes f = seal(Stream::control, 3);
    EXPECT_TRUE(p.client.openFrame(f));
    EXPECT_FALSE(p.client.openFrame(f));

    // 10, 5, 5, 74, 10: accepted, accepted, repeat, accepted (64 ahead: the window restarts), too old.
    EXPECT_TRUE(p.client.openFrame(seal(Stream::input, 10)));
    EXPECT_TRUE(p.client.openFrame(seal(Stream::input, 5)));
    EXPECT_FALSE(p.client.openFrame(seal(Stream::input, 5)));
    EXPECT_TRUE(p.client.openFrame(seal(Stream::input, 74)));
    EXPECT_FALSE(p.client.openFrame(seal(Stream::input, 10)));

    // Each stream has its own window.
    EXPECT_TRUE(p.client.openFrame(seal(Stream::video, 3)));
    EXPECT_TRUE(p.client.openFrame(seal(Stream::audio, 3)));
}

TEST(ReplayWindow, EdgesOfTheWindow) {
    ReplayWindow w;
    EXPECT_FALSE(w.started());
    EXPECT_TRUE(w.accept(100));
    EXPECT_TRUE(w.accept(37)) << "63 behind";
    EXPECT_FALSE(w.accept(36)) << "64 behind";
    EXPECT_FALSE(w.accept(100));
    EXPECT_FALSE(w.accept(37));
    EXPECT_TRUE(w.accept(101));
    EXPECT_FALSE(w.accept(37)) << "now 64 behind";

    ReplayWindow top;
    EXPECT_TRUE(top.accept(0xFFFFFFFF));
    EXPECT_FALSE(top.accept(0xFFFFFFFF));
    EXPECT_TRUE(top.accept(0xFFFFFFFF - 63));
    EXPECT_FALSE(top.accept(0xFFFFFFFF - 64));
    EXPECT_FALSE(top.accept(0)) << "no wrap-around: 0 is far behind the top";

    ReplayWindow first;
    EXPECT_TRUE(first.accept(0xFFFFFFFF - 5)) << "the first number is taken whatever it is";
}

TEST(ReplayWindow, AgreesWithAPlainModelOnRandomSequences) {
    std::mt19937 rng(2024);
    const int64_t jumps[] = {1, -1, 63, -63, 64, -64, 65, -65, 0, 2, -2, 1000, -1000};
    int acceptedCount = 0, rejectedCount = 0;
    for (int round = 0; round < 400; ++round) {
        ReplayWindow w;
        ReplayModel model;
        const bool nearTop = round % 2 == 1;
        int64_t at = nearTop ? int64_t{0xFFFFFFFF} - static_cast<int64_t>(rng() % 300) : rng() % 300;
        for (int i = 0; i < 300; ++i) {
            if (rng() % 4 == 0)
                at += static_cast<int64_t>(rng() % 140) - 70;
            else
                at += jumps[rng() % std::size(jumps)];
            at = std::clamp<int64_t>(at, 0, 0xFFFFFFFF);
            const auto seq = static_cast<uint32_t>(at);
            const bool accepted = model.accept(seq);
            ASSERT_EQ(w.accept(seq), accepted) << "round " << round << " step " << i << " seq " << seq;
            ++(accepted ? acceptedCount : rejectedCount);
        }
    }
    // The walk must exercise both answers often, or it proves little.
    EXPECT_GT(acceptedCount, 10000);
    EXPECT_GT(rejectedCount, 10000);
}

TEST(SecureSession, AnySingleByteChangeStopsTheFrame) {
    Pair p;
    const Bytes plain = test::asciiBytes("a control message of some length");
    const Bytes frame =
        SecureSessionTestAccess::sealFrame(p.agent, Stream::control, 13, 1, 42, 99, plain, HeaderFlag::reliable);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        for (uint8_t delta : {uint8_t{0x01}, uint8_t{0x80}, uint8_t{0xFF}}) {
            Bytes bad = frame;
            bad[i] ^= delta;
            EXPECT_FALSE(p.client.openFrame(bad)) << "byte " << i << " changed";
            if (i < 11) {
                recomputeCRC(bad);
                EXPECT_FALSE(p.client.openFrame(bad)) << "byte " << i << " changed, CRC recomputed";
            }
        }
    }
    // None of the forgeries moved the window: the genuine frame with the same number still opens.
    const auto opened = p.client.openFrame(frame);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->plaintext, plain);
}

TEST(SecureSession, ShortLongAndPlainFrames) {
    Pair p;
    const Bytes frame = SecureSessionTestAccess::sealFrame(p.agent, Stream::input, 1, 1, 0, 0, Bytes(50, 7));
    EXPECT_FALSE(p.client.openFrame(ByteView(frame).first(frame.size() - 1)));
    for (std::size_t n = 0; n < frame.size(); n += 7)
        EXPECT_FALSE(p.client.openFrame(ByteView(frame).first(n)));

    Bytes withTail = frame;
    withTail.insert(withTail.end(), {9, 9, 9, 9});
    const auto opened = p.client.openFrame(withTail);
    ASSERT_TRUE(opened) << "bytes after the frame belong to the next one";
    EXPECT_EQ(opened->plaintext, Bytes(50, 7));

    // A plain frame never opens, whatever follows it.
    Bytes plain = buildFrame(Stream::input, 1, 1, {}, Bytes(frame.begin() + 12, frame.end() - 16));
    plain.insert(plain.end(), frame.end() - 16, frame.end());
    EXPECT_FALSE(p.client.openFrame(plain));
    // A length below the sequence-and-time header cannot be a sealed frame.
    Bytes shortLength = frame;
    shortLength[8] = 0;
    shortLength[9] = 7;
    recomputeCRC(shortLength);
    EXPECT_FALSE(p.client.openFrame(shortLength));
}

TEST(SecureSession, SealAndOpenAgreeWithOpenSSL) {
    std::mt19937 rng(99);
    std::vector<std::size_t> sizes = {0, 1, 15, 16, 17, 63, 64, 1000, 65526, 65527};
    for (int i = 0; i < 30; ++i)
        sizes.push_back(rng() % 65528);
    for (std::size_t size : sizes) {
        SCOPED_TRACE(size);
        const Bytes c2a = test::randomBytes(rng, 32), a2c = test::randomBytes(rng, 32);
        const SessionKeys keys = SessionKeys::fromBytes(c2a, a2c);
        SecureSession agent(keys, Direction::agentToClient), client(keys, Direction::clientToAgent);
        const Stream stream = allStreams[rng() % 4];
        const auto type = static_cast<uint8_t>(rng()), flags = static_cast<uint8_t>(rng() & 0x1E);
        const uint32_t session = rng(), seq = rng(), ts = rng();
        const Bytes plain = test::randomBytes(rng, size);

        // Ours sealed, OpenSSL opens: the nonce and associated data are written out by hand here.
        const Bytes frame = SecureSessionTestAccess::sealFrame(agent, stream, type, session, seq, ts, plain,
                                                               HeaderFlags::fromRaw(flags));
        ASSERT_EQ(frame.size(), size + 36);
        Bytes nonce = {1, static_cast<uint8_t>(stream), 0, 0, 0, 0, 0, 0};
        for (int s = 24; s >= 0; s -= 8)
            nonce.push_back(static_cast<uint8_t>(seq >> s));
        const Bytes aad(frame.begin(), frame.begin() + 20);
        Bytes expectedAad =
            CommonHeader{stream, type, session, static_cast<uint16_t>(size + 8), HeaderFlags::fromRaw(flags | 1)}
                .encoded();
        for (uint32_t v : {seq, ts})
            for (int s = 24; s >= 0; s -= 8)
                expectedAad.push_back(static_cast<uint8_t>(v >> s));
        ASSERT_EQ(aad, expectedAad);
        const auto opened = oracle::chachaOpen(a2c, nonce, aad, ByteView(frame).subspan(20, size),
                                               ByteView(frame).subspan(20 + size, 16));
        ASSERT_TRUE(opened);
        ASSERT_EQ(*opened, plain);

        // OpenSSL sealed (as the controller would), ours opens.
        nonce[0] = 0;
        Bytes theirs = aad;
        const Bytes sealed = oracle::chachaSeal(c2a, nonce, aad, plain);
        theirs.insert(theirs.end(), sealed.begin(), sealed.end());
        const auto ours = agent.openFrame(theirs);
        ASSERT_TRUE(ours);
        ASSERT_EQ(ours->plaintext, plain);
        ASSERT_EQ(ours->seq, seq);
        ASSERT_EQ(SecureSessionTestAccess::sealFrame(client, stream, type, session, seq, ts, plain,
                                                     HeaderFlags::fromRaw(flags)),
                  theirs);
    }
}

TEST(SecureSession, SequenceNumbersStartAtZeroPerStreamAndNeverRepeat) {
    Pair p;
    for (Stream s : allStreams)
        EXPECT_EQ(p.agent.nextSeq(s), 0u);
    EXPECT_EQ(p.agent.nextSeq(Stream::video), 1u);
    EXPECT_EQ(p.client.nextSeq(Stream::video), 0u) << "each session counts on its own";

    SecureSessionTestAccess::skipSeqTo(p.agent, Stream::audio, 0xFFFFFFFE);
    SecureSessionTestAccess::skipSeqTo(p.agent, Stream::audio, 5);
    EXPECT_EQ(p.agent.nextSeq(Stream::audio), 0xFFFFFFFEu) << "skipping never moves back";
    EXPECT_FALSE(p.agent.sendExhausted(Stream::audio));
    const Bytes last = p.agent.sealNext(Stream::audio, 1, 1, 0, Bytes{1});
    ASSERT_FALSE(last.empty());
    EXPECT_EQ(p.client.openFrame(last)->seq, 0xFFFFFFFFu);
    EXPECT_TRUE(p.agent.sendExhausted(Stream::audio));
    EXPECT_TRUE(p.agent.sealNext(Stream::audio, 1, 1, 0, Bytes{1}).empty()) << "no wrap back to 0";
    EXPECT_FALSE(p.agent.nextSeq(Stream::audio));
    EXPECT_FALSE(p.agent.nextSeq(Stream::audio));
    EXPECT_FALSE(p.agent.sendExhausted(Stream::video));
}

TEST(SecureSession, ThreadsSendingOnOneStreamNeverShareANumber) {
    Pair p;
    constexpr int threads = 4, perThread = 2000;
    std::vector<std::vector<Bytes>> frames(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i)
                frames[t].push_back(p.agent.sealNext(Stream::video, 1, 1, 0, Bytes{static_cast<uint8_t>(t)}));
        });
    for (auto& w : workers)
        w.join();

    std::vector<std::pair<uint32_t, Bytes>> bySeq;
    for (const auto& list : frames)
        for (const Bytes& f : list)
            bySeq.emplace_back(seqOf(f), f);
    std::sort(bySeq.begin(), bySeq.end());
    ASSERT_EQ(bySeq.size(), std::size_t{threads * perThread});
    for (std::size_t i = 0; i < bySeq.size(); ++i) {
        ASSERT_EQ(bySeq[i].first, i) << "every number from 0 once";
        ASSERT_TRUE(p.client.openFrame(bySeq[i].second));
    }
}

TEST(SecureSession, ThreadsOpeningTheSameFramesAcceptEachOnce) {
    for (int round = 0; round < 20; ++round) {
        Pair p;
        std::vector<Bytes> frames;
        for (Stream s : {Stream::video, Stream::audio})
            for (uint32_t seq = 0; seq < 64; ++seq)
                frames.push_back(SecureSessionTestAccess::sealFrame(p.agent, s, 1, 1, seq, 0, Bytes{1, 2}));
        std::atomic<int> accepted{0};
        std::vector<std::thread> workers;
        for (int t = 0; t < 4; ++t)
            workers.emplace_back([&, t] {
                std::vector<Bytes> mine = frames;
                std::shuffle(mine.begin(), mine.end(), std::mt19937(static_cast<unsigned>(round * 4 + t)));
                for (const Bytes& f : mine)
                    if (p.client.openFrame(f)) ++accepted;
            });
        for (auto& w : workers)
            w.join();
        ASSERT_EQ(accepted.load(), 128) << "round " << round;
    }
}

#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "TestBytes.h"
#include "protocol/CRC8.h"
#include "protocol/CommonHeader.h"
#include "protocol/Frame.h"
#include "protocol/Q1616.h"
#include "protocol/WEXConstants.h"

using namespace wex;
using wex::test::hexBytes;
using wex::test::thrownError;

namespace {

// A header of 12 bytes with the given first bytes; the CRC is right unless `badCrc`.
Bytes headerBytes(uint8_t magic, uint8_t version, uint8_t stream, bool badCrc) {
    Bytes b = {magic, version, stream, 0x0D, 0, 0, 0, 1, 0, 0, 0};
    const uint8_t crc = CRC8::compute(b);
    b.push_back(badCrc ? static_cast<uint8_t>(crc ^ 0x5A) : crc);
    return b;
}

} // namespace

TEST(CommonHeader, GoldenBytes) {
    const CommonHeader h{Stream::control, 13, 1, 10, HeaderFlag::encryptedApp};
    EXPECT_EQ(h.encoded(), hexBytes("52 01 01 0D 00 00 00 01 00 0A 01 59"));
    EXPECT_EQ(CommonHeader::decode(h.encoded()), h);
}

TEST(CommonHeader, ChecksInOrderMagicVersionCrcStream) {
    EXPECT_EQ(thrownError([] { CommonHeader::decode(hexBytes("52 01 01 0D 00 00 00 01 00 0A 01")); }),
              WEXError::truncated());
    EXPECT_EQ(thrownError([] { CommonHeader::decode(headerBytes(0x53, 1, 1, true)); }), WEXError::badMagic());
    EXPECT_EQ(thrownError([] { CommonHeader::decode(headerBytes(0x52, 2, 1, true)); }), WEXError::badVersion(2));
    EXPECT_EQ(thrownError([] { CommonHeader::decode(headerBytes(0x52, 1, 0, true)); }), WEXError::badHeaderCRC());
    EXPECT_EQ(thrownError([] { CommonHeader::decode(headerBytes(0x52, 1, 5, false)); }), WEXError::badStream(5));
}

TEST(CommonHeader, MessageTypeIsNotCheckedAndTrailingBytesIgnored) {
    for (uint8_t type : {uint8_t{0}, uint8_t{200}}) {
        const CommonHeader h{Stream::video, type, 0xFFFFFFFF, 0xFFFF, HeaderFlags::fromRaw(0xFF)};
        Bytes b = h.encoded();
        b.push_back(0x99);
        EXPECT_EQ(CommonHeader::decode(b), h);
    }
}

TEST(CommonHeader, RoundTripsRandomHeadersAndAnyFlippedByteIsCaughtOrHarmless) {
    std::mt19937 rng(7);
    for (int i = 0; i < 2000; ++i) {
        const CommonHeader h{static_cast<Stream>(1 + rng() % 4), static_cast<uint8_t>(rng()), static_cast<uint32_t>(rng()),
                             static_cast<uint16_t>(rng()), HeaderFlags::fromRaw(static_cast<uint8_t>(rng()))};
        const Bytes b = h.encoded();
        ASSERT_EQ(CommonHeader::decode(b), h);
        // CRC-8 catches every single-byte change in the first eleven bytes.
        Bytes flipped = b;
        const std::size_t at = rng() % 11;
        flipped[at] ^= static_cast<uint8_t>(1 + rng() % 255);
        EXPECT_THROW(CommonHeader::decode(flipped), WEXError);
    }
}

TEST(Frame, BuildsUpToTheLargestPayload) {
    const Bytes max(maxFramePayload, 0xAB);
    const Bytes frame = buildFrame(Stream::control, 1, 0, {}, max);
    EXPECT_EQ(frame.size(), 65547u);
    EXPECT_EQ(parseFrame(frame).payload, max);
    EXPECT_TRUE(buildFrame(Stream::control, 1, 0, {}, Bytes(65536, 0)).empty());
}

TEST(Frame, ParseNeedsTheWholePayloadAndIgnoresTheRest) {
    const CommonHeader h{Stream::control, 6, 0, 10, {}};
    Bytes nine = h.encoded();
    nine.insert(nine.end(), 9, 0x11);
    EXPECT_EQ(thrownError([&] { parseFrame(nine); }), WEXError::truncated());

    Bytes fifteen = h.encoded();
    for (uint8_t i = 0; i < 15; ++i) fifteen.push_back(i);
    const PlainFrame f = parseFrame(fifteen);
    EXPECT_EQ(f.header, h);
    EXPECT_EQ(f.payload, hexBytes("00 01 02 03 04 05 06 07 08 09"));
}

TEST(Frame, SpanCountsTheTagOfSealedFrames) {
    EXPECT_EQ(frameSpan({Stream::control, 1, 0, 10, {}}), 22u);
    EXPECT_EQ(frameSpan({Stream::video, 1, 0, 10, HeaderFlag::encryptedApp}), 38u);
}

TEST(SubHeaders, SeqTimingAndFragmentRoundTripAndTruncate) {
    ByteWriter w;
    SeqTimingHeader{0x01020304, 0xA0B0C0D0}.encode(w);
    FragmentHeader{0xDEADBEEF, 3, 7}.encode(w);
    EXPECT_EQ(w.bytes, hexBytes("01020304 a0b0c0d0 deadbeef 0003 0007"));
    ByteReader r(w.bytes);
    EXPECT_EQ(SeqTimingHeader::decode(r), (SeqTimingHeader{0x01020304, 0xA0B0C0D0}));
    EXPECT_EQ(FragmentHeader::decode(r), (FragmentHeader{0xDEADBEEF, 3, 7}));

    test::expectEveryPrefixTruncated(hexBytes("01020304 a0b0c0d0"), [](const Bytes& b) {
        ByteReader pr(b);
        SeqTimingHeader::decode(pr);
    });
    const Bytes seven = hexBytes("deadbeef 000300");
    ByteReader fr(seven);
    EXPECT_THROW(FragmentHeader::decode(fr), WEXError);
    EXPECT_EQ(fr.offset(), 0);
}

TEST(Q1616, ConvertsRoundsAndClamps) {
    EXPECT_EQ(Q1616::encode(1.5), 0x00018000);
    EXPECT_EQ(static_cast<uint32_t>(Q1616::encode(-0.25)), 0xFFFFC000u);
    EXPECT_EQ(Q1616::decode(0x00018000), 1.5);
    // Halves away from zero: 0.5/65536 and its negative.
    EXPECT_EQ(Q1616::encode(0.5 / 65536.0), 1);
    EXPECT_EQ(Q1616::encode(-0.5 / 65536.0), -1);
    EXPECT_EQ(Q1616::encode(std::nan("")), 0);
    EXPECT_EQ(Q1616::encode(1e12), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(Q1616::encode(-1e12), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(Q1616::encode(std::numeric_limits<double>::infinity()), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(Q1616::encode(-std::numeric_limits<double>::infinity()), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(Q1616::encode(32767.99999), 0x7FFFFFFF);
    EXPECT_EQ(Q1616::encode(-32768.0), std::numeric_limits<int32_t>::min());
}

TEST(WEXConstants, ApiBaseOmitsTheDefaultPort) {
    EXPECT_EQ(WEX::apiBase("api.example.org", 443), "https://api.example.org");
    EXPECT_EQ(WEX::apiBase("api.example.org", 8443), "https://api.example.org:8443");
    EXPECT_EQ(WEX::controlPort, 47810);
    EXPECT_EQ(WEX::videoPort, 47811);
    EXPECT_EQ(WEX::inputPort, 47812);
    EXPECT_EQ(WEX::relayPort, 8443);
}

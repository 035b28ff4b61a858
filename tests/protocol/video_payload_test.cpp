#include <random>

#include <gtest/gtest.h>

#include "TestBytes.h"
#include "protocol/VideoPayload.h"

using namespace wex;
using wex::test::hexBytes;

namespace {
VideoNALHeader sampleHeader() {
    return {1, 2, 3, NALFlags{NALFlag::keyframe, NALFlag::config}, 1920, 1080, 0, 0};
}
} // namespace

TEST(VideoPayload, GoldenLayout) {
    const Bytes payload = encodeVideoNALPayload(sampleHeader(), {hexBytes("aabbcc"), {}});
    ASSERT_EQ(payload.size(), 31u);
    EXPECT_EQ(payload, hexBytes("00000001 00000002 03 03 0780 0438 00000000 0002"
                                "00000003 aabbcc 00000000"));
}

TEST(VideoPayload, CountIsTheRealNumberOfUnits) {
    VideoNALHeader h = sampleHeader();
    h.nalCount = 9;
    const Bytes payload = encodeVideoNALPayload(h, {hexBytes("01")});
    const auto decoded = decodeVideoNALPayload(payload);
    EXPECT_EQ(decoded.header.nalCount, 1);
    EXPECT_EQ(decoded.nals, (std::vector<Bytes>{hexBytes("01")}));
}

TEST(VideoPayload, TruncationAndTrailingBytes) {
    const Bytes payload = encodeVideoNALPayload(sampleHeader(), {hexBytes("0102"), Bytes(10, 7)});
    test::expectEveryPrefixTruncated(payload, [](const Bytes& b) { decodeVideoNALPayload(b); });

    Bytes extended = payload;
    extended.insert(extended.end(), {1, 2, 3});
    EXPECT_EQ(decodeVideoNALPayload(extended), decodeVideoNALPayload(payload));
}

TEST(VideoPayload, HugeAnnouncedCountFailsWithoutReserving) {
    VideoNALHeader h = sampleHeader();
    ByteWriter w;
    h.nalCount = 0xFFFF;
    h.encode(w);
    EXPECT_THROW(decodeVideoNALPayload(w.bytes), WEXError);

    ByteWriter big;
    big.u32(0xFFFFFFF0);
    ByteReader r(big.bytes);
    EXPECT_THROW(unpackNALs(r, 0xFFFFFFFF), WEXError);
}

TEST(VideoPayload, RandomRoundTrips) {
    std::mt19937 rng(11);
    for (int i = 0; i < 300; ++i) {
        VideoNALHeader h{static_cast<uint32_t>(rng()), static_cast<uint32_t>(rng()), static_cast<uint8_t>(rng()),
                         NALFlags::fromRaw(static_cast<uint8_t>(rng())), static_cast<uint16_t>(rng()),
                         static_cast<uint16_t>(rng()), static_cast<uint32_t>(rng()), 0};
        std::vector<Bytes> nals(rng() % 5);
        for (auto& n : nals) n = test::randomBytes(rng, rng() % 300);
        h.nalCount = static_cast<uint16_t>(nals.size());
        const auto decoded = decodeVideoNALPayload(encodeVideoNALPayload(h, nals));
        ASSERT_EQ(decoded.header, h);
        ASSERT_EQ(decoded.nals, nals);
        ASSERT_EQ(packNALs(nals).size(), encodeVideoNALPayload(h, nals).size() - VideoNALHeader::size);
    }
}

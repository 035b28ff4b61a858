#include <vector>

#include <gtest/gtest.h>

#include "RandomValues.h"
#include "TestBytes.h"
#include "protocol/AudioFrame.h"

using namespace wex;
using wex::test::hexBytes;
using wex::test::thrownError;

TEST(AudioFrame, HeaderBigEndianSamplesLittleEndian) {
    const AudioFrame f{48000, 2, {1, -2}};
    const Bytes b = f.encode();
    EXPECT_EQ(b, hexBytes("0000bb80 02 00000002 0100 feff"));
    EXPECT_EQ(AudioFrame::decode(b), f);
    test::expectEveryPrefixTruncated(b, [](const Bytes& p) { AudioFrame::decode(p); });

    EXPECT_EQ((AudioFrame{44100, 1, {-32768, 32767, 0x1234}}).encode(),
              hexBytes("0000ac44 01 00000003 0080 ff7f 3412"));
    EXPECT_EQ((AudioFrame{8000, 0, {}}).encode(), hexBytes("00001f40 00 00000000"));
    EXPECT_TRUE(AudioFrame::decode(hexBytes("00001f40 00 00000000 aabb")).pcm.empty());
}

TEST(AudioFrame, AnnouncedCountMustBeThereBeforeAnythingIsAllocated) {
    // Three samples announced, two present.
    EXPECT_EQ(thrownError([] { AudioFrame::decode(hexBytes("0000bb80 02 00000003 0100 feff")); }),
              WEXError::truncated());
    // One byte of the second sample missing.
    EXPECT_EQ(thrownError([] { AudioFrame::decode(hexBytes("0000bb80 02 00000002 0100 fe")); }), WEXError::truncated());
    // 0x80000000 samples are 2^32 bytes: a 32-bit doubling would wrap to 0 and accept an empty frame.
    EXPECT_EQ(thrownError([] { AudioFrame::decode(hexBytes("0000bb80 02 80000000")); }), WEXError::truncated());
    EXPECT_EQ(thrownError([] { AudioFrame::decode(hexBytes("0000bb80 02 ffffffff 0100 feff")); }),
              WEXError::truncated());
}

TEST(AudioFrame, RandomRoundTrips) {
    test::RandomValues rv(1121);
    for (int i = 0; i < 200; ++i) {
        AudioFrame f{rv.num<uint32_t>(), rv.num<uint8_t>(), {}};
        f.pcm.resize(rv.below(2000));
        for (auto& s : f.pcm)
            s = rv.num<int16_t>();
        const Bytes b = f.encode();
        ASSERT_EQ(b.size(), AudioFrame::headerSize + 2 * f.pcm.size());
        // Low byte first, whatever the machine's own order.
        for (std::size_t k = 0; k < f.pcm.size(); ++k) {
            const auto u = static_cast<uint16_t>(f.pcm[k]);
            ASSERT_EQ(b[9 + 2 * k], u & 0xFF);
            ASSERT_EQ(b[10 + 2 * k], u >> 8);
        }
        ASSERT_EQ(AudioFrame::decode(b), f);
    }
}

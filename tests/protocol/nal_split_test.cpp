#include <gtest/gtest.h>

#include "TestBytes.h"
#include "protocol/NalUnits.h"

using namespace wex;
using wex::Bytes;
using wex::test::hexBytes;

namespace {

std::vector<Bytes> units(const Bytes& stream) {
    std::vector<Bytes> out;
    for (const wex::ByteView u : wex::splitAnnexB(stream))
        out.emplace_back(u.begin(), u.end());
    return out;
}

std::vector<int> types(VideoCodec codec, const std::vector<Bytes>& list) {
    std::vector<int> out;
    for (const auto& u : list)
        out.push_back(wex::nalType(codec, u));
    return out;
}

} // namespace

TEST(NALUtil, SplitsOnThreeAndFourByteStartCodes) {
    // Garbage before the first start code, a 4-byte and a 3-byte code, trailing zeros before the next.
    const Bytes stream = hexBytes("ff 07 | 00 00 00 01 67 aa bb | 00 00 01 68 cc 00 00 | 00 00 00 01 65 01 02 03");
    EXPECT_EQ(units(stream), (std::vector<Bytes>{hexBytes("67 aa bb"), hexBytes("68 cc"), hexBytes("65 01 02 03")}));
}

TEST(NALUtil, EdgesOfTheByteStream) {
    EXPECT_TRUE(units({}).empty());
    EXPECT_TRUE(units(hexBytes("00 00")).empty());
    EXPECT_TRUE(units(hexBytes("00 00 01")).empty());          // a start code with nothing behind it
    EXPECT_TRUE(units(hexBytes("00 00 01 00 00 01")).empty()); // empty units are dropped
    EXPECT_TRUE(units(hexBytes("67 42 00 1f")).empty());       // no start code at all
    EXPECT_EQ(units(hexBytes("00 00 01 41")), std::vector<Bytes>{hexBytes("41")});
    // 00 00 03 is emulation prevention inside a unit, not a boundary.
    EXPECT_EQ(units(hexBytes("00 00 01 41 00 00 03 01 7f")), std::vector<Bytes>{hexBytes("41 00 00 03 01 7f")});
}

TEST(NALUtil, UnitTypesOfBothCodecs) {
    EXPECT_EQ(wex::nalType(VideoCodec::h264, hexBytes("67")), 7);
    EXPECT_EQ(wex::nalType(VideoCodec::h264, hexBytes("65")), 5);
    EXPECT_EQ(wex::nalType(VideoCodec::hevc, hexBytes("40 01")), 32);
    EXPECT_EQ(wex::nalType(VideoCodec::hevc, hexBytes("26 01")), 19);
    EXPECT_EQ(wex::nalType(VideoCodec::hevc, Bytes{}), -1);
    EXPECT_TRUE(wex::isRandomAccessSlice(VideoCodec::hevc, hexBytes("2a 01")));  // CRA
    EXPECT_FALSE(wex::isRandomAccessSlice(VideoCodec::hevc, hexBytes("02 01"))); // trailing picture
    EXPECT_FALSE(wex::isRandomAccessSlice(VideoCodec::h264, hexBytes("41")));
}

TEST(NALUtil, ParameterSetsComeOutInVpsSpsPpsOrder) {
    // Out of order in the stream, with an SEI between them; picture units keep their order.
    const Bytes hevc = hexBytes("00 00 01 44 01 c1 | 00 00 01 4e 01 05 | 00 00 01 42 01 01 | 00 00 01 40 01 0c "
                                "| 00 00 01 26 01 af | 00 00 01 26 01 b0");
    const wex::SplitPicture p = wex::splitPicture(VideoCodec::hevc, hevc);
    EXPECT_EQ(types(VideoCodec::hevc, p.parameterSets), (std::vector<int>{32, 33, 34}));
    EXPECT_EQ(types(VideoCodec::hevc, p.units), (std::vector<int>{39, 19, 19}));
    EXPECT_EQ(p.units[1], hexBytes("26 01 af"));
    EXPECT_TRUE(p.keyframe);

    const Bytes h264 = hexBytes("00 00 01 68 ce | 00 00 01 68 cf | 00 00 01 67 42 | 00 00 01 41 9a");
    const wex::SplitPicture q = wex::splitPicture(VideoCodec::h264, h264);
    EXPECT_EQ(q.parameterSets, (std::vector<Bytes>{hexBytes("67 42"), hexBytes("68 ce"), hexBytes("68 cf")}));
    EXPECT_EQ(q.units, std::vector<Bytes>{hexBytes("41 9a")});
    EXPECT_FALSE(q.keyframe);
}

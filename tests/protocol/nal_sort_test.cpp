// Sorting the units of a received picture into parameter sets and the picture itself.
#include <gtest/gtest.h>

#include "protocol/NalUnits.h"

using namespace wex;

namespace {
wex::Bytes unit(std::initializer_list<uint8_t> b) { return wex::Bytes(b); }
std::vector<wex::Bytes> asBytes(const std::vector<wex::ByteView>& views) {
    std::vector<wex::Bytes> out;
    for (auto v : views)
        out.emplace_back(v.begin(), v.end());
    return out;
}
} // namespace

TEST(NalUnits, H264SetsAsideTheSetsAndDropsSeiAndDelimiters) {
    const auto sps1 = unit({0x67, 1}), sps2 = unit({0x67, 2}), pps = unit({0x68, 3}), sei = unit({0x06, 4}),
               aud = unit({0x09, 5}), idr = unit({0x65, 6}), slice = unit({0x41, 7});
    const std::vector<wex::Bytes> units = {aud, sps1, sps2, pps, sei, {}, idr, slice};
    const auto sorted = sortUnits(VideoCodec::h264, units);
    EXPECT_EQ(asBytes(sorted.picture), (std::vector<wex::Bytes>{idr, slice}));
    EXPECT_TRUE(sorted.randomAccess);
    ASSERT_TRUE(sorted.hasAllParameterSets(VideoCodec::h264));
    EXPECT_EQ(sorted.parameterSets(VideoCodec::h264), (std::vector<wex::Bytes>{sps2, pps}));

    const std::vector<wex::Bytes> one = {slice};
    const auto p = sortUnits(VideoCodec::h264, one);
    EXPECT_FALSE(p.randomAccess);
    EXPECT_FALSE(p.hasAllParameterSets(VideoCodec::h264));
    EXPECT_FALSE(p.parameterSets(VideoCodec::h264));
}

TEST(NalUnits, HevcNeedsAllThreeSetsAndKnowsItsRandomAccessSlices) {
    const auto vps = unit({32 << 1, 1}), sps = unit({33 << 1, 1}), pps = unit({34 << 1, 1});
    const auto idr = unit({19 << 1, 1}), cra = unit({21 << 1, 1}), trail = unit({1 << 1, 1}), sei = unit({39 << 1, 1});
    const std::vector<wex::Bytes> key = {vps, sps, pps, idr}, open = {cra}, rest = {sps, pps, sei, trail};
    auto s = sortUnits(VideoCodec::hevc, key);
    EXPECT_EQ(s.parameterSets(VideoCodec::hevc), (std::vector<wex::Bytes>{vps, sps, pps}));
    EXPECT_TRUE(s.randomAccess);
    EXPECT_TRUE(sortUnits(VideoCodec::hevc, open).randomAccess);
    s = sortUnits(VideoCodec::hevc, rest);
    EXPECT_FALSE(s.hasAllParameterSets(VideoCodec::hevc));
    EXPECT_FALSE(s.randomAccess);
    EXPECT_EQ(asBytes(s.picture), (std::vector<wex::Bytes>{sei, trail}));
    // The same first byte means another type under the other codec.
    EXPECT_EQ(nalType(VideoCodec::h264, vps), 0);
    EXPECT_EQ(nalType(VideoCodec::hevc, vps), 32);
    EXPECT_EQ(nalType(VideoCodec::hevc, {}), -1);
}

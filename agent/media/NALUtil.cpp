#include "agent/media/NALUtil.h"

#include <algorithm>

namespace dovrel::agent::NALUtil {

namespace {

// Position of the next 00 00 01 at or after `from`, or the stream's size.
std::size_t findStartCode(wex::ByteView s, std::size_t from) {
    for (std::size_t i = from; i + 3 <= s.size();) {
        if (s[i + 2] > 1) {
            i += 3; // no start code can cover s[i + 2]
        } else if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
            return i;
        } else {
            ++i;
        }
    }
    return s.size();
}

// Order of parameter sets in front of a keyframe: VPS, SPS, PPS.
int parameterSetRank(VideoCodec codec, int type) {
    if (codec == VideoCodec::h264) return type == 7 ? 1 : 2;
    return type - 32;
}

} // namespace

std::vector<wex::ByteView> splitAnnexB(wex::ByteView stream) {
    std::vector<wex::ByteView> units;
    std::size_t at = findStartCode(stream, 0);
    while (at < stream.size()) {
        const std::size_t begin = at + 3;
        const std::size_t next = findStartCode(stream, begin);
        std::size_t end = next;
        while (end > begin && stream[end - 1] == 0)
            --end; // trailing zeros and the 4-byte code's first zero
        if (end > begin) units.push_back(stream.subspan(begin, end - begin));
        at = next;
    }
    return units;
}

int unitType(VideoCodec codec, wex::ByteView unit) {
    if (unit.empty()) return -1;
    return codec == VideoCodec::h264 ? (unit[0] & 0x1F) : ((unit[0] >> 1) & 0x3F);
}

bool isParameterSet(VideoCodec codec, wex::ByteView unit) {
    const int t = unitType(codec, unit);
    return codec == VideoCodec::h264 ? (t == 7 || t == 8) : (t >= 32 && t <= 34);
}

bool isRandomAccessSlice(VideoCodec codec, wex::ByteView unit) {
    const int t = unitType(codec, unit);
    return codec == VideoCodec::h264 ? t == 5 : (t >= 16 && t <= 23);
}

SplitPicture splitPicture(VideoCodec codec, wex::ByteView annexB) {
    SplitPicture out;
    std::vector<std::pair<int, wex::ByteView>> sets;
    for (const wex::ByteView unit : splitAnnexB(annexB)) {
        if (isParameterSet(codec, unit)) {
            sets.emplace_back(parameterSetRank(codec, unitType(codec, unit)), unit);
            continue;
        }
        if (isRandomAccessSlice(codec, unit)) out.keyframe = true;
        out.units.emplace_back(unit.begin(), unit.end());
    }
    std::stable_sort(sets.begin(), sets.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    out.parameterSets.reserve(sets.size());
    for (const auto& [rank, unit] : sets)
        out.parameterSets.emplace_back(unit.begin(), unit.end());
    return out;
}

} // namespace dovrel::agent::NALUtil

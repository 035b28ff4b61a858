#include "protocol/NalUnits.h"

#include <algorithm>

namespace wex {

namespace {
namespace h264 {
constexpr int idr = 5, sei = 6, sps = 7, pps = 8, aud = 9;
}
namespace hevc {
constexpr int firstIrap = 16, lastIrap = 23, vps = 32, sps = 33, pps = 34;
}

// Position of the next 00 00 01 at or after `from`, or the stream's size.
std::size_t findStartCode(ByteView s, std::size_t from) {
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
    if (codec == VideoCodec::h264) return type == h264::sps ? 1 : 2;
    return type - hevc::vps;
}
} // namespace

int nalType(VideoCodec codec, ByteView unit) {
    if (unit.empty()) return -1;
    return codec == VideoCodec::h264 ? unit[0] & 0x1F : (unit[0] >> 1) & 0x3F;
}

bool isParameterSet(VideoCodec codec, ByteView unit) {
    const int t = nalType(codec, unit);
    return codec == VideoCodec::h264 ? (t == h264::sps || t == h264::pps) : (t >= hevc::vps && t <= hevc::pps);
}

bool isRandomAccessSlice(VideoCodec codec, ByteView unit) {
    const int t = nalType(codec, unit);
    return codec == VideoCodec::h264 ? t == h264::idr : (t >= hevc::firstIrap && t <= hevc::lastIrap);
}

std::vector<ByteView> splitAnnexB(ByteView stream) {
    std::vector<ByteView> units;
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

SplitPicture splitPicture(VideoCodec codec, ByteView annexB) {
    SplitPicture out;
    std::vector<std::pair<int, ByteView>> sets;
    for (const ByteView unit : splitAnnexB(annexB)) {
        if (isParameterSet(codec, unit)) {
            sets.emplace_back(parameterSetRank(codec, nalType(codec, unit)), unit);
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

bool SortedUnits::hasAllParameterSets(VideoCodec codec) const {
    return sps && pps && (codec == VideoCodec::h264 || vps);
}

std::optional<std::vector<Bytes>> SortedUnits::parameterSets(VideoCodec codec) const {
    if (!hasAllParameterSets(codec)) return std::nullopt;
    std::vector<Bytes> out;
    if (codec == VideoCodec::hevc) out.emplace_back(vps->begin(), vps->end());
    out.emplace_back(sps->begin(), sps->end());
    out.emplace_back(pps->begin(), pps->end());
    return out;
}

SortedUnits sortUnits(VideoCodec codec, const std::vector<Bytes>& units) {
    SortedUnits out;
    for (const auto& u : units) {
        const int type = nalType(codec, u);
        if (type < 0) continue;
        const ByteView view(u);
        if (codec == VideoCodec::h264) {
            switch (type) {
            case h264::sps: out.sps = view; continue;
            case h264::pps: out.pps = view; continue;
            case h264::sei:
            case h264::aud: continue;
            default: break;
            }
        } else {
            switch (type) {
            case hevc::vps: out.vps = view; continue;
            case hevc::sps: out.sps = view; continue;
            case hevc::pps: out.pps = view; continue;
            default: break;
            }
        }
        if (isRandomAccessSlice(codec, view)) out.randomAccess = true;
        out.picture.push_back(view);
    }
    return out;
}

} // namespace wex

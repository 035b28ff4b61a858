#include "controller/client/NalUnits.h"

namespace dovrel::controller {

namespace {
namespace h264 {
constexpr int idr = 5, sei = 6, sps = 7, pps = 8, aud = 9;
}
namespace hevc {
constexpr int firstIrap = 16, lastIrap = 23, vps = 32, sps = 33, pps = 34;
}
} // namespace

int nalType(VideoCodec codec, wex::ByteView unit) {
    if (unit.empty()) return -1;
    return codec == VideoCodec::h264 ? unit[0] & 0x1F : (unit[0] >> 1) & 0x3F;
}

bool SortedUnits::hasAllParameterSets(VideoCodec codec) const {
    return sps && pps && (codec == VideoCodec::h264 || vps);
}

std::optional<std::vector<wex::Bytes>> SortedUnits::parameterSets(VideoCodec codec) const {
    if (!hasAllParameterSets(codec)) return std::nullopt;
    std::vector<wex::Bytes> out;
    if (codec == VideoCodec::hevc) out.emplace_back(vps->begin(), vps->end());
    out.emplace_back(sps->begin(), sps->end());
    out.emplace_back(pps->begin(), pps->end());
    return out;
}

SortedUnits sortUnits(VideoCodec codec, const std::vector<wex::Bytes>& units) {
    SortedUnits out;
    for (const auto& u : units) {
        const int type = nalType(codec, u);
        if (type < 0) continue;
        const wex::ByteView view(u);
        if (codec == VideoCodec::h264) {
            switch (type) {
            case h264::sps: out.sps = view; continue;
            case h264::pps: out.pps = view; continue;
            case h264::sei:
            case h264::aud: continue;
            case h264::idr: out.randomAccess = true; break;
            default: break;
            }
        } else {
            switch (type) {
            case hevc::vps: out.vps = view; continue;
            case hevc::sps: out.sps = view; continue;
            case hevc::pps: out.pps = view; continue;
            default:
                if (type >= hevc::firstIrap && type <= hevc::lastIrap) out.randomAccess = true;
                break;
            }
        }
        out.picture.push_back(view);
    }
    return out;
}

} // namespace dovrel::controller

// Annex B splitting and picture splitting of the agent's NAL utilities: any bytes give units that lie
// inside the input, are never empty, never hold a start code and never end in a zero byte; the split
// picture holds every unit once, parameter sets ordered VPS, SPS, PPS.
#include <cstdlib>
#include <string>

#include "FuzzSeeds.h"
#include "protocol/NalUnits.h"

using namespace wex;
using wex::Bytes;
using wex::ByteView;

namespace {

Bytes hex(const char* text) {
    Bytes out;
    for (const char* p = text; p[0] && p[1]; p += 2)
        out.push_back(static_cast<uint8_t>(std::strtoul(std::string(p, 2).c_str(), nullptr, 16)));
    return out;
}

void check(VideoCodec codec, ByteView in) {
    const std::vector<ByteView> units = wex::splitAnnexB(in);
    std::size_t bytes = 0;
    for (const ByteView u : units) {
        if (u.empty() || u.back() == 0) std::abort();
        if (u.data() < in.data() || u.data() + u.size() > in.data() + in.size()) std::abort();
        for (std::size_t i = 0; i + 2 < u.size(); ++i)
            if (u[i] == 0 && u[i + 1] == 0 && u[i + 2] == 1) std::abort();
        bytes += u.size();
    }
    if (bytes > in.size()) std::abort();

    const wex::SplitPicture p = wex::splitPicture(codec, in);
    if (p.units.size() + p.parameterSets.size() != units.size()) std::abort();
    int lastRank = -1;
    for (const Bytes& s : p.parameterSets) {
        if (!wex::isParameterSet(codec, s)) std::abort();
        const int type = wex::nalType(codec, s);
        const int rank = codec == VideoCodec::h264 ? (type == 7 ? 0 : 1) : type - 32;
        if (rank < lastRank) std::abort();
        lastRank = rank;
    }
    bool keyframe = false;
    for (const Bytes& u : p.units) {
        if (wex::isParameterSet(codec, u)) std::abort();
        keyframe = keyframe || wex::isRandomAccessSlice(codec, u);
    }
    if (keyframe != p.keyframe) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const ByteView in(data, size);
    check(VideoCodec::h264, in);
    check(VideoCodec::hevc, in);
    return 0;
}

// Beginnings of real libx264 and libx265 output (64x64, ultrafast, zerolatency): an IDR with its
// parameter sets, then a P picture; and the same units shuffled and with other start codes.
std::vector<Bytes> fuzzSeeds() {
    const Bytes h264Idr = hex("000000016742c00dda109a10000003001000000303c8f142aa0000000168ce3c800000000165888406a82120"
                              "1c000446400048e40007a6d90388000806991c40004034c8e2000201a6471000100d32388000806991c4");
    const Bytes h264P = hex("00000001419a201aae20645006280314018a00c5006280314018a00c5006280314018a00c500");
    const Bytes hevcIdr =
        hex("0000000140010c01ffff01600000030090000003000003003cba02400000000142010101600000030090000003"
            "000003003ca020810596e92930b9a020000003002000000303c10000000144"
            "01c07181120000012801ac1ae0"
            "f06ae84f42d8c2a2536b30470f7d50c7b70575bc1f8b198dfe7d0b93f357ff5763fe79d9");
    const Bytes hevcP = hex("000000010201d0097880d7d54622efb2161041a3abbda5dead7e9a33ff9b663cb67d16736cf1e368c32c");
    const Bytes shuffled = hex("ff0000016844000000000001674200000165aa0000000000000140010000014201");
    return {h264Idr, h264P, hevcIdr, hevcP, shuffled, Bytes{}, hex("000001"), hex("0000000000000001")};
}

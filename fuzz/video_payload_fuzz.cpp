// Video payloads: a decoded payload re-encodes to the bytes it was read from.
#include <cstdlib>

#include "FuzzSeeds.h"
#include "protocol/VideoPayload.h"
#include "protocol/WEXError.h"

using namespace wex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    try {
        const VideoNALPayload p = decodeVideoNALPayload(ByteView(data, size));
        const Bytes again = encodeVideoNALPayload(p.header, p.nals);
        if (again.size() > size || !std::equal(again.begin(), again.end(), data)) std::abort();
    } catch (const WEXError&) {
    }
    return 0;
}

std::vector<Bytes> fuzzSeeds() {
    const VideoNALHeader h{1, 2, 0, NALFlags{NALFlag::keyframe, NALFlag::config, NALFlag::codecH264}, 1920, 1080, 0, 0};
    return {encodeVideoNALPayload(h, {Bytes{0x67, 1, 2}, Bytes{0x68, 3}, Bytes(100, 0x65)}),
            encodeVideoNALPayload(h, {}), encodeVideoNALPayload(h, {Bytes{}})};
}

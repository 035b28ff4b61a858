// Frame header, plain frame and the sub-headers: any bytes either decode to values that re-encode to the
// same bytes, or fail with a WEXError.
#include <cstdlib>

#include "FuzzSeeds.h"
#include "protocol/CommonHeader.h"
#include "protocol/Frame.h"
#include "protocol/WEXError.h"

using namespace wex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const ByteView in(data, size);
    try {
        const CommonHeader h = CommonHeader::decode(in);
        const Bytes again = h.encoded();
        if (!std::equal(again.begin(), again.end(), in.begin())) std::abort();
        const PlainFrame f = parseFrame(in);
        if (f.payload.size() != h.length) std::abort();
    } catch (const WEXError&) {
    }
    try {
        ByteReader r(in);
        SeqTimingHeader::decode(r);
        FragmentHeader::decode(r);
    } catch (const WEXError&) {
    }
    return 0;
}

std::vector<Bytes> fuzzSeeds() {
    return {
        buildFrame(Stream::control, 1, 0, {}, Bytes{0, 1, 2}),
        buildFrame(Stream::video, 1, 7, HeaderFlags{HeaderFlag::fragment, HeaderFlag::endFrag}, Bytes(40, 9)),
        CommonHeader{Stream::audio, 1, 0xFFFFFFFF, 0xFFFF, HeaderFlag::encryptedApp}.encoded(),
    };
}

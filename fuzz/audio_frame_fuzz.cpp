// Audio frames: the announced sample count never drives an allocation beyond the input, and a decoded
// frame re-encodes to the bytes it came from.
#include "FuzzSeeds.h"
#include "RoundTrip.h"
#include "protocol/AudioFrame.h"

using namespace wex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzz::checkRoundTrip<AudioFrame>(ByteView(data, size), fuzz::Exact::prefix);
    return 0;
}

std::vector<Bytes> fuzzSeeds() {
    return {AudioFrame{48000, 2, {1, -2, 32767, -32768}}.encode(), AudioFrame{44100, 1, {}}.encode(),
            AudioFrame{48000, 2, std::vector<int16_t>(480, 0x1234)}.encode()};
}

// Input batches: a decoded batch re-encodes to the bytes it came from (text repaired) and back.

#include "FuzzSeeds.h"
#include "RoundTrip.h"
#include "protocol/InputMessages.h"

using namespace wex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const ByteView in(data, size);
    fuzz::checkRoundTrip<InputBatch>(in, fuzz::Exact::value);
    return 0;
}

std::vector<Bytes> fuzzSeeds() {
    PenEvent pen;
    pen.x = 65536;
    pen.pressure = 0x8000;
    pen.tiltX = -9000;
    pen.contact = PenContact::touching;
    pen.buttons = PenButton::barrel;
    pen.flags = PenFlags{PenFlag::pressureValid, PenFlag::tiltValid};
    return {
        InputBatch{{{{}, MouseMoveEvent{0, 65536, 131072, 1}}}}.encode(),
        InputBatch{{{EventFlag::reliable, MouseButtonEvent{0, 10, 20, 1, 1, 1}},
                    {EventFlag::coalesced, MouseDragEvent{0, 11, 21, 1}},
                    {{}, ScrollEvent{0, 0, 0, -3, 120, 1}},
                    {EventFlag::reliable, KeyEvent{0x00070004, 1, 0x8}},
                    {{}, pen},
                    {EventFlag::reliable, TextEvent{"h\xC3\xA9llo"}}}}
            .encode(),
        Bytes{0},
    };
}

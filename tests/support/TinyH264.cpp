#include "TinyH264.h"

namespace dovrel::test {

namespace {

// Bits most significant first and Exp-Golomb codes, made into a NAL unit with emulation prevention.
struct Bits {
    wex::Bytes rbsp;
    int filled = 0;
    void u(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) {
            if (filled++ % 8 == 0) rbsp.push_back(0);
            rbsp.back() = static_cast<uint8_t>(rbsp.back() | (((v >> i) & 1) << (7 - (filled - 1) % 8)));
        }
    }
    void ue(uint32_t v) {
        int n = 0;
        while (((uint64_t{v} + 1) >> (n + 1)) != 0)
            ++n;
        u(0, n);
        u(v + 1, n + 1);
    }
    wex::Bytes nal(uint8_t header) {
        u(1, 1);
        wex::Bytes out{header};
        int zeros = 0;
        for (const uint8_t b : rbsp) {
            if (zeros == 2 && b <= 3) out.push_back(3), zeros = 0;
            out.push_back(b);
            zeros = b == 0 ? zeros + 1 : 0;
        }
        return out;
    }
};

uint32_t macroblocks(int pixels) { return static_cast<uint32_t>((pixels + 15) / 16); }

} // namespace

std::vector<wex::Bytes> TinyH264::keyframe(int width, int height) {
    Bits sps; // baseline, level 5.1, frame numbers of 4 bits, picture order from them, one reference
    sps.u(0x42C033, 24);
    sps.ue(0), sps.ue(0), sps.ue(2), sps.ue(1), sps.u(0, 1);
    sps.ue(macroblocks(width) - 1), sps.ue(macroblocks(height) - 1);
    sps.u(0b1100, 4); // frames only, direct 8x8 inference, no cropping, no VUI
    Bits pps;         // CAVLC, one slice group, deblocking control present
    pps.ue(0), pps.ue(0), pps.u(0, 2), pps.ue(0), pps.ue(0), pps.ue(0), pps.u(0, 3);
    pps.ue(0), pps.ue(0), pps.ue(0), pps.u(0b100, 3);
    Bits idr; // an I slice: each macroblock Intra 16x16, DC prediction, no residual
    idr.ue(0), idr.ue(7), idr.ue(0), idr.u(0, 4), idr.ue(0), idr.u(0, 2), idr.ue(0), idr.ue(1);
    for (uint32_t i = macroblocks(width) * macroblocks(height); i > 0; --i)
        idr.u(0b00100111, 8);
    return {sps.nal(0x67), pps.nal(0x68), idr.nal(0x65)};
}

std::vector<wex::Bytes> TinyH264::repeat(int width, int height, uint32_t frameNum) {
    Bits p; // a P slice whose macroblocks are all skipped
    p.ue(0), p.ue(5), p.ue(0), p.u(frameNum % 16, 4), p.u(0, 3), p.ue(0), p.ue(1);
    p.ue(macroblocks(width) * macroblocks(height));
    return {p.nal(0x41)};
}

} // namespace dovrel::test

#include "TinyH264.h"

namespace dovrel::test {

namespace {

// Writes bits most significant first, with Exp-Golomb codes, into a raw byte sequence payload.
class Bits {
public:
    void u(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i)
            bit((value >> i) & 1);
    }
    void ue(uint32_t value) {
        const uint64_t v = uint64_t{value} + 1;
        int length = 0;
        while ((v >> (length + 1)) != 0)
            ++length;
        u(0, length);
        for (int i = length; i >= 0; --i)
            bit(static_cast<uint32_t>((v >> i) & 1));
    }
    void se(int32_t value) {
        ue(value <= 0 ? static_cast<uint32_t>(-2 * value) : static_cast<uint32_t>(2 * value - 1));
    }
    // The stop bit and the zeros to the byte's end, then the emulation prevention of a NAL unit.
    wex::Bytes nal(uint8_t header) {
        bit(1);
        while (filled_ != 0)
            bit(0);
        wex::Bytes out{header};
        int zeros = 0;
        for (const uint8_t b : rbsp_) {
            if (zeros == 2 && b <= 3) {
                out.push_back(3);
                zeros = 0;
            }
            out.push_back(b);
            zeros = b == 0 ? zeros + 1 : 0;
        }
        return out;
    }

private:
    void bit(uint32_t b) {
        current_ = static_cast<uint8_t>((current_ << 1) | (b & 1));
        if (++filled_ == 8) {
            rbsp_.push_back(current_);
            current_ = 0;
            filled_ = 0;
        }
    }
    wex::Bytes rbsp_;
    uint8_t current_ = 0;
    int filled_ = 0;
};

constexpr int log2MaxFrameNum = 4;

uint32_t macroblocks(int pixels) { return static_cast<uint32_t>((pixels + 15) / 16); }

wex::Bytes sequenceSet(int width, int height) {
    Bits b;
    b.u(66, 8);   // baseline
    b.u(0xC0, 8); // constraint sets 0 and 1
    b.u(51, 8);   // level
    b.ue(0);      // sequence set 0
    b.ue(log2MaxFrameNum - 4);
    b.ue(2); // picture order from the frame number
    b.ue(1); // one reference
    b.u(0, 1);
    b.ue(macroblocks(width) - 1);
    b.ue(macroblocks(height) - 1);
    b.u(1, 1); // frames only
    b.u(1, 1); // direct 8x8 inference
    b.u(0, 1); // no cropping
    b.u(0, 1); // no VUI
    return b.nal(0x67);
}

wex::Bytes pictureSet() {
    Bits b;
    b.ue(0);
    b.ue(0);
    b.u(0, 1); // CAVLC
    b.u(0, 1);
    b.ue(0);
    b.ue(0);
    b.ue(0);
    b.u(0, 1);
    b.u(0, 2);
    b.se(0);
    b.se(0);
    b.se(0);
    b.u(1, 1); // deblocking control present
    b.u(0, 1);
    b.u(0, 1);
    return b.nal(0x68);
}

} // namespace

std::vector<wex::Bytes> TinyH264::keyframe(int width, int height) {
    Bits b;
    b.ue(0); // first macroblock
    b.ue(7); // I, every slice of the picture
    b.ue(0);
    b.u(0, log2MaxFrameNum);
    b.ue(0);   // IDR picture 0
    b.u(0, 1); // no_output_of_prior_pics
    b.u(0, 1); // not long term
    b.se(0);
    b.ue(1); // no deblocking
    const uint32_t count = macroblocks(width) * macroblocks(height);
    for (uint32_t i = 0; i < count; ++i) {
        b.ue(3);   // I_16x16, DC prediction, no coded blocks
        b.ue(0);   // chroma DC prediction
        b.se(0);   // no QP change
        b.u(1, 1); // luma DC: no coefficients
    }
    return {sequenceSet(width, height), pictureSet(), b.nal(0x65)};
}

std::vector<wex::Bytes> TinyH264::repeat(int width, int height, uint32_t frameNum) {
    Bits b;
    b.ue(0);
    b.ue(5); // P, every slice of the picture
    b.ue(0);
    b.u(frameNum % (1u << log2MaxFrameNum), log2MaxFrameNum);
    b.u(0, 1); // default reference count
    b.u(0, 1); // no list modification
    b.u(0, 1); // sliding window
    b.se(0);
    b.ue(1);
    b.ue(macroblocks(width) * macroblocks(height)); // every macroblock skipped
    return {b.nal(0x41)};
}

} // namespace dovrel::test

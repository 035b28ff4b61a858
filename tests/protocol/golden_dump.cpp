// Prints encodings as "name hex" lines so that an independent implementation can check them.
#include <cstdio>
#include <string>

#include "protocol/CRC8.h"
#include "protocol/CommonHeader.h"
#include "protocol/Frame.h"
#include "protocol/MagicPacket.h"
#include "protocol/Q1616.h"
#include "protocol/VideoPayload.h"
#include "protocol/WakeMessages.h"

using namespace wex;

namespace {

void print(const char* name, const Bytes& b) {
    std::printf("%s ", name);
    for (uint8_t v : b) std::printf("%02x", v);
    std::printf("\n");
}

Bytes i32Bytes(int32_t v) {
    ByteWriter w;
    w.i32(v);
    return w.bytes;
}

} // namespace

int main() {
    const std::string digits = "123456789";
    print("crc_digits", {CRC8::compute(Bytes(digits.begin(), digits.end()))});
    for (int i = 0; i < 256; i += 17) {
        Bytes seq;
        for (int k = 0; k < i; ++k) seq.push_back(static_cast<uint8_t>(k * 31 + 7));
        print(("crc_seq_" + std::to_string(i)).c_str(), {CRC8::compute(seq)});
    }
    print("header_control", CommonHeader{Stream::control, 13, 1, 10, HeaderFlag::encryptedApp}.encoded());
    print("header_video", CommonHeader{Stream::video, 1, 0xDEADBEEF, 1000, HeaderFlags::fromRaw(0x15)}.encoded());
    print("header_input", CommonHeader{Stream::input, 1, 42, 65535, {}}.encoded());
    print("header_audio", CommonHeader{Stream::audio, 1, 7, 3840, HeaderFlag::encryptedApp}.encoded());
    print("frame_plain", buildFrame(Stream::control, 1, 0, {}, Bytes{0x00, 0x2A, 0x01}));
    ByteWriter seq;
    SeqTimingHeader{0x01020304, 0xFFFFFFFE}.encode(seq);
    FragmentHeader{77, 2, 9}.encode(seq);
    print("seq_frag", seq.bytes);
    print("video_payload", encodeVideoNALPayload({1, 2, 3, NALFlags{NALFlag::keyframe, NALFlag::config}, 1920, 1080, 0, 0},
                                                 {Bytes{0xAA, 0xBB, 0xCC}, Bytes{}}));
    print("q1616_1.5", i32Bytes(Q1616::encode(1.5)));
    print("q1616_-0.25", i32Bytes(Q1616::encode(-0.25)));
    print("q1616_-1234.5678", i32Bytes(Q1616::encode(-1234.5678)));
    print("magic", MagicPacket::bytes({0x01, 0x02, 0x03, 0x04, 0x05, 0x06}));
    print("wake_request", WakePeerRequest{0x0102, {1, 2, 3, 4, 5, 6}, 0xC0A80114u, 1, "Den"}.encode());
    print("wake_ack", WakePeerAck{7, 0, 3, "ok"}.encode());
    return 0;
}

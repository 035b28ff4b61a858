// Prints encodings as "name hex" lines so that an independent implementation can check them.
#include <cstdio>
#include <string>

#include "protocol/AudioFrame.h"
#include "protocol/CRC8.h"
#include "protocol/CommonHeader.h"
#include "protocol/ControlMessages.h"
#include "protocol/FileMessages.h"
#include "protocol/Frame.h"
#include "protocol/InputMessages.h"
#include "protocol/MagicPacket.h"
#include "protocol/Q1616.h"
#include "protocol/VideoPayload.h"
#include "protocol/WakeMessages.h"

using namespace wex;

namespace {

void print(const char* name, const Bytes& b) {
    std::printf("%s ", name);
    for (uint8_t v : b)
        std::printf("%02x", v);
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
        for (int k = 0; k < i; ++k)
            seq.push_back(static_cast<uint8_t>(k * 31 + 7));
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
    print("video_payload",
          encodeVideoNALPayload({1, 2, 3, NALFlags{NALFlag::keyframe, NALFlag::config}, 1920, 1080, 0, 0},
                                {Bytes{0xAA, 0xBB, 0xCC}, Bytes{}}));
    print("q1616_1.5", i32Bytes(Q1616::encode(1.5)));
    print("q1616_-0.25", i32Bytes(Q1616::encode(-0.25)));
    print("q1616_-1234.5678", i32Bytes(Q1616::encode(-1234.5678)));
    print("magic", MagicPacket::bytes({0x01, 0x02, 0x03, 0x04, 0x05, 0x06}));
    print("wake_request", WakePeerRequest{0x0102, {1, 2, 3, 4, 5, 6}, 0xC0A80114u, 1, "Den"}.encode());
    print("wake_ack", WakePeerAck{7, 0, 3, "ok"}.encode());

    print("ping", Ping{0x0102, 0x1122334455667788}.encode());
    print("pong", Pong{7, 1000, 0xFEDCBA9876543210}.encode());
    print("stream_start", StreamStart{0x0A0B, 3}.encode());
    print("session_command", SessionCommand{4, SessionCmd::lockWorkstation, 0x80}.encode());
    CursorMsg cursor;
    cursor.reqId = 0x0304;
    cursor.displayId = 1;
    cursor.flags = CursorFlags{CursorFlag::visible, CursorFlag::shapeIncluded};
    cursor.x = -5;
    cursor.y = 700;
    cursor.hotX = 3;
    cursor.hotY = 4;
    cursor.shapeW = 2;
    cursor.shapeH = 1;
    cursor.shape = {1, 2, 3, 4, 5, 6, 7, 8};
    print("cursor", cursor.encode());
    print("display_list", DisplayList{0,
                                      {{1, 2560, 1440, -1920, -20, DisplayFlag::primary, "Built-in"},
                                       {2, 1024, 768, 2560, 0, DisplayFlag::streaming,
                                        "\xC3\xA9"
                                        "cran"}}}
                              .encode());
    print("clipboard", Clipboard(0, "hi there").encode());
    print("deck_stat", DeckStat{0, 12, 40, -1, 0x05}.encode());
    print("error_msg", ErrorMsg(9, ErrCode::refused, "Malformed wake request.").encode());
    print("audio_frame", AudioFrame{48000, 2, {1, -2, 32767, -32768, 0x1234}}.encode());
    print("file_offer", FileOffer{1, 0xCAFEBABE, 123456789012, "report.pdf"}.encode());
    print("file_chunk", FileChunk{1, 0xCAFEBABE, 65536, {9, 8, 7}}.encode());
    print("file_end", FileEnd(1, 0xCAFEBABE, true).encode());
    print("clip_files_offer", ClipFilesOffer{2, 77, {{"a.png", 1000}, {"notes.txt", 0}}}.encode());
    print("clip_file_pull", ClipFilePull{3, 77, 1}.encode());
    print("clip_file_data", ClipFileData(3, 77, 1, 4096, true, {0xAA, 0xBB}).encode());
    PenEvent pen{3,
                 -65536,
                 98304,
                 0xFFFF,
                 -9000,
                 4500,
                 359,
                 PenContact::leaving,
                 PenButton::eraserEnd,
                 PenFlags{PenFlag::pressureValid, PenFlag::twistValid},
                 123456789};
    print("input_batch", InputBatch{{{{}, MouseMoveEvent{0, 65536, 131072, 1}},
                                     {EventFlag::reliable, MouseButtonEvent{1, -10, 20, 3, 1, 2}},
                                     {EventFlag::coalesced, MouseDragEvent{0, 5, 6, 4}},
                                     {{}, ScrollEvent{2, 7, 8, -120, 240, 3}},
                                     {EventFlag::reliable, KeyEvent{0x0007002C, 0, 0x000F}},
                                     {{}, pen},
                                     {EventFlag::reliable, TextEvent{"h\xC3\xA9"}}}}
                             .encode());
    return 0;
}

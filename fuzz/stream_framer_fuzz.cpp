// The stream framer both programs read their control connection and relay stream with, before any
// authentication: any bytes, cut into any reads, give the same frames as one read; every frame is a
// whole frame whose header decodes and whose size its header gives; frames plus skipped bytes never
// exceed what came in, and what is held never exceeds one frame.
#include <cstdlib>

#include "FuzzSeeds.h"
#include "protocol/Frame.h"
#include "protocol/StreamFramer.h"

using namespace wex;

namespace {
std::vector<Bytes> drain(StreamFramer& f) {
    std::vector<Bytes> out;
    while (auto frame = f.next()) {
        if (frame->bytes.size() != frameSpan(frame->header)) std::abort();
        if (!(CommonHeader::decode(frame->bytes) == frame->header)) std::abort();
        out.push_back(std::move(frame->bytes));
    }
    return out;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte chooses the read size of the second pass.
    const std::size_t step = data[0] % 17 + 1;
    const ByteView in(data + 1, size - 1);

    StreamFramer whole;
    whole.append(in);
    const std::vector<Bytes> once = drain(whole);

    StreamFramer pieces;
    std::vector<Bytes> cut;
    for (std::size_t at = 0; at < in.size(); at += step) {
        pieces.append(in.subspan(at, std::min(step, in.size() - at)));
        for (auto& f : drain(pieces))
            cut.push_back(std::move(f));
    }
    if (cut != once) std::abort();
    std::size_t framed = 0;
    for (const auto& f : once)
        framed += f.size();
    if (framed + whole.skipped() + whole.buffered() != in.size()) std::abort();
    if (whole.buffered() > CommonHeader::size + 65535 + 16) std::abort();
    return 0;
}

std::vector<Bytes> fuzzSeeds() {
    Bytes two = buildFrame(Stream::control, 2, 0, {}, Bytes{1, 2, 3});
    const Bytes sealed = [] {
        Bytes f = buildFrame(Stream::video, 1, 7, HeaderFlags{HeaderFlag::encryptedApp}, Bytes(20, 9));
        f.insert(f.end(), 16, 0xEE);
        return f;
    }();
    two.insert(two.end(), sealed.begin(), sealed.end());
    Bytes garbage{3, 'D', 'R', 'L', 'Y', 0x52, 0x52, 1};
    garbage.insert(garbage.end(), two.begin(), two.end());
    Bytes first{5};
    first.insert(first.end(), two.begin(), two.end());
    return {first, garbage};
}

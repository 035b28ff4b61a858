#include "protocol/AudioFrame.h"

#include "protocol/ByteReader.h"
#include "protocol/ByteWriter.h"
#include "protocol/WEXError.h"

namespace wex {

Bytes AudioFrame::encode() const {
    ByteWriter w(static_cast<int64_t>(headerSize + 2 * pcm.size()));
    w.u32(sampleRate);
    w.u8(channels);
    w.u32(static_cast<uint32_t>(pcm.size()));
    Bytes& out = w.bytes;
    const std::size_t at = out.size();
    out.resize(at + 2 * pcm.size());
    uint8_t* p = out.data() + at;
    for (const int16_t s : pcm) {
        const auto u = static_cast<uint16_t>(s);
        *p++ = static_cast<uint8_t>(u);
        *p++ = static_cast<uint8_t>(u >> 8);
    }
    return std::move(out);
}

AudioFrame AudioFrame::decode(ByteView payload) {
    ByteReader r(payload);
    AudioFrame f;
    f.sampleRate = r.u32();
    f.channels = r.u8();
    const uint32_t count = r.u32();
    // Twice a u32 needs 33 bits; a count the payload cannot hold fails before anything is reserved.
    const uint64_t bytes = uint64_t{count} * 2;
    if (bytes > static_cast<uint64_t>(r.remaining())) throw WEXError::truncated();
    const uint8_t* p = payload.data() + r.offset();
    f.pcm.resize(count);
    for (uint32_t i = 0; i < count; ++i, p += 2) {
        f.pcm[i] = static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
    }
    return f;
}

} // namespace wex

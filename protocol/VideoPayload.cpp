#include "protocol/VideoPayload.h"

#include <algorithm>

#include "protocol/WEXError.h"

namespace wex {

void VideoNALHeader::encode(ByteWriter& w) const {
    w.u32(ptsUs);
    w.u32(frameId);
    w.u8(displayId);
    w.u8(nalFlags.rawValue);
    w.u16(width);
    w.u16(height);
    w.u32(inputWatermark);
    w.u16(nalCount);
}

VideoNALHeader VideoNALHeader::decode(ByteReader& r) {
    if (r.remaining() < static_cast<int64_t>(size)) throw WEXError::truncated();
    VideoNALHeader h;
    h.ptsUs = r.u32();
    h.frameId = r.u32();
    h.displayId = r.u8();
    h.nalFlags = NALFlags::fromRaw(r.u8());
    h.width = r.u16();
    h.height = r.u16();
    h.inputWatermark = r.u32();
    h.nalCount = r.u16();
    return h;
}

Bytes packNALs(const std::vector<Bytes>& nals) {
    std::size_t total = 0;
    for (const auto& n : nals) total += 4 + n.size();
    ByteWriter w(static_cast<int64_t>(total));
    for (const auto& n : nals) w.blob(n);
    return std::move(w.bytes);
}

std::vector<Bytes> unpackNALs(ByteReader& r, uint32_t count) {
    std::vector<Bytes> nals;
    // Each unit needs at least its 4-byte length, so the bytes present bound what is worth reserving.
    nals.reserve(std::min<uint64_t>(count, static_cast<uint64_t>(r.remaining()) / 4));
    for (uint32_t i = 0; i < count; ++i) nals.push_back(r.blob());
    return nals;
}

Bytes encodeVideoNALPayload(const VideoNALHeader& header, const std::vector<Bytes>& nals) {
    std::size_t total = VideoNALHeader::size;
    for (const auto& n : nals) total += 4 + n.size();
    ByteWriter w(static_cast<int64_t>(total));
    VideoNALHeader h = header;
    h.nalCount = static_cast<uint16_t>(nals.size());
    h.encode(w);
    for (const auto& n : nals) w.blob(n);
    return std::move(w.bytes);
}

VideoNALPayload decodeVideoNALPayload(ByteView payload) {
    ByteReader r(payload);
    VideoNALPayload p;
    p.header = VideoNALHeader::decode(r);
    p.nals = unpackNALs(r, p.header.nalCount);
    return p;
}

} // namespace wex

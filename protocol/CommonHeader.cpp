#include "protocol/CommonHeader.h"

#include "protocol/CRC8.h"
#include "protocol/WEXConstants.h"
#include "protocol/WEXError.h"

namespace wex {

Bytes CommonHeader::encoded() const {
    ByteWriter w(size);
    w.u8(WEX::headerMagic);
    w.u8(WEX::protocolMajor);
    w.u8(static_cast<uint8_t>(stream));
    w.u8(msgType);
    w.u32(sessionId);
    w.u16(length);
    w.u8(flags.rawValue);
    w.u8(CRC8::compute(w.bytes));
    return std::move(w.bytes);
}

CommonHeader CommonHeader::decode(ByteView bytes) {
    if (bytes.size() < size) throw WEXError::truncated();
    if (bytes[0] != WEX::headerMagic) throw WEXError::badMagic();
    if (bytes[1] != WEX::protocolMajor) throw WEXError::badVersion(bytes[1]);
    if (bytes[11] != CRC8::compute(bytes.first(11))) throw WEXError::badHeaderCRC();
    const auto stream = streamFromRaw(bytes[2]);
    if (!stream) throw WEXError::badStream(bytes[2]);

    ByteReader r(bytes, 3);
    CommonHeader h;
    h.stream = *stream;
    h.msgType = r.u8();
    h.sessionId = r.u32();
    h.length = r.u16();
    h.flags = HeaderFlags::fromRaw(r.u8());
    return h;
}

void SeqTimingHeader::encode(ByteWriter& w) const {
    w.u32(seq);
    w.u32(sendTsUs);
}

SeqTimingHeader SeqTimingHeader::decode(ByteReader& r) {
    if (r.remaining() < static_cast<int64_t>(size)) throw WEXError::truncated();
    SeqTimingHeader h;
    h.seq = r.u32();
    h.sendTsUs = r.u32();
    return h;
}

void FragmentHeader::encode(ByteWriter& w) const {
    w.u32(frameId);
    w.u16(fragIndex);
    w.u16(fragCount);
}

FragmentHeader FragmentHeader::decode(ByteReader& r) {
    if (r.remaining() < static_cast<int64_t>(size)) throw WEXError::truncated();
    FragmentHeader h;
    h.frameId = r.u32();
    h.fragIndex = r.u16();
    h.fragCount = r.u16();
    return h;
}

} // namespace wex

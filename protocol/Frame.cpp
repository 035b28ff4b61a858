#include "protocol/Frame.h"

#include "protocol/WEXConstants.h"
#include "protocol/WEXError.h"

namespace wex {

Bytes buildFrame(Stream stream, uint8_t msgType, uint32_t sessionId, HeaderFlags flags, ByteView payload) {
    if (payload.size() > maxFramePayload) return {};
    const CommonHeader h{stream, msgType, sessionId, static_cast<uint16_t>(payload.size()), flags};
    Bytes out = h.encoded();
    out.reserve(CommonHeader::size + payload.size());
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

PlainFrame parseFrame(ByteView bytes) {
    const CommonHeader h = CommonHeader::decode(bytes);
    if (bytes.size() < CommonHeader::size + h.length) throw WEXError::truncated();
    const auto payload = bytes.subspan(CommonHeader::size, h.length);
    return {h, Bytes(payload.begin(), payload.end())};
}

std::size_t frameSpan(const CommonHeader& header) {
    constexpr std::size_t tagSize = 16;
    return CommonHeader::size + header.length + (header.flags.contains(HeaderFlag::encryptedApp) ? tagSize : 0);
}

} // namespace wex

#include "protocol/HandshakeOpening.h"

#include "protocol/CommonHeader.h"
#include "protocol/ControlType.h"
#include "protocol/Frame.h"
#include "protocol/SessionSetupMessages.h"
#include "protocol/WEXConstants.h"
#include "protocol/WEXError.h"

namespace wex {

HandshakeOpening handshakeOpening(ByteView b) {
    // A Hello's header begins with these four bytes: what does not, is no Hello before all twelve are in.
    const uint8_t start[] = {WEX::headerMagic, WEX::protocolMajor, static_cast<uint8_t>(Stream::control),
                             static_cast<uint8_t>(ControlType::hello)};
    for (std::size_t i = 0; i < sizeof start && i < b.size(); ++i)
        if (b[i] != start[i]) return HandshakeOpening::other;
    if (b.size() < CommonHeader::size) return HandshakeOpening::unsure;
    CommonHeader header;
    try {
        header = CommonHeader::decode(b.first(CommonHeader::size));
    } catch (const WEXError&) {
        return HandshakeOpening::other;
    }
    if (header.flags.contains(HeaderFlag::encryptedApp)) return HandshakeOpening::other;
    if (b.size() < frameSpan(header)) return HandshakeOpening::unsure;
    try {
        Hello::decode(b.subspan(CommonHeader::size, header.length));
    } catch (const WEXError&) {
        return HandshakeOpening::other;
    }
    return HandshakeOpening::hello;
}

} // namespace wex

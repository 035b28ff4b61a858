#include "protocol/MagicPacket.h"

namespace wex::MagicPacket {

Bytes bytes(const MACAddress& mac) {
    Bytes out(6, 0xFF);
    out.reserve(size);
    for (int i = 0; i < 16; ++i) out.insert(out.end(), mac.begin(), mac.end());
    return out;
}

} // namespace wex::MagicPacket

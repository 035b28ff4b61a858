// Wake request and acknowledgement, and the address parsers fed the same bytes as text.
#include <cstdlib>
#include <string_view>

#include "FuzzSeeds.h"
#include "protocol/NetAddress.h"
#include "protocol/WEXError.h"
#include "protocol/WakeMessages.h"

using namespace wex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const ByteView in(data, size);
    try {
        const WakePeerRequest req = WakePeerRequest::decode(in);
        if (req.name.size() <= WakePeerRequest::maxNameBytes && !(WakePeerRequest::decode(req.encode()) == req))
            std::abort();
    } catch (const WEXError&) {
    }
    try {
        const WakePeerAck ack = WakePeerAck::decode(in);
        (void)ack.humanReason();
    } catch (const WEXError&) {
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto ip = parseIPv4(text); ip && parseIPv4(formatIPv4(*ip)) != ip) std::abort();
    if (const auto mac = parseMAC(text); mac && parseMAC(formatMAC(*mac)) != mac) std::abort();
    return 0;
}

std::vector<Bytes> fuzzSeeds() {
    const auto text = [](std::string_view s) { return Bytes(s.begin(), s.end()); };
    return {WakePeerRequest{1, {1, 2, 3, 4, 5, 6}, 0xC0A80101, 1, "Den"}.encode(), WakePeerAck{1, 0, 2, "ok"}.encode(),
            text("192.168.1.20"), text("aa:bb:cc:dd:ee:ff")};
}

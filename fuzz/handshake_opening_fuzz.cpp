// How a listener tells a controller's first bytes from anything else: the verdict on any bytes is a
// Hello exactly when the stream framer's first frame starts at the first byte and is a plain Hello that
// decodes, and no more bytes ever change a verdict once given.
#include <cstdlib>

#include "FuzzSeeds.h"
#include "protocol/ControlType.h"
#include "protocol/Frame.h"
#include "protocol/HandshakeOpening.h"
#include "protocol/SessionSetupMessages.h"
#include "protocol/StreamFramer.h"
#include "protocol/WEXError.h"

using namespace wex;

namespace {
bool framerSeesHello(ByteView in) {
    StreamFramer framer;
    framer.append(in);
    const auto frame = framer.next();
    if (!frame || framer.skipped() > 0 || frame->sealed() || frame->header.stream != Stream::control ||
        frame->header.msgType != static_cast<uint8_t>(ControlType::hello))
        return false;
    try {
        Hello::decode(frame->payload());
        return true;
    } catch (const WEXError&) {
        return false;
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const ByteView in(data, size);
    const HandshakeOpening whole = handshakeOpening(in);
    if ((whole == HandshakeOpening::hello) != framerSeesHello(in)) std::abort();
    HandshakeOpening before = HandshakeOpening::unsure;
    for (std::size_t n = 0; n <= size; ++n) {
        const HandshakeOpening now = handshakeOpening(in.first(n));
        if (before != HandshakeOpening::unsure && now != before) std::abort();
        before = now;
    }
    return 0;
}

std::vector<Bytes> fuzzSeeds() {
    const Bytes hello = Hello{1, 1, 1, {}, {}, {}, AuthMode::psk, "Studio", Cap::screenClient, true}.encode();
    const Bytes frame = buildFrame(Stream::control, static_cast<uint8_t>(ControlType::hello), 0, {}, hello);
    Bytes sealed = buildFrame(Stream::control, static_cast<uint8_t>(ControlType::hello), 0,
                              HeaderFlags{HeaderFlag::encryptedApp}, hello);
    sealed.insert(sealed.end(), 16, 0xEE);
    const std::string probe = "GET / HTTP/1.0\r\n\r\n";
    return {frame, sealed, Bytes(probe.begin(), probe.end()), Bytes{0x16, 0x03, 0x01, 0x00, 0xC8, 0x01}};
}

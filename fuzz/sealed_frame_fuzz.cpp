// Opening sealed frames under a fixed key: arbitrary bytes never open unless they are a frame the other
// side sealed, and a frame that opens re-seals to the same bytes. The same input is also sealed (its
// first bytes chosen as header fields) and must open to what went in.
#include <algorithm>
#include <cstdlib>
#include <optional>

#include "FuzzSeeds.h"
#include "protocol/SecureSession.h"
#include "tests/support/SecureSessionTestAccess.h"

using namespace wex;

namespace {

const SessionKeys& fixedKeys() {
    static const SessionKeys keys = SessionKeys::fromBytes(Bytes(32, 0x11), Bytes(32, 0x22));
    return keys;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const ByteView in(data, size);
    SecureSession client(fixedKeys(), Direction::clientToAgent);
    if (const auto opened = client.openFrame(in)) {
        if (opened->header.length != opened->plaintext.size() + 8) std::abort();
        SecureSession agent(fixedKeys(), Direction::agentToClient);
        const uint32_t ts = uint32_t{in[16]} << 24 | uint32_t{in[17]} << 16 | uint32_t{in[18]} << 8 | in[19];
        const Bytes again = SecureSessionTestAccess::sealFrame(agent, opened->header.stream, opened->header.msgType,
                                                               opened->header.sessionId, opened->seq, ts,
                                                               opened->plaintext, opened->header.flags);
        if (again.size() > in.size() || !std::equal(again.begin(), again.end(), in.begin())) std::abort();
        if (client.openFrame(in)) std::abort(); // a replay
    }

    if (size >= 10) {
        const Stream stream = static_cast<Stream>(1 + data[0] % 4);
        const uint32_t seq = uint32_t{data[1]} << 24 | uint32_t{data[2]} << 16 | uint32_t{data[3]} << 8 | data[4];
        const ByteView plain = in.subspan(10);
        SecureSession agent(fixedKeys(), Direction::agentToClient);
        const Bytes frame = SecureSessionTestAccess::sealFrame(agent, stream, data[5], uint32_t{data[6]} << 8 | data[7],
                                                               seq, data[8], plain, HeaderFlags::fromRaw(data[9]));
        const auto back = SecureSession(fixedKeys(), Direction::clientToAgent).openFrame(frame);
        if (!back || back->seq != seq ||
            !std::equal(plain.begin(), plain.end(), back->plaintext.begin(), back->plaintext.end()))
            std::abort();
    }
    return 0;
}

std::vector<Bytes> fuzzSeeds() {
    SecureSession agent(fixedKeys(), Direction::agentToClient);
    return {
        SecureSessionTestAccess::sealFrame(agent, Stream::control, 13, 1, 0, 0, Bytes{0, 1, 2, 3}),
        SecureSessionTestAccess::sealFrame(agent, Stream::video, 1, 1, 77, 1000, Bytes(200, 0x42),
                                           HeaderFlags{HeaderFlag::fragment, HeaderFlag::endFrag}),
        SecureSessionTestAccess::sealFrame(agent, Stream::audio, 1, 1, 0xFFFFFFFF, 5, {}),
    };
}

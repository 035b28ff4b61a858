// Hello, HelloAck, Auth, AuthOk and AuthFail from arbitrary bytes: each either fails with a WEXError or
// gives a value that encodes and decodes back to itself.
#include <cstdlib>

#include "FuzzSeeds.h"
#include "protocol/SessionSetupMessages.h"
#include "protocol/WEXError.h"

using namespace wex;

namespace {

template <typename Message> void roundTrip(ByteView in, bool (*encodable)(const Message&)) {
    try {
        const Message m = Message::decode(in);
        if (encodable(m) && !(Message::decode(m.encode()) == m)) std::abort();
    } catch (const WEXError&) {
    }
}

// A repaired name can grow past what a count can say; the encoder then cuts it, which is no round trip.
bool always(const auto&) { return true; }
bool nameFits(const Hello& h) { return h.deviceName.size() <= 0xFFFF; }
bool messageFits(const AuthFail& f) { return f.message.size() <= 0xFFFF; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const ByteView in(data, size);
    roundTrip<Hello>(in, nameFits);
    roundTrip<HelloAck>(in, always<HelloAck>);
    roundTrip<Auth>(in, always<Auth>);
    roundTrip<AuthOk>(in, always<AuthOk>);
    roundTrip<AuthFail>(in, messageFits);
    return 0;
}

std::vector<Bytes> fuzzSeeds() {
    Hello bare{1, 1, 1, {}, {}, {}, AuthMode::psk, "Mac", Cap::assumedWhenAbsent, false};
    return {
        Hello{1, 1, 1, {}, {}, {}, AuthMode::keypair, "Studio", Cap::screenClient, true}.encode(),
        bare.encode(),
        HelloAck{2, 1, {}, {}, {}, {}, 42, {}, Cap::wakeProxy, true}.encode(),
        Auth{3, AuthMode::psk, {}, {}}.encode(),
        AuthOk{4, 1, {}, 0, 2000, 8000}.encode(),
        AuthFail{5, AuthFailReason::notPaired, "no"}.encode(),
    };
}

#include <gtest/gtest.h>

#include "protocol/ControlType.h"
#include "protocol/Frame.h"
#include "protocol/HandshakeOpening.h"
#include "protocol/SessionSetupMessages.h"

using wex::HandshakeOpening;

// A Hello that arrives a byte at a time is unsure until its last byte; one whose payload does not
// decode, or another message, is none (a probe line or a TLS hello is told apart by its first byte).
TEST(HandshakeOpening, AWholeHelloOpensAndAnythingElseIsToldApartAsSoonAsItsBytesAllow) {
    const auto frame = [](uint8_t type, const wex::Bytes& payload) {
        return wex::buildFrame(wex::Stream::control, type, 0, {}, payload);
    };
    const auto hello = static_cast<uint8_t>(wex::ControlType::hello);
    const wex::Bytes whole = frame(hello, wex::Hello{}.encode());
    for (std::size_t n = 0; n < whole.size(); ++n)
        ASSERT_EQ(wex::handshakeOpening(wex::ByteView(whole).first(n)), HandshakeOpening::unsure) << n;
    EXPECT_EQ(wex::handshakeOpening(whole), HandshakeOpening::hello);
    EXPECT_EQ(wex::handshakeOpening(frame(hello, wex::Bytes(20, 0x41))), HandshakeOpening::other);
    EXPECT_EQ(wex::handshakeOpening(wex::ByteView(frame(9, wex::Bytes(4, 0))).first(4)), HandshakeOpening::other);
    EXPECT_EQ(wex::handshakeOpening(wex::Bytes{'G'}), HandshakeOpening::other);
}

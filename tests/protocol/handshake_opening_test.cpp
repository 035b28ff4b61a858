#include <string>

#include <gtest/gtest.h>

#include "protocol/ControlType.h"
#include "protocol/Frame.h"
#include "protocol/HandshakeOpening.h"
#include "protocol/SessionSetupMessages.h"

using wex::HandshakeOpening;

namespace {
wex::Bytes helloFrame(wex::ByteView payload) {
    return wex::buildFrame(wex::Stream::control, static_cast<uint8_t>(wex::ControlType::hello), 0, {}, payload);
}
} // namespace

// A Hello that arrives a byte at a time is unsure until its last byte; a probe line, a TLS hello, another
// message and a Hello whose payload does not decode are told apart as soon as their bytes allow.
TEST(HandshakeOpening, AWholeHelloOpensAndAnythingElseIsToldApartAsEarlyAsItCanBe) {
    const wex::Bytes hello = helloFrame(wex::Hello{}.encode());
    for (std::size_t n = 0; n < hello.size(); ++n)
        ASSERT_EQ(wex::handshakeOpening(wex::ByteView(hello).first(n)), HandshakeOpening::unsure) << n;
    wex::Bytes more = hello;
    more.push_back(0x52);
    EXPECT_EQ(wex::handshakeOpening(more), HandshakeOpening::hello);

    const std::string probe = "GET / HTTP/1.0\r\n\r\n";
    EXPECT_EQ(wex::handshakeOpening(wex::Bytes(probe.begin(), probe.begin() + 1)), HandshakeOpening::other);
    EXPECT_EQ(wex::handshakeOpening(wex::Bytes{0x16, 0x03, 0x01}), HandshakeOpening::other);
    const wex::Bytes ping = wex::buildFrame(wex::Stream::control, 9, 0, {}, wex::Bytes(4, 0));
    EXPECT_EQ(wex::handshakeOpening(wex::ByteView(ping).first(4)), HandshakeOpening::other);
    EXPECT_EQ(wex::handshakeOpening(helloFrame(wex::Bytes(20, 0x41))), HandshakeOpening::other);
}

#pragma once

#include "protocol/Bytes.h"

namespace wex {

// What a connection's first bytes say about it: a controller opens with a plain Hello frame at the very
// first byte, whole and decodable. A port scanner's probe, a TLS client hello or any other program that
// writes before it reads is told apart from it, most often by the first byte, so that a listener never
// lets it displace anyone. Reads bytes from the network before any authentication.
enum class HandshakeOpening {
    unsure, // a Hello's beginning so far: more bytes decide
    hello,  // a whole Hello; bytes after it are not looked at
    other,  // no Hello, whatever follows
};

// Costs no more than a header's decoding until the whole frame is in, so that a peer sending its bytes
// one at a time cannot make a listener that asks again after each read do quadratic work.
HandshakeOpening handshakeOpening(ByteView firstBytes);

} // namespace wex

#pragma once

#include <algorithm>
#include <cstdlib>

#include "protocol/Bytes.h"
#include "protocol/WEXError.h"

namespace fuzz {

// Inputs this short cannot hold a string that grows past a u16 count when repaired (each bad byte
// becomes three), so nothing is cut on the way back out and a decoded value must survive exactly.
inline constexpr std::size_t noCutInputSize = 65535 / 3;

enum class Exact { prefix, value };

// What decode accepts must re-encode to bytes that decode to the same value and encode to the same
// bytes again. With Exact::prefix the message has no text to repair, so its encoding must also be the
// bytes it was read from (trailing bytes aside).
template <typename M> void checkRoundTrip(wex::ByteView in, Exact exact) {
    M first;
    try {
        first = M::decode(in);
    } catch (const wex::WEXError&) {
        return;
    }
    const wex::Bytes once = first.encode();
    if (exact == Exact::prefix && (once.size() > in.size() || !std::equal(once.begin(), once.end(), in.begin())))
        std::abort();
    M second;
    try {
        second = M::decode(once);
    } catch (const wex::WEXError&) {
        std::abort(); // our own encoding refused
    }
    if (second.encode() != once) std::abort();
    if (in.size() <= noCutInputSize && !(second == first)) std::abort();
}

} // namespace fuzz

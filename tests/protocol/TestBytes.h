#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "protocol/Bytes.h"
#include "protocol/WEXError.h"

namespace wex::test {

// "52 01 0d" -> bytes; blanks are ignored.
inline Bytes hexBytes(std::string_view hex) {
    Bytes out;
    int hi = -1;
    for (char c : hex) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else continue;
        if (hi < 0) hi = v;
        else {
            out.push_back(static_cast<uint8_t>(hi << 4 | v));
            hi = -1;
        }
    }
    return out;
}

inline Bytes asciiBytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

inline Bytes randomBytes(std::mt19937& rng, std::size_t n) {
    Bytes out(n);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

// Runs `decode` on every strict prefix of `encoding` and expects each to fail with `truncated`.
template <typename Decode>
void expectEveryPrefixTruncated(const Bytes& encoding, Decode decode) {
    for (std::size_t n = 0; n < encoding.size(); ++n) {
        const Bytes prefix(encoding.begin(), encoding.begin() + static_cast<std::ptrdiff_t>(n));
        try {
            decode(prefix);
            ADD_FAILURE() << "prefix of " << n << " of " << encoding.size() << " bytes decoded";
        } catch (const WEXError& e) {
            EXPECT_EQ(e, WEXError::truncated()) << "prefix of " << n << " bytes: " << e.what();
        }
    }
}

template <typename Fn>
WEXError thrownError(Fn fn) {
    try {
        fn();
    } catch (const WEXError& e) {
        return e;
    }
    ADD_FAILURE() << "no WEXError thrown";
    return WEXError::badMagic();
}

} // namespace wex::test

#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace wex::test {

// Random values for round trips: integers of any bit pattern and well-formed UTF-8 of 1- to 4-byte
// characters, so that a decoded string must equal the one encoded.
class RandomValues {
public:
    explicit RandomValues(uint32_t seed) : rng_(seed) {}

    template <typename T> T num() { return static_cast<T>(rng_()); }
    uint64_t u64() { return uint64_t{rng_()} << 32 | rng_(); }
    bool coin() { return rng_() & 1; }
    std::size_t below(std::size_t n) { return n == 0 ? 0 : rng_() % n; }
    std::mt19937& engine() { return rng_; }

    std::string text(std::size_t maxChars) {
        static const char* const pieces[] = {"a",
                                             "Z",
                                             " ",
                                             "0",
                                             "\xC3\xA9",
                                             "\xD0\x96",
                                             "\xE2\x82\xAC",
                                             "\xE6\xBC\xA2",
                                             "\xF0\x9F\x98\x80",
                                             "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD",
                                             "\x00"};
        std::string s;
        const std::size_t n = below(maxChars + 1);
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t k = below(std::size(pieces));
            if (k == std::size(pieces) - 1)
                s.push_back('\0'); // NUL is a character like any other
            else
                s += pieces[k];
        }
        return s;
    }

private:
    std::mt19937 rng_;
};

} // namespace wex::test

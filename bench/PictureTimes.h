#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace dovrel::bench {

inline double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The longest time from `from` to `to` without a new picture, given when pictures came (in order).
inline double longestFreeze(const std::vector<std::chrono::steady_clock::time_point>& pictures,
                            std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) {
    double longest = 0;
    auto last = from;
    for (const auto at : pictures) {
        if (at < from || at >= to) continue;
        longest = std::max(longest, seconds(at - last));
        last = at;
    }
    return std::max(longest, seconds(to - last));
}

// How often `what` occurs in `text` (an agent's log lines, say).
inline std::size_t countOccurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

} // namespace dovrel::bench

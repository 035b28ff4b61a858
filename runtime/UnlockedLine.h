#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace dovrel {

// A line for a thread that must not wait on anything another thread may hold (the log's lock, stdio's,
// the allocator's), as a stop does that cuts a hung start-up short: made on the stack, written with one
// write(2), and not at all while the descriptor would block. What goes beyond `capacity` is cut.
class UnlockedLine {
public:
    static constexpr std::size_t capacity = 512;

    UnlockedLine& operator<<(std::string_view text);
    UnlockedLine& operator<<(long long number);
    std::string_view text() const { return {bytes_.data(), size_}; }
    // The line and a line feed.
    void writeTo(int fd) const;

private:
    std::array<char, capacity + 1> bytes_{}; // room for the line feed
    std::size_t size_ = 0;
};

} // namespace dovrel

#include "runtime/UnlockedLine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace dovrel {

UnlockedLine& UnlockedLine::operator<<(std::string_view text) {
    const std::size_t n = std::min(text.size(), capacity - size_);
    std::memcpy(bytes_.data() + size_, text.data(), n);
    size_ += n;
    return *this;
}

UnlockedLine& UnlockedLine::operator<<(long long number) {
    char digits[24];
    std::size_t at = sizeof digits;
    unsigned long long magnitude = number < 0 ? 0ULL - static_cast<unsigned long long>(number) : number;
    do {
        digits[--at] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude > 0);
    if (number < 0) digits[--at] = '-';
    return *this << std::string_view(digits + at, sizeof digits - at);
}

void UnlockedLine::writeTo(int fd) const {
    // A full pipe or terminal would hold the write: the line is left out instead.
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 0) != 1 || (p.revents & POLLOUT) == 0) return;
    std::array<char, capacity + 1> line = bytes_;
    line[size_] = '\n';
    std::size_t done = 0;
    while (done < size_ + 1) {
        const ssize_t n = ::write(fd, line.data() + done, size_ + 1 - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

} // namespace dovrel

#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <unistd.h>

namespace dovrel::agent {

// Writes all of `data` at `offset` (pieces of a file may arrive in any order); 0 or the errno of the
// failure.
inline int writeAt(int fd, const uint8_t* data, std::size_t size, uint64_t offset) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return 0;
}

} // namespace dovrel::agent

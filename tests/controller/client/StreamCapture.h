#pragma once

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace dovrel::controller::test {

// What the code writes to a standard stream (1 or 2) while the object lives; the stream is restored
// afterwards. Holds up to a pipe's worth of text between reads.
class StreamCapture {
public:
    explicit StreamCapture(int fd) : fd_(fd) {
        flush();
        saved_ = ::dup(fd_);
        if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) == 0) ::dup2(pipe_[1], fd_);
    }
    ~StreamCapture() {
        flush();
        ::dup2(saved_, fd_);
        ::close(saved_);
        ::close(pipe_[0]);
        ::close(pipe_[1]);
    }
    StreamCapture(const StreamCapture&) = delete;
    StreamCapture& operator=(const StreamCapture&) = delete;

    std::string text() {
        flush();
        char buf[4096];
        ssize_t n;
        while ((n = ::read(pipe_[0], buf, sizeof buf)) > 0)
            text_.append(buf, static_cast<std::size_t>(n));
        return text_;
    }

private:
    void flush() const { std::fflush(fd_ == 1 ? stdout : stderr); }
    int fd_;
    int saved_ = -1;
    int pipe_[2] = {-1, -1};
    std::string text_;
};

} // namespace dovrel::controller::test

#include "runtime/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dovrel {

namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

std::string errnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

} // namespace

std::string writeFileAtomically(const std::string& path, wex::ByteView data, mode_t mode) {
    std::string tmp = path + ".XXXXXX";
    Fd fd(::mkostemp(tmp.data(), O_CLOEXEC)); // created 0600
    if (fd.get() < 0) return errnoText("cannot create a temporary file beside " + path);
    auto fail = [&](const std::string& what) {
        const std::string text = errnoText(what);
        ::unlink(tmp.c_str());
        return text;
    };
    if (::fchmod(fd.get(), mode) != 0) return fail("cannot set the permissions of " + tmp);
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd.get(), data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail("cannot write " + tmp);
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd.get()) != 0) return fail("cannot flush " + tmp);
    if (::close(fd.release()) != 0) return fail("cannot close " + tmp);
    if (::rename(tmp.c_str(), path.c_str()) != 0) return fail("cannot replace " + path);
    return {};
}

bool readWholeFile(const std::string& path, wex::Bytes& out) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return false;
    wex::Bytes data;
    uint8_t buf[65536];
    while (true) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        data.insert(data.end(), buf, buf + n);
    }
    out = std::move(data);
    return true;
}

} // namespace dovrel

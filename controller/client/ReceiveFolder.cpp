#include "controller/client/ReceiveFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dovrel::controller {

WriteFile& WriteFile::operator=(WriteFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

bool WriteFile::writeAt(uint64_t offset, wex::ByteView data) {
    if (fd_ < 0) return false;
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void WriteFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

namespace {

// Opens the folder `name` in `parent` (a descriptor, or AT_FDCWD for a path), making it 0700 when
// missing. Refuses a link, something that is not a folder, and a folder of another user; narrows a
// folder of ours that others could enter. -1 with the reason in `why`.
int openPrivateFolder(int parent, const std::string& name, std::string& why) {
    if (::mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) {
        why = "cannot make " + name + ": " + std::strerror(errno);
        return -1;
    }
    const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        why = "cannot open " + name + ": " + std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid()) {
        why = name + " belongs to another user";
        ::close(fd);
        return -1;
    }
    if ((st.st_mode & 077) != 0 && ::fchmod(fd, 0700) != 0) {
        why = "cannot make " + name + " private: " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

ReceiveFolder::ReceiveFolder(std::string base) : base_(std::move(base)) {
    while (base_.size() > 1 && base_.back() == '/')
        base_.pop_back();
}

ReceiveFolder::~ReceiveFolder() {
    if (offerFd_ >= 0) ::close(offerFd_);
}

std::string ReceiveFolder::defaultBase() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') return std::string(runtime) + "/Dovrel";
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/') return std::string(cache) + "/Dovrel";
    const char* home = std::getenv("HOME");
    return std::string(home && home[0] == '/' ? home : "") + "/.cache/Dovrel";
}

bool ReceiveFolder::openOffer(uint32_t generation, std::string& why) {
    if (offerFd_ >= 0) ::close(offerFd_);
    offerFd_ = -1;
    offerPath_.clear();
    const std::filesystem::path base(base_);
    std::error_code ignored;
    std::filesystem::create_directories(base.parent_path(), ignored);
    const int parent = ::open(base.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) {
        why = "cannot open " + base.parent_path().string() + ": " + std::strerror(errno);
        return false;
    }
    const int baseFd = openPrivateFolder(parent, base.filename().string(), why);
    ::close(parent);
    if (baseFd < 0) return false;
    const std::string name = "clip-" + std::to_string(generation);
    offerFd_ = openPrivateFolder(baseFd, name, why);
    ::close(baseFd);
    if (offerFd_ < 0) return false;
    offerPath_ = base_ + "/" + name;
    return true;
}

WriteFile ReceiveFolder::create(const std::string& name) {
    if (offerFd_ < 0 || name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return {};
    // What an earlier offer of the same generation left goes; a folder of that name stays and fails.
    ::unlinkat(offerFd_, name.c_str(), 0);
    const int fd = ::openat(offerFd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return {};
    return WriteFile(fd, offerPath_ + "/" + name);
}

} // namespace dovrel::controller

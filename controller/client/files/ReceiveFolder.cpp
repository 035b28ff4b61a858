#include "controller/client/files/ReceiveFolder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
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
        why = "their folder " + name + " can't be made (" + std::strerror(errno) + ")";
        return -1;
    }
    const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        why = "their folder " + name + " can't be opened (" + std::strerror(errno) + ")";
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid()) {
        why = "their folder " + name + " belongs to another user";
        ::close(fd);
        return -1;
    }
    if ((st.st_mode & 077) != 0 && ::fchmod(fd, 0700) != 0) {
        why = "their folder " + name + " can't be made private (" + std::strerror(errno) + ")";
        ::close(fd);
        return -1;
    }
    return fd;
}

// A size in words for the window: "300 KB", "1.5 GB".
std::string sizeText(uint64_t bytes) {
    static constexpr const char* units[] = {"bytes", "KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1000 && unit < 4) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 || value >= 10 ? "%.0f %s" : "%.1f %s", value, units[unit]);
    return text;
}

} // namespace

ReceiveFolder::ReceiveFolder(std::string base, uint64_t keepFree) : base_(std::move(base)), keepFree_(keepFree) {
    while (base_.size() > 1 && base_.back() == '/')
        base_.pop_back();
    // What an earlier run received and left behind goes: from our own folder only, never through a link,
    // and never a folder whose controller still runs (it holds its lock).
    struct stat st {};
    if (::lstat(base_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(base_, ignored)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("clip-")) { // an older version's, which kept no run folder
            std::filesystem::remove_all(entry.path(), ignored);
            continue;
        }
        if (!name.starts_with("run-")) continue;
        const int fd = ::open(entry.path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) std::filesystem::remove_all(entry.path(), ignored);
        ::close(fd);
    }
}

ReceiveFolder::~ReceiveFolder() {
    closeOffer();
    if (runFd_ >= 0) ::close(runFd_);
}

int ReceiveFolder::runFolder(int baseFd, std::string& why) {
    if (runFd_ >= 0) return runFd_;
    runName_ = "run-" + std::to_string(::getpid());
    // Another controller starting may take a folder it finds unlocked for an earlier run's and remove it
    // between our making it and locking it: then it is made again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = openPrivateFolder(baseFd, runName_, why);
        if (fd < 0) return -1;
        struct stat st {};
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &st) == 0 && st.st_nlink > 0) return runFd_ = fd;
        ::close(fd);
    }
    why = "their folder " + runName_ + " can't be kept";
    return -1;
}

std::string ReceiveFolder::defaultBase() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/') return std::string(cache) + "/Dovrel/clipboard-files";
    const char* home = std::getenv("HOME");
    return std::string(home && home[0] == '/' ? home : "") + "/.cache/Dovrel/clipboard-files";
}

void ReceiveFolder::closeOffer() {
    if (offerFd_ >= 0) ::close(offerFd_);
    offerFd_ = -1;
}

void ReceiveFolder::discardOffer() {
    closeOffer();
    if (!offerPath_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(offerPath_, ignored);
    }
    offerPath_.clear();
}

bool ReceiveFolder::openOffer(uint32_t generation, uint64_t bytes, std::string& why) {
    // One offer's folder at a time.
    discardOffer();
    const std::filesystem::path base(base_);
    std::error_code ignored;
    std::filesystem::create_directories(base.parent_path(), ignored);
    const int parent = ::open(base.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) {
        why = "its folder can't be opened (" + std::string(std::strerror(errno)) + ")";
        return false;
    }
    const int baseFd = openPrivateFolder(parent, base.filename().string(), why);
    ::close(parent);
    if (baseFd < 0) return false;
    struct statvfs vfs {};
    const bool known = ::fstatvfs(baseFd, &vfs) == 0;
    const uint64_t free = known ? static_cast<uint64_t>(vfs.f_bavail) * static_cast<uint64_t>(vfs.f_frsize) : 0;
    if (!known || bytes > free || keepFree_ > free - bytes) {
        ::close(baseFd);
        why = "this computer has too little free disk space for them (" + sizeText(bytes) + " needed, " +
              sizeText(free) + " free)";
        return false;
    }
    const int runFd = runFolder(baseFd, why);
    ::close(baseFd);
    if (runFd < 0) return false;
    const std::string name = "clip-" + std::to_string(generation);
    // A folder of that name left over from before goes, so that the offer starts empty.
    std::filesystem::remove_all(base / runName_ / name, ignored);
    offerFd_ = openPrivateFolder(runFd, name, why);
    if (offerFd_ < 0) return false;
    offerPath_ = base_ + "/" + runName_ + "/" + name;
    return true;
}

WriteFile ReceiveFolder::create(const std::string& name) {
    if (offerFd_ < 0 || name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return {};
    const int fd = ::openat(offerFd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return {};
    return WriteFile(fd, offerPath_ + "/" + name);
}

void ReceiveFolder::remove(WriteFile& file) {
    const std::string path = file.path();
    file.close();
    if (offerFd_ < 0 || path.size() <= offerPath_.size() + 1 || !path.starts_with(offerPath_ + "/")) return;
    ::unlinkat(offerFd_, path.substr(offerPath_.size() + 1).c_str(), 0);
}

} // namespace dovrel::controller

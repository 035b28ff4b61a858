#pragma once

#include <cstdint>
#include <string>

#include "protocol/Bytes.h"

namespace dovrel::controller {

// A file created for writing; closed with its owner.
class WriteFile {
public:
    WriteFile() = default;
    WriteFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~WriteFile() { close(); }
    WriteFile(WriteFile&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) { other.fd_ = -1; }
    WriteFile& operator=(WriteFile&& other) noexcept;
    WriteFile(const WriteFile&) = delete;
    WriteFile& operator=(const WriteFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    // Writes all of `data` at `offset`; false on failure.
    bool writeAt(uint64_t offset, wex::ByteView data);
    void close();

private:
    int fd_ = -1;
    std::string path_;
};

// Where received clipboard files are written: one folder per offer ("clip-" and its generation) inside
// a base folder private to the user (0700, owned by the user, never reached through a symbolic link),
// so that no other user can create, link or read what is written there first.
class ReceiveFolder {
public:
    // `base` is made when missing; its parent must exist or be creatable.
    explicit ReceiveFolder(std::string base);
    ~ReceiveFolder();
    ReceiveFolder(const ReceiveFolder&) = delete;
    ReceiveFolder& operator=(const ReceiveFolder&) = delete;

    // $XDG_RUNTIME_DIR/Dovrel, else the cache folder's Dovrel ($XDG_CACHE_HOME, else ~/.cache).
    static std::string defaultBase();

    // Opens (making it when missing) the folder of offer `generation`; false with the reason in `why`.
    bool openOffer(uint32_t generation, std::string& why);
    // The open offer's folder.
    const std::string& offerPath() const { return offerPath_; }
    // Creates `name` (one path component) in the offer's folder, replacing a file of that name; a
    // closed file when it cannot be made.
    WriteFile create(const std::string& name);

private:
    std::string base_;
    int offerFd_ = -1;
    std::string offerPath_;
};

} // namespace dovrel::controller

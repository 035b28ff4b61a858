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

// Where received clipboard files are written: one folder for the offer being received ("clip-" and its
// generation) inside this run's own folder ("run-" and the process id, locked while it runs) inside a
// base folder private to the user (0700, owned by the user, never reached through a symbolic link), so
// that no other user can create, link or read what is written there first. There is one offer's folder
// at a time: opening the next removes the one before. What an earlier run left is removed when this one
// starts; the folder of a controller still running beside it stays, as its lock says. An offer is taken
// only when its files leave `keepFree` bytes free on their disk, so that receiving never fills it up.
class ReceiveFolder {
public:
    static constexpr uint64_t defaultKeepFree = uint64_t{256} << 20;

    // `base` is made when missing; its parent must exist or be creatable.
    explicit ReceiveFolder(std::string base, uint64_t keepFree = defaultKeepFree);
    ~ReceiveFolder();
    ReceiveFolder(const ReceiveFolder&) = delete;
    ReceiveFolder& operator=(const ReceiveFolder&) = delete;

    // The cache folder's Dovrel/clipboard-files ($XDG_CACHE_HOME, else ~/.cache): on disk, not in the
    // small memory-backed runtime folder.
    static std::string defaultBase();

    // Opens a fresh folder for offer `generation`, whose files declare `bytes` in all, after removing the
    // previous offer's. False, with the reason in words for the window in `why`, when the folder cannot
    // be made private or the disk has too little room.
    bool openOffer(uint32_t generation, uint64_t bytes, std::string& why);
    // The open offer's folder; empty without one.
    const std::string& offerPath() const { return offerPath_; }
    // Creates `name` (one path component) in the offer's fresh folder; a closed file when it cannot be
    // made (a name already there included).
    WriteFile create(const std::string& name);
    // Removes `file` (closing it) when it is in the open offer's folder: a file not received whole.
    void remove(WriteFile& file);
    // Removes the open offer's folder with everything in it.
    void discardOffer();

private:
    void closeOffer();
    // This run's folder, made and locked on first use, in the open base folder `baseFd`; -1 with `why`.
    int runFolder(int baseFd, std::string& why);

    std::string base_;
    uint64_t keepFree_;
    int runFd_ = -1; // holds the run folder's lock
    std::string runName_;
    int offerFd_ = -1;
    std::string offerPath_;
};

} // namespace dovrel::controller

#include "agent/desktop/ClipFileSender.h"

#include <cerrno>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "agent/common/AgentLog.h"
#include "agent/common/UniqueFd.h"
#include "protocol/FileMessages.h"

namespace dovrel::agent {

ClipFileSender::ClipFileSender(std::shared_ptr<ControllerLink> link) : link_(std::move(link)) {}

ClipFileSender::~ClipFileSender() {
    epoch_.fetch_add(1);
    queue_.sync([] {});
}

void ClipFileSender::send(uint32_t generation, uint8_t index, std::string path) {
    const uint64_t epoch = epoch_.load();
    queue_.post([this, generation, index, path = std::move(path), epoch] {
        if (epoch_.load() == epoch) stream(generation, index, path, epoch);
    });
}

void ClipFileSender::sendNothing(uint32_t generation, uint8_t index) const {
    link_->send(wex::ControlType::clipFileData, wex::ClipFileData(0, generation, index, 0, true, {}).encode());
}

void ClipFileSender::cancelAll() { epoch_.fetch_add(1); }

void ClipFileSender::waitIdle() {
    queue_.sync([] {});
}

void ClipFileSender::stream(uint32_t generation, uint8_t index, const std::string& path, uint64_t epoch) {
    // Non-blocking, so that a named pipe on the clipboard cannot stall the sender at open.
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
        sendNothing(generation, index);
        return;
    }
    const auto size = static_cast<uint64_t>(st.st_size);
    uint64_t offset = 0;
    while (offset < size) {
        // Read ahead of the link by a few pieces at most; a slow link slows the reading, not memory.
        while (link_->backlog() > backlogWindow) {
            if (epoch_.load() != epoch) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (epoch_.load() != epoch) return;
        wex::Bytes piece(static_cast<std::size_t>(std::min<uint64_t>(chunkBytes, size - offset)));
        ssize_t n;
        do
            n = ::pread(fd.get(), piece.data(), piece.size(), static_cast<off_t>(offset));
        while (n < 0 && errno == EINTR);
        if (n <= 0) {
            // The file shrank or became unreadable while it was sent: end it where it stands.
            if (n < 0)
                print("⚠︎ clipboard file could not be read (" + std::string(std::strerror(errno)) +
                      ") — sent cut short");
            link_->send(wex::ControlType::clipFileData,
                        wex::ClipFileData(0, generation, index, offset, true, {}).encode());
            return;
        }
        piece.resize(static_cast<std::size_t>(n));
        const uint64_t end = offset + static_cast<uint64_t>(n);
        link_->send(wex::ControlType::clipFileData,
                    wex::ClipFileData(0, generation, index, offset, end >= size, std::move(piece)).encode());
        offset = end;
    }
}

} // namespace dovrel::agent

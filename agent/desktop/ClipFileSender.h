#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

#include "agent/core/ClipFiles.h"
#include "runtime/SerialQueue.h"

namespace dovrel::agent {

// Answers the controller's pulls of clipboard files: each file is read and sent 48 KiB at a time on
// the sender's own thread ("dovrel.clipfiles.send"), one file after the other, and the next piece is
// read only while the link holds no more than a few pieces unsent. The controller gets the file's
// pieces ending with a last one, or a single empty last piece when the file cannot be read, is empty or
// is not a regular file.
class ClipFileSender {
public:
    static constexpr std::size_t chunkBytes = 49152;
    // How much the link may hold unsent before the next piece is read.
    static constexpr std::size_t backlogWindow = 8 * chunkBytes;

    explicit ClipFileSender(std::shared_ptr<ControllerLink> link);
    ~ClipFileSender();
    ClipFileSender(const ClipFileSender&) = delete;
    ClipFileSender& operator=(const ClipFileSender&) = delete;

    // Queues the file at `path` for the pull of (`generation`, `index`).
    void send(uint32_t generation, uint8_t index, std::string path);
    // Answers a pull that names nothing offered, at once.
    void sendNothing(uint32_t generation, uint8_t index) const;
    // Stops the file being sent and drops the queued ones: the session ended.
    void cancelAll();
    // Returns once the files queued so far are sent or cancelled.
    void waitIdle();

private:
    void stream(uint32_t generation, uint8_t index, const std::string& path, uint64_t epoch);

    std::shared_ptr<ControllerLink> link_;
    std::atomic<uint64_t> epoch_{0};
    SerialQueue queue_{"dovrel.clipfiles.send"};
};

} // namespace dovrel::agent

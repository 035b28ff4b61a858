#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <QObject>

#include "controller/client/link/SessionChannel.h"
#include "runtime/Scheduler.h"
#include "runtime/SerialQueue.h"

namespace dovrel::controller {

// Files going to the agent, on the file thread "dovrel.file": single files sent to its download folder
// (offer, chunks, end) and clipboard files it pulled. Each file is read one 48 KiB chunk at a time as
// it is sent, never whole; the next chunk is read only once the session's link has room for it, so a
// transfer holds a chunk and the link's short queue in memory, whatever the file's size.
//
// Every chunk goes in the session the transfer began in: once that session is gone the transfer stops
// and the user is told it failed. Create, call and destroy on the main thread.
class FileTransfers {
public:
    static constexpr std::size_t chunkBytes = 49152;
    // Progress is shown at most this often, and once more at the end.
    static constexpr auto progressEvery = std::chrono::milliseconds(100);
    // A finished transfer's progress stays shown this long.
    static constexpr auto finishedShownFor = std::chrono::milliseconds(1200);

    // `clock` runs the main thread's timer that hides a finished transfer's progress.
    FileTransfers(SessionChannel& channel, FileTransferReport& report, Scheduler& clock);
    ~FileTransfers();
    FileTransfers(const FileTransfers&) = delete;
    FileTransfers& operator=(const FileTransfers&) = delete;

    // Sends the file at `path` to the agent's download folder under its own name.
    void sendFile(const std::string& path);
    // Answers the agent's pull of clipboard file `index` of offer `generation`: the file's chunks, the
    // last one marked; a single empty last chunk when `path` is none or cannot be read, or the file is
    // empty.
    void sendClipFile(uint32_t generation, uint8_t index, std::optional<std::string> path);

    // Transfers begun and not yet ended (tests and the benchmark wait on it). Any thread.
    int active() const { return active_.load(); }

private:
    struct Job;
    struct Gate;
    void begin(std::shared_ptr<Job> job);
    void step(std::shared_ptr<Job> job);
    void sendThen(const std::shared_ptr<Job>& job, wex::ControlType type, wex::Bytes payload,
                  std::function<void(bool)> next);
    void lost(const std::shared_ptr<Job>& job);
    void finish(const std::shared_ptr<Job>& job);
    void showProgress(const std::shared_ptr<Job>& job, double progress, bool force);
    void onMain(std::function<void()> fn);
    void showFinished(const std::string& name);

    SessionChannel& channel_;
    FileTransferReport& report_;
    Scheduler& clock_;
    std::unique_ptr<QObject> mainContext_;
    std::shared_ptr<Gate> gate_;
    std::unique_ptr<SerialQueue> queue_;
    std::unique_ptr<Timer> hideTimer_;
    uint32_t transferSeq_ = 0; // file thread
    std::atomic<int> active_{0};
};

} // namespace dovrel::controller

#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "agent/core/FileReceiver.h"
#include "runtime/SerialQueue.h"

namespace dovrel::agent {

// Receives the controller's files into the XDG download folder (xdg-user-dir DOWNLOAD, else
// ~/Downloads). Each file gets a safe name of its own there (a clash adds " 1", " 2" before the
// extension) and is written chunk by chunk at its offsets; nothing is held in memory. A file that
// fails (no room, a write error, cut short, given up by the controller) is deleted and, unless the
// controller gave it up, reported as not received. Finished files are shown in the file manager.
class DownloadsFileReceiver final : public FileReceiver {
public:
    // More unfinished transfers than this are refused.
    static constexpr std::size_t maxUnfinished = 16;

    using Reveal = std::function<void(const std::string& path)>;

    // `folder`: where files go; empty for the download folder, looked up at each offer. `reveal` runs
    // on the main thread for each file received whole.
    explicit DownloadsFileReceiver(std::string folder = {}, Reveal reveal = nullptr);
    ~DownloadsFileReceiver() override; // unfinished files are deleted
    DownloadsFileReceiver(const DownloadsFileReceiver&) = delete;
    DownloadsFileReceiver& operator=(const DownloadsFileReceiver&) = delete;

    void setOnProgress(Progress progress) override;
    void offer(const wex::FileOffer& offer) override;
    void chunk(const wex::FileChunk& chunk) override;
    void end(const wex::FileEnd& end) override;
    void cancelAll() override;

    // Returns once the work queued so far has run (its reports may still be on their way to the main thread).
    void waitIdle();

    // The folder received files go to when none is given.
    static std::string downloadFolder();

private:
    struct Transfers;
    struct Reporter;

    std::shared_ptr<Reporter> reporter_;
    std::unique_ptr<Transfers> transfers_; // touched only on queue_
    SerialQueue queue_{"dovrel.filerx"};
};

} // namespace dovrel::agent

#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "agent/core/FileReceiver.h"
#include "runtime/SerialQueue.h"

namespace dovrel::agent {

// Receives the controller's files into the XDG download folder (xdg-user-dir DOWNLOAD; ~/Downloads
// when there is none or it names the home folder itself). Each file is written chunk by chunk at its
// offsets under a temporary name ("name.dovrel-part") and gets its safe name of its own only when it
// has arrived whole (a clash adds " 1", " 2" before the extension); nothing is held in memory. A file
// that is refused or fails (over the limits, no room, a write error, cut short, given up by the
// controller) is deleted and, unless the controller gave it up, reported as not received, to the
// controller too. Finished files are shown in the file manager. Temporary files that an earlier run left
// behind are removed when the receiver is made.
class DownloadsFileReceiver final : public FileReceiver {
public:
    // More unfinished transfers than this are refused.
    static constexpr std::size_t maxUnfinished = 16;
    // A file may declare at most this many bytes, and the unfinished ones together at most allBytes.
    static constexpr uint64_t maxFileBytes = uint64_t{1} << 31; // 2 GiB
    static constexpr uint64_t maxAllBytes = uint64_t{1} << 32;  // 4 GiB
    // Free space left over once every unfinished file is whole; an offer that would cut into it is refused.
    static constexpr uint64_t spaceMargin = uint64_t{64} << 20;
    // What a file is called while it arrives.
    static constexpr std::string_view partSuffix = ".dovrel-part";

    using Reveal = std::function<void(const std::string& path)>;

    // `progress` and `refusal` as FileReceiver describes them; both required. `folder`: where files go;
    // empty for the download folder, looked up at each offer. `reveal` runs on the main thread for each
    // file received whole; null: the file manager shows it.
    DownloadsFileReceiver(Progress progress, Refusal refusal, std::string folder = {}, Reveal reveal = nullptr);
    ~DownloadsFileReceiver() override; // unfinished files are deleted
    DownloadsFileReceiver(const DownloadsFileReceiver&) = delete;
    DownloadsFileReceiver& operator=(const DownloadsFileReceiver&) = delete;

    void offer(const wex::FileOffer& offer) override;
    void chunk(const wex::FileChunk& chunk) override;
    void end(const wex::FileEnd& end) override;
    void cancelAll() override;

    // Returns once the work queued so far has run (its reports may still be on their way to the main thread).
    void waitIdle();

    // The folder received files go to when none is given.
    static std::string downloadFolder();
    // Deletes what earlier runs left half-received in `folder`; how many files went.
    static std::size_t removeLeftovers(const std::string& folder);

private:
    struct Transfers;
    struct Reporter;

    std::shared_ptr<Reporter> reporter_;
    std::unique_ptr<Transfers> transfers_; // touched only on queue_
    SerialQueue queue_{"dovrel.filerx"};
};

} // namespace dovrel::agent

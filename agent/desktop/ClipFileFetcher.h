#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "agent/core/ClipFiles.h"
#include "runtime/Scheduler.h"
#include "runtime/SerialQueue.h"

namespace dovrel::agent {

// Fetches the files the controller copied. X11 has no file promises, so an offer within the limits and
// the disk's free space is pulled at once, one file after the other, into a private folder (0700) of
// its own, and handed to `publish` when every file has arrived whole; only then do they go on the
// clipboard. A file that stalls for 45 s, comes short or longer than announced, or cannot be written
// ends the whole offer and its folder is deleted. An offer refused or ended so is logged, and the
// controller is told why in an ErrorMsg meant for a person. Work runs on the fetcher's own thread
// ("dovrel.clipfiles").
class ClipFileFetcher {
public:
    struct Limits {
        std::size_t files = 64;
        uint64_t fileBytes = uint64_t{2} << 30;
        uint64_t totalBytes = uint64_t{4} << 30;
        // Room the files must leave free on their disk, so that pasting never fills it up.
        uint64_t keepFree = uint64_t{256} << 20;
    };
    static constexpr Duration giveUpAfter = std::chrono::seconds(45);

    // Called on the fetcher's thread with the paths of an offer's files, in offer order.
    using Publish = std::function<void(std::vector<std::string> paths)>;

    // `folder` is made private and emptied of what an earlier run left there.
    ClipFileFetcher(std::string folder, Scheduler& scheduler, Limits limits, std::shared_ptr<ControllerLink> link,
                    Publish publish);
    ~ClipFileFetcher();
    ClipFileFetcher(const ClipFileFetcher&) = delete;
    ClipFileFetcher& operator=(const ClipFileFetcher&) = delete;

    // Each queues its work and returns at once.
    void offer(uint32_t generation, std::vector<wex::ClipFileEntry> files);
    void data(uint32_t generation, uint8_t index, uint64_t offset, wex::Bytes bytes, bool last);
    // Abandons the offer being fetched; files already on the clipboard stay.
    void cancel();

    // Returns once the work queued so far has run.
    void waitIdle();

private:
    struct State;
    std::unique_ptr<State> state_; // touched only on queue_
    SerialQueue queue_{"dovrel.clipfiles"};
};

} // namespace dovrel::agent

#pragma once

#include <memory>
#include <string>

#include "agent/core/ClipFiles.h"
#include "agent/desktop/ClipFileFetcher.h"
#include "runtime/Scheduler.h"

namespace dovrel::agent {

class ClipFileSender;

// Clipboard files through the application's QClipboard. Outward: the clipboard is looked at every
// 0.7 s while a session runs; local files copied here (text/uri-list) are offered to the controller
// under a new generation, and its pulls are answered by a ClipFileSender. Inward: the controller's
// offer is fetched by a ClipFileFetcher and put on the clipboard as copied files (text/uri-list and
// x-special/gnome-copied-files) once complete. Files this agent put on the clipboard are never offered
// back. Clipboard work runs on the main thread; every call returns at once.
class QtClipFiles final : public AgentClipFiles {
public:
    static constexpr Duration pollInterval = std::chrono::milliseconds(700);

    // Create and destroy on the main thread. `link`: the way to the controller, whose backlog bounds
    // how far a pulled file is read ahead. `folder`: where fetched files are kept; empty for
    // defaultFolder().
    explicit QtClipFiles(std::shared_ptr<ControllerLink> link, std::string folder = {},
                         Scheduler& scheduler = realScheduler(), ClipFileFetcher::Limits limits = {});
    ~QtClipFiles() override;
    QtClipFiles(const QtClipFiles&) = delete;
    QtClipFiles& operator=(const QtClipFiles&) = delete;

    void start() override;
    void stop() override;
    void onRemoteOffer(uint32_t generation, std::vector<wex::ClipFileEntry> files) override;
    void onPull(uint32_t generation, uint8_t index) override;
    void onData(uint32_t generation, uint8_t index, uint64_t offset, wex::Bytes data, bool last) override;

    // Returns once the pulls answered and the data handed over so far are done with (what goes on
    // the clipboard still needs the main thread's events).
    void waitIdle();

    // $XDG_CACHE_HOME/Dovrel/clipboard-files, by default ~/.cache/Dovrel/clipboard-files.
    static std::string defaultFolder();

private:
    struct Watch;

    std::shared_ptr<ControllerLink> link_;
    std::shared_ptr<Watch> watch_;
    std::unique_ptr<ClipFileSender> sender_;
    std::unique_ptr<ClipFileFetcher> fetcher_;
};

} // namespace dovrel::agent

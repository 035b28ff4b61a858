#include "agent/desktop/QtClipFiles.h"

#include <stdexcept>

#include <cstdlib>
#include <mutex>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <sys/stat.h>

#include "agent/common/AgentLog.h"
#include "agent/common/HomeDirectory.h"
#include "agent/core/ClipFiles.h"
#include "agent/desktop/ClipFileSender.h"
#include "agent/desktop/MainThreadPost.h"
#include "protocol/FileMessages.h"
#include "runtime/clipboard/ClipboardChangeWatch.h"
#include "runtime/clipboard/ClipboardFileList.h"
#include "runtime/clipboard/X11ClipboardOwner.h"

namespace dovrel::agent {

namespace {

QClipboard* appClipboard() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::clipboard() : nullptr;
}

std::string lastComponent(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

// The main thread's part: the poll of the clipboard and the latest local offer.
struct QtClipFiles::Watch : std::enable_shared_from_this<Watch> {
    Watch(Scheduler& s, std::shared_ptr<ControllerLink> l) : scheduler(s), link(std::move(l)) {}

    Scheduler& scheduler;
    std::shared_ptr<ControllerLink> link;
    ClipboardChangeWatch changes;
    uint32_t generation = 0;
    std::unique_ptr<Timer> timer;

    // The latest local offer, read by pulls on the network thread.
    std::mutex offeredMutex;
    uint32_t offeredGeneration = 0;
    std::vector<std::string> offered;

    void start() {
        timer.reset();
        changes.forget(); // files already on the clipboard wait for the next change
        timer = scheduler.every(pollInterval, pollInterval, [weak = weak_from_this()] {
            if (const auto self = weak.lock()) self->poll();
        });
    }

    void stop() {
        timer.reset();
        const std::lock_guard lock(offeredMutex);
        offered.clear();
    }

    void poll() {
        if (!changes.changed()) return;
        QClipboard* clipboard = appClipboard();
        if (!clipboard || ClipboardChangeWatch::ownsClipboard()) return; // files fetched from the controller
        std::vector<std::string> paths = clipboardFilePaths(clipboard->mimeData(QClipboard::Clipboard));
        if (paths.empty()) return;
        ++generation;
        wex::ClipFilesOffer offer{0, generation, {}};
        for (const std::string& path : paths) {
            struct stat st {};
            const bool file = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
            offer.files.push_back({lastComponent(path), file ? static_cast<uint64_t>(st.st_size) : 0});
        }
        {
            const std::lock_guard lock(offeredMutex);
            offeredGeneration = generation;
            offered = std::move(paths);
        }
        link->send(wex::ControlType::clipFilesOffer, offer.encode());
    }

    std::optional<std::string> lookup(uint32_t gen, uint8_t index) {
        const std::lock_guard lock(offeredMutex);
        if (offered.empty() || gen != offeredGeneration || index >= offered.size()) return std::nullopt;
        return offered[index];
    }
};

QtClipFiles::QtClipFiles(std::shared_ptr<ControllerLink> link, std::string folder, Scheduler& scheduler,
                         ClipFileFetcher::Limits limits)
    : link_(std::move(link)), watch_(std::make_shared<Watch>(scheduler, link_)),
      sender_(std::make_unique<ClipFileSender>(link_)) {
    if (!link_) throw std::invalid_argument("QtClipFiles needs the link to the controller");
    fetcher_ = std::make_unique<ClipFileFetcher>(
        folder.empty() ? defaultFolder() : std::move(folder), scheduler, limits, link_,
        [](std::vector<std::string> paths) {
            postToMainThread([paths = std::move(paths)] {
                if (!putOnClipboard(copiedFilesMimeData(paths)))
                    print("⚠︎ clipboard files from the controller could not be put on the clipboard");
            });
        });
}

QtClipFiles::~QtClipFiles() = default;

void QtClipFiles::start() {
    stop();
    postToMainThread([weak = std::weak_ptr(watch_)] {
        if (const auto w = weak.lock()) w->start();
    });
}

void QtClipFiles::stop() {
    sender_->cancelAll();
    fetcher_->cancel();
    postToMainThread([weak = std::weak_ptr(watch_)] {
        if (const auto w = weak.lock()) w->stop();
    });
}

void QtClipFiles::onRemoteOffer(uint32_t generation, std::vector<wex::ClipFileEntry> files) {
    fetcher_->offer(generation, std::move(files));
}

void QtClipFiles::onPull(uint32_t generation, uint8_t index) {
    if (const auto path = watch_->lookup(generation, index))
        sender_->send(generation, index, *path);
    else
        sender_->sendNothing(generation, index);
}

void QtClipFiles::onData(uint32_t generation, uint8_t index, uint64_t offset, wex::Bytes data, bool last) {
    fetcher_->data(generation, index, offset, std::move(data), last);
}

void QtClipFiles::waitIdle() {
    sender_->waitIdle();
    fetcher_->waitIdle();
}

std::string QtClipFiles::defaultFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const std::string base = cache && cache[0] == '/' ? cache : homeDirectory() + "/.cache";
    return base + "/Dovrel/clipboard-files";
}

} // namespace dovrel::agent

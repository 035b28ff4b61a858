#include "agent/desktop/DownloadsFileReceiver.h"

#include <cerrno>
#include <cstring>
#include <map>

#include <QStandardPaths>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "agent/common/AgentLog.h"
#include "agent/common/HomeDirectory.h"
#include "agent/common/UniqueFd.h"
#include "agent/desktop/MainThreadPost.h"
#include "agent/desktop/PositionalWrite.h"
#include "agent/desktop/ReceivedRanges.h"
#include "agent/desktop/RevealInFileManager.h"
#include "agent/desktop/SafeFileName.h"

namespace dovrel::agent {

namespace {

std::string errorText(int error) { return std::strerror(error); }

} // namespace

// Progress reports and the file manager request, delivered on the main thread.
struct DownloadsFileReceiver::Reporter : std::enable_shared_from_this<Reporter> {
    std::mutex mutex;
    Progress progress;
    Reveal reveal;

    void report(const std::string& text, double fraction) {
        postToMainThread([self = shared_from_this(), text, fraction] {
            Progress p;
            {
                const std::lock_guard lock(self->mutex);
                p = self->progress;
            }
            if (p) p(text, fraction);
        });
    }
    void show(const std::string& path) {
        postToMainThread([self = shared_from_this(), path] {
            if (self->reveal) self->reveal(path);
        });
    }
};

struct DownloadsFileReceiver::Transfers {
    struct Incoming {
        std::string folder;
        UniqueFd dir;
        UniqueFd file;
        std::string name;
        uint64_t size = 0;
        ReceivedRanges ranges;
        int reportedPercent = -1;
    };

    std::string folder;
    std::shared_ptr<Reporter> reporter;
    std::map<uint32_t, Incoming> active;

    void failed(const std::string& name) { reporter->report("Couldn't receive " + name, 1.0); }

    // Closes the file and deletes it.
    static void discard(Incoming& in) {
        in.file.close();
        ::unlinkat(in.dir.get(), in.name.c_str(), 0);
    }

    void offer(const wex::FileOffer& o) {
        if (const auto old = active.find(o.transferId); old != active.end()) {
            // The controller started this transfer over: the earlier attempt's file is left unfinished.
            discard(old->second);
            active.erase(old);
        }
        const std::optional<std::string> name = safeFileName(o.name);
        if (!name) {
            print("• file offer refused (the file name is not allowed) — dropping transfer");
            reporter->report("Couldn't receive a file — its name is not allowed", 1.0);
            return;
        }
        if (active.size() >= maxUnfinished) {
            print("• file offer refused (" + std::to_string(maxUnfinished) +
                  " transfers are unfinished) — dropping transfer");
            failed(*name);
            return;
        }
        const std::string where = folder.empty() ? downloadFolder() : folder;
        ::mkdir(where.c_str(), 0777); // the download folder may not exist yet
        Incoming in;
        in.folder = where;
        in.dir.reset(::open(where.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!in.dir) {
            print("• file offer refused (" + errorText(errno) + ") — dropping transfer");
            failed(*name);
            return;
        }
        struct statvfs fs {};
        if (::fstatvfs(in.dir.get(), &fs) == 0 &&
            o.size > static_cast<uint64_t>(fs.f_bavail) * static_cast<uint64_t>(fs.f_frsize)) {
            print("• file offer refused (not enough free space) — dropping transfer");
            failed(*name);
            return;
        }
        CreatedFile created = createUniqueFile(in.dir.get(), *name, 0666);
        if (!created.fd) {
            print("• file offer refused (" + errorText(created.error) + ") — dropping transfer");
            failed(*name);
            return;
        }
        in.file = std::move(created.fd);
        in.name = created.name;
        in.size = o.size;
        active.emplace(o.transferId, std::move(in));
    }

    void chunk(const wex::FileChunk& c) {
        const auto it = active.find(c.transferId);
        if (it == active.end()) return;
        Incoming& in = it->second;
        const uint64_t length = c.data.size();
        if (c.offset > in.size || length > in.size - c.offset) return; // outside the announced size
        if (const int error = writeAt(in.file.get(), c.data.data(), c.data.size(), c.offset); error != 0) {
            print("• file chunk write failed (" + errorText(error) + ") — dropping transfer");
            const std::string name = in.name;
            discard(in);
            active.erase(it);
            failed(name);
            return;
        }
        in.ranges.add(c.offset, length);
        const double fraction =
            in.size == 0 ? 0.0 : static_cast<double>(in.ranges.covered()) / static_cast<double>(in.size);
        // One report per whole percent: a large file sends tens of thousands of chunks.
        const int percent = static_cast<int>(fraction * 100.0);
        if (percent != in.reportedPercent) {
            in.reportedPercent = percent;
            reporter->report(in.name, fraction);
        }
    }

    void end(const wex::FileEnd& e) {
        const auto it = active.find(e.transferId);
        if (it == active.end()) return;
        Incoming in = std::move(it->second);
        active.erase(it);
        if (!e.succeeded()) {
            discard(in);
            return;
        }
        if (!in.ranges.complete(in.size)) {
            print("• file arrived incomplete (" + std::to_string(in.ranges.covered()) + " of " +
                  std::to_string(in.size) + " bytes) — deleted");
            discard(in);
            failed(in.name);
            return;
        }
        // Some file systems report a failed write only when the file is closed.
        if (in.file.close() != 0) {
            print("• file chunk write failed (" + errorText(errno) + ") — dropping transfer");
            ::unlinkat(in.dir.get(), in.name.c_str(), 0);
            failed(in.name);
            return;
        }
        reporter->report("Received " + in.name, 1.0);
        reporter->show(in.folder + "/" + in.name);
    }

    void cancelAll() {
        if (active.empty()) return;
        for (auto& [id, in] : active)
            discard(in);
        print("• " + std::to_string(active.size()) + " unfinished file transfer(s) cancelled — partial files deleted");
        active.clear();
    }
};

DownloadsFileReceiver::DownloadsFileReceiver(std::string folder, Reveal reveal)
    : reporter_(std::make_shared<Reporter>()), transfers_(std::make_unique<Transfers>()) {
    reporter_->reveal = reveal ? std::move(reveal) : Reveal(revealInFileManager);
    transfers_->folder = std::move(folder);
    transfers_->reporter = reporter_;
}

DownloadsFileReceiver::~DownloadsFileReceiver() {
    queue_.sync([this] {
        transfers_->cancelAll();
        transfers_.reset();
    });
}

void DownloadsFileReceiver::setOnProgress(Progress progress) {
    const std::lock_guard lock(reporter_->mutex);
    reporter_->progress = std::move(progress);
}

void DownloadsFileReceiver::offer(const wex::FileOffer& offer) {
    queue_.post([this, offer] { transfers_->offer(offer); });
}

void DownloadsFileReceiver::chunk(const wex::FileChunk& chunk) {
    queue_.post([this, chunk] { transfers_->chunk(chunk); });
}

void DownloadsFileReceiver::end(const wex::FileEnd& end) {
    queue_.post([this, end] { transfers_->end(end); });
}

void DownloadsFileReceiver::cancelAll() {
    queue_.post([this] { transfers_->cancelAll(); });
}

void DownloadsFileReceiver::waitIdle() {
    queue_.sync([] {});
}

std::string DownloadsFileReceiver::downloadFolder() {
    // Qt reads the XDG user-dirs configuration (the folder xdg-user-dir DOWNLOAD names).
    const QString located = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (!located.isEmpty()) return located.toStdString();
    return homeDirectory() + "/Downloads";
}

} // namespace dovrel::agent

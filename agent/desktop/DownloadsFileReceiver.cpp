#include "agent/desktop/DownloadsFileReceiver.h"

#include <stdexcept>

#include <cerrno>
#include <cstring>
#include <map>

#include <QStandardPaths>
#include <QString>

#include <climits>
#include <cstdio>
#include <dirent.h>
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
#include "protocol/LogText.h"
#include "protocol/UTF8.h"

namespace dovrel::agent {

namespace {

std::string errorText(int error) { return std::strerror(error); }

// "1.5 GB", "700 MB": sizes in the texts a person reads.
std::string sizeText(uint64_t bytes) {
    char text[32];
    if (bytes >= 1'000'000'000)
        std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / 1e9);
    else
        std::snprintf(text, sizeof text, "%llu MB", static_cast<unsigned long long>((bytes + 999'999) / 1'000'000));
    return text;
}

bool endsWith(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// The temporary name of a file while it arrives: its name (cut so that the whole fits) and the suffix.
std::string partName(const std::string& name) {
    const std::size_t room = maxFileNameBytes - DownloadsFileReceiver::partSuffix.size();
    return name.substr(0, wex::utf8PrefixLength(name, room)) + std::string(DownloadsFileReceiver::partSuffix);
}

// The same folder, whatever way it is written; empty when it does not exist.
std::string realFolder(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

} // namespace

// Progress reports and the file manager request, delivered on the main thread.
struct DownloadsFileReceiver::Reporter : std::enable_shared_from_this<Reporter> {
    Progress progress;
    Refusal refusal;
    Reveal reveal;

    void refuse(uint16_t reqId, wex::ErrCode code, const std::string& text) {
        refusal(wex::ErrorMsg(reqId, code, text));
    }

    void report(const std::string& text, double fraction) {
        postToMainThread([self = shared_from_this(), text, fraction] { self->progress(text, fraction); });
    }
    void show(const std::string& path) {
        postToMainThread([self = shared_from_this(), path] {
            if (self->reveal) self->reveal(path);
        });
    }
};

struct DownloadsFileReceiver::Transfers {
    struct Incoming {
        uint16_t reqId = 0;
        std::string folder;
        UniqueFd dir;
        UniqueFd file;
        std::string name;     // the name it is to get
        std::string partName; // the name it has while it arrives
        uint64_t size = 0;
        ReceivedRanges ranges;
        int reportedPercent = -1;
    };

    std::string folder;
    std::shared_ptr<Reporter> reporter;
    std::map<uint32_t, Incoming> active;

    void failed(const std::string& name) { reporter->report("Couldn't receive " + name, 1.0); }

    // Refused or failed: the window and the controller are told, in words a person understands.
    void failed(uint16_t reqId, const std::string& name, wex::ErrCode code, const std::string& why) {
        failed(name);
        reporter->refuse(reqId, code, name + " wasn't received — " + why);
    }

    // Closes the file and deletes it.
    static void discard(Incoming& in) {
        in.file.close();
        ::unlinkat(in.dir.get(), in.partName.c_str(), 0);
    }

    // Bytes the unfinished files still declare, and still need on the disk.
    uint64_t declared() const {
        uint64_t sum = 0;
        for (const auto& [id, in] : active)
            sum += in.size;
        return sum;
    }
    uint64_t stillDue() const {
        uint64_t sum = 0;
        for (const auto& [id, in] : active)
            sum += in.size - std::min(in.size, in.ranges.covered());
        return sum;
    }

    void offer(const wex::FileOffer& o) {
        if (const auto old = active.find(o.transferId); old != active.end()) {
            // The controller started this transfer over: the earlier attempt's file is left unfinished.
            discard(old->second);
            active.erase(old);
        }
        std::optional<std::string> name = safeFileName(o.name);
        if (!name) {
            print("• file offer refused (the file name is not allowed) — dropping transfer");
            reporter->report("Couldn't receive a file — its name is not allowed", 1.0);
            reporter->refuse(o.reqId, wex::ErrCode::refused,
                             "A file wasn't received — its name isn't allowed on this computer.");
            return;
        }
        // Left-overs of this suffix are deleted at the next start: no received file may keep it.
        if (endsWith(*name, partSuffix)) name->back() = '_';
        const std::string shown = wex::logText(*name);
        if (active.size() >= maxUnfinished) {
            print("• file offer refused (" + std::to_string(maxUnfinished) + " transfers are unfinished) — dropping " +
                  shown);
            failed(o.reqId, *name, wex::ErrCode::refused,
                   std::to_string(maxUnfinished) +
                       " files are already on their way. Send it again once they have arrived.");
            return;
        }
        const std::string where = folder.empty() ? downloadFolder() : folder;
        ::mkdir(where.c_str(), 0700); // the download folder may not exist yet
        Incoming in;
        in.reqId = o.reqId;
        in.folder = where;
        in.dir.reset(::open(where.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!in.dir) {
            const int error = errno;
            print("• file offer refused (" + errorText(error) + ") — dropping transfer");
            failed(o.reqId, *name, wex::ErrCode::internalError,
                   "the download folder can't be opened (" + errorText(error) + ").");
            return;
        }
        struct statvfs fs {};
        if (::fstatvfs(in.dir.get(), &fs) == 0) {
            const uint64_t free = static_cast<uint64_t>(fs.f_bavail) * static_cast<uint64_t>(fs.f_frsize);
            const uint64_t needed =
                o.size > UINT64_MAX - spaceMargin - stillDue() ? UINT64_MAX : o.size + stillDue() + spaceMargin;
            if (needed > free) {
                print("• file offer refused (not enough free space) — dropping transfer");
                failed(o.reqId, *name, wex::ErrCode::refused,
                       "this computer doesn't have enough free space for it (" + sizeText(free) + " free).");
                return;
            }
        }
        if (o.size > maxFileBytes) {
            print("• file offer refused (" + std::to_string(o.size) + " bytes, more than 2 GiB) — dropping " + shown);
            failed(o.reqId, *name, wex::ErrCode::refused, "files larger than 2 GB can't be sent to this computer.");
            return;
        }
        if (o.size + declared() > maxAllBytes) {
            print("• file offer refused (more than 4 GiB would be on its way at once) — dropping " + shown);
            failed(o.reqId, *name, wex::ErrCode::refused,
                   "more than 4 GB would be on its way at once. Send it again once the other files have arrived.");
            return;
        }
        CreatedFile created = createUniqueFile(in.dir.get(), partName(*name), 0666);
        if (!created.fd) {
            print("• file offer refused (" + errorText(created.error) + ") — dropping transfer");
            failed(o.reqId, *name, wex::ErrCode::internalError,
                   "the file couldn't be created (" + errorText(created.error) + ").");
            return;
        }
        in.file = std::move(created.fd);
        in.name = *name;
        in.partName = created.name;
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
            const uint16_t reqId = in.reqId;
            discard(in);
            active.erase(it);
            failed(reqId, name, wex::ErrCode::internalError, "writing it failed (" + errorText(error) + ").");
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
            failed(in.reqId, in.name, wex::ErrCode::refused, "it arrived incomplete.");
            return;
        }
        // Some file systems report a failed write only when the file is closed.
        if (in.file.close() != 0) {
            const int error = errno;
            print("• file chunk write failed (" + errorText(error) + ") — dropping transfer");
            ::unlinkat(in.dir.get(), in.partName.c_str(), 0);
            failed(in.reqId, in.name, wex::ErrCode::internalError, "writing it failed (" + errorText(error) + ").");
            return;
        }
        // Only now, whole, does it get its own name.
        const auto [stored, error] = renameUnique(in.dir.get(), in.partName, in.name);
        if (stored.empty()) {
            print("• received file could not be named " + wex::logText(in.name) + " (" + errorText(error) +
                  ") — deleted");
            ::unlinkat(in.dir.get(), in.partName.c_str(), 0);
            failed(in.reqId, in.name, wex::ErrCode::internalError,
                   "it couldn't be stored under its name (" + errorText(error) + ").");
            return;
        }
        reporter->report("Received " + stored, 1.0);
        reporter->show(in.folder + "/" + stored);
    }

    void cancelAll() {
        if (active.empty()) return;
        for (auto& [id, in] : active)
            discard(in);
        print("• " + std::to_string(active.size()) + " unfinished file transfer(s) cancelled — partial files deleted");
        active.clear();
    }
};

DownloadsFileReceiver::DownloadsFileReceiver(Progress progress, Refusal refusal, std::string folder, Reveal reveal)
    : reporter_(std::make_shared<Reporter>()), transfers_(std::make_unique<Transfers>()) {
    if (!progress || !refusal) throw std::invalid_argument("DownloadsFileReceiver needs its progress and refusal");
    reporter_->progress = std::move(progress);
    reporter_->refusal = std::move(refusal);
    reporter_->reveal = reveal ? std::move(reveal) : Reveal(revealInFileManager);
    transfers_->folder = std::move(folder);
    transfers_->reporter = reporter_;
    queue_.post([this] {
        const std::string where = transfers_->folder.empty() ? downloadFolder() : transfers_->folder;
        if (const std::size_t n = removeLeftovers(where); n > 0)
            print("• removed " + std::to_string(n) + " half-received file(s) an earlier run left in " + where);
    });
}

DownloadsFileReceiver::~DownloadsFileReceiver() {
    queue_.sync([this] {
        transfers_->cancelAll();
        transfers_.reset();
    });
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
    const std::string located = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation).toStdString();
    const std::string home = homeDirectory();
    if (!located.empty()) {
        // The user-dirs way of saying "no downloads folder" is the home folder itself: files there could
        // run at the next login. A name that exists but is no folder cannot take files either.
        struct stat st {};
        const bool exists = ::stat(located.c_str(), &st) == 0;
        const std::string real = realFolder(located);
        if (!exists || (S_ISDIR(st.st_mode) && !real.empty() && real != realFolder(home))) return located;
    }
    const std::string fallback = home + "/Downloads";
    ::mkdir(fallback.c_str(), 0700);
    return fallback;
}

std::size_t DownloadsFileReceiver::removeLeftovers(const std::string& folder) {
    const UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return 0;
    const int listed = ::dup(dir.get());
    DIR* d = listed >= 0 ? ::fdopendir(listed) : nullptr;
    if (!d) {
        if (listed >= 0) ::close(listed);
        return 0;
    }
    std::size_t removed = 0;
    while (const dirent* e = ::readdir(d)) {
        const std::string_view name = e->d_name;
        if (!endsWith(name, partSuffix)) continue;
        struct stat st {};
        if (::fstatat(dir.get(), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::getuid())
            continue;
        if (::unlinkat(dir.get(), e->d_name, 0) == 0) ++removed;
    }
    ::closedir(d);
    return removed;
}

} // namespace dovrel::agent

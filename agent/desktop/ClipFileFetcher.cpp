#include "agent/desktop/ClipFileFetcher.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "agent/common/AgentLog.h"
#include "agent/common/UniqueFd.h"
#include "agent/desktop/PositionalWrite.h"
#include "agent/desktop/ReceivedRanges.h"
#include "agent/desktop/SafeFileName.h"
#include "protocol/ControlMessages.h"
#include "protocol/FileMessages.h"

namespace dovrel::agent {

namespace fs = std::filesystem;

namespace {

// Makes `folder` (and its parents) and leaves it private to this user.
bool makePrivateFolder(const std::string& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return false;
    return ::chmod(folder.c_str(), 0700) == 0;
}

// A size as a person reads it: "512 bytes", "1.5 MB", "2 GB" (units of 1024).
std::string humanSize(uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " bytes";
    const char* units[] = {"KB", "MB", "GB", "TB"};
    double v = static_cast<double>(bytes) / 1024;
    std::size_t u = 0;
    while (v >= 1024 && u + 1 < std::size(units)) {
        v /= 1024;
        ++u;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", v);
    std::string number = text;
    if (number.ends_with(".0")) number.resize(number.size() - 2);
    return number + " " + units[u];
}

uint64_t plus(uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

} // namespace

struct ClipFileFetcher::State {
    struct Wanted {
        std::string name; // safe, not yet unique in the folder
        uint64_t size = 0;
        std::string path; // once fetched
    };
    struct Offer {
        uint32_t generation = 0;
        std::string folder;
        UniqueFd dir;
        std::vector<Wanted> files;
        std::size_t index = 0; // the file being fetched
        UniqueFd file;
        std::string fileName;
        ReceivedRanges ranges;
        std::unique_ptr<Timer> giveUp;
    };

    ClipFileFetcher* owner;
    std::string base;
    bool baseUsable = false;
    Scheduler& scheduler;
    Limits limits;
    std::shared_ptr<ControllerLink> link;
    Publish publish;
    std::unique_ptr<Offer> fetching;
    std::string published; // the folder of the files now on the clipboard
    uint64_t offerCount = 0;

    State(ClipFileFetcher* o, std::string folder, Scheduler& s, Limits l, std::shared_ptr<ControllerLink> k, Publish p)
        : owner(o), base(std::move(folder)), scheduler(s), limits(l), link(std::move(k)), publish(std::move(p)) {
        baseUsable = makePrivateFolder(base);
        if (!baseUsable) {
            print("⚠︎ clipboard files from the controller cannot be kept — " + base + " is not a private folder");
            return;
        }
        // What an earlier run fetched went with its clipboard.
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(base, ec))
            fs::remove_all(entry.path(), ec);
    }

    ~State() {
        abandon();
        // The clipboard that offered them goes with this process.
        removeFolder(published);
    }

    static void removeFolder(const std::string& folder) {
        if (folder.empty()) return;
        std::error_code ec;
        fs::remove_all(folder, ec);
    }

    void abandon() {
        if (!fetching) return;
        fetching->file.close();
        removeFolder(fetching->folder);
        fetching.reset();
    }

    // The controller shows this to the person who copied the files; nothing else reaches it.
    void tell(const std::string& text) {
        link->send(wex::ControlType::error, wex::ErrorMsg(0, wex::ErrCode::refused, text).encode());
    }

    void fail(const std::string& why) {
        print("• clipboard files from the controller " + why + " — dropped");
        tell("The copied files could not be pasted on this computer: they " + why + ".");
        abandon();
    }

    void writeFailed(int error) {
        print("• clipboard-file write failed (" + std::string(std::strerror(error)) + ") — dropping it");
        tell("The copied files could not be pasted on this computer: writing them failed (" +
             std::string(std::strerror(error)) + ").");
        abandon();
    }

    // Why an offer cannot be taken as a whole, for the person who copied it; empty when it can.
    std::string overLimits(const std::vector<wex::ClipFileEntry>& entries) const {
        if (entries.size() > limits.files)
            return "Too many files to paste on this computer: " + std::to_string(entries.size()) +
                   " were copied, at most " + std::to_string(limits.files) + " can be pasted at once.";
        uint64_t total = 0;
        for (const auto& e : entries) {
            if (e.size > limits.fileBytes)
                return "A copied file is too large to paste on this computer (" + humanSize(e.size) + "; at most " +
                       humanSize(limits.fileBytes) + " a file).";
            total = plus(total, e.size);
            if (total > limits.totalBytes)
                return "The copied files are too large to paste on this computer together (at most " +
                       humanSize(limits.totalBytes) + " at once).";
        }
        return {};
    }

    void offer(uint32_t generation, std::vector<wex::ClipFileEntry> entries) {
        if (entries.empty()) return;
        abandon(); // a newer copy on the controller replaces the one still arriving
        if (!baseUsable) {
            tell("This computer cannot keep pasted files: its folder for them is not private.");
            return;
        }
        if (const std::string why = overLimits(entries); !why.empty()) {
            print("• clipboard files from the controller are more than this computer fetches (" +
                  std::to_string(limits.files) + " files, " + std::to_string(limits.fileBytes >> 30) + " GiB each, " +
                  std::to_string(limits.totalBytes >> 30) + " GiB in all) — not fetched");
            tell(why);
            return;
        }
        uint64_t total = 0;
        for (const auto& e : entries)
            total = plus(total, e.size);
        auto next = std::make_unique<Offer>();
        std::string folder = base + "/offer-" + std::to_string(++offerCount) + "-XXXXXX";
        if (!::mkdtemp(folder.data())) {
            const std::string error = std::strerror(errno);
            print("• clipboard files from the controller cannot be kept (" + error + ") — not fetched");
            tell("This computer cannot keep pasted files right now (" + error + ").");
            return;
        }
        next->folder = folder;
        next->dir.reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct statvfs vfs {};
        const bool known = next->dir && ::fstatvfs(next->dir.get(), &vfs) == 0;
        const uint64_t free = known ? static_cast<uint64_t>(vfs.f_bavail) * static_cast<uint64_t>(vfs.f_frsize) : 0;
        if (!known || plus(total, limits.keepFree) > free) {
            print("• clipboard files from the controller need more room than is free (" + humanSize(total) + ", " +
                  humanSize(free) + " free) — not fetched");
            tell("This computer has too little free disk space for the copied files (" + humanSize(total) +
                 " needed, " + humanSize(free) + " free).");
            removeFolder(folder);
            return;
        }
        next->generation = generation;
        for (const auto& e : entries)
            next->files.push_back({safeFileName(e.name, "Dovrel file").value_or("Dovrel file"), e.size, {}});
        fetching = std::move(next);
        pullCurrent();
    }

    // Creates the current file and asks the controller for it.
    void pullCurrent() {
        Offer& o = *fetching;
        // The offer's folder keeps them private; pasted copies get the usual permissions.
        CreatedFile created = createUniqueFile(o.dir.get(), o.files[o.index].name, 0666);
        if (!created.fd) {
            fail("cannot be written (" + std::string(std::strerror(created.error)) + ")");
            return;
        }
        o.file = std::move(created.fd);
        o.fileName = created.name;
        o.ranges = {};
        armGiveUp();
        link->send(wex::ControlType::clipFilePull,
                   wex::ClipFilePull{0, o.generation, static_cast<uint8_t>(o.index)}.encode());
    }

    // The offer is given up when its current file has had no data for 45 s.
    void armGiveUp() {
        const uint64_t which = offerCount;
        const std::size_t index = fetching->index;
        fetching->giveUp = scheduler.after(giveUpAfter, [this, which, index] {
            owner->queue_.post([this, which, index] {
                if (fetching && offerCount == which && fetching->index == index)
                    fail("did not arrive within " + std::to_string(giveUpAfter / std::chrono::seconds(1)) + " s");
            });
        });
    }

    void data(uint32_t generation, uint8_t index, uint64_t offset, const wex::Bytes& bytes, bool last) {
        if (!fetching || fetching->generation != generation || fetching->index != index) return; // late or unasked
        Offer& o = *fetching;
        Wanted& want = o.files[o.index];
        if (offset > want.size || bytes.size() > want.size - offset) {
            fail("were longer than announced");
            return;
        }
        if (const int error = writeAt(o.file.get(), bytes.data(), bytes.size(), offset); error != 0) {
            writeFailed(error);
            return;
        }
        o.ranges.add(offset, bytes.size());
        armGiveUp();
        if (!last) return;
        // The controller sends each file in order on one stream: at its last piece it is whole or lost.
        if (!o.ranges.complete(want.size)) {
            fail("arrived incomplete");
            return;
        }
        if (o.file.close() != 0) {
            writeFailed(errno);
            return;
        }
        want.path = o.folder + "/" + o.fileName;
        if (++o.index < o.files.size()) {
            pullCurrent();
            return;
        }
        std::vector<std::string> paths;
        for (const auto& f : o.files)
            paths.push_back(f.path);
        print("• clipboard files from the controller ready to paste (" + std::to_string(paths.size()) + " file(s))");
        // The files the clipboard offered until now are replaced.
        removeFolder(published);
        published = o.folder;
        fetching.reset();
        if (publish) publish(std::move(paths));
    }
};

ClipFileFetcher::ClipFileFetcher(std::string folder, Scheduler& scheduler, Limits limits,
                                 std::shared_ptr<ControllerLink> link, Publish publish)
    : state_(std::make_unique<State>(this, std::move(folder), scheduler, limits, std::move(link), std::move(publish))) {
}

ClipFileFetcher::~ClipFileFetcher() {
    queue_.sync([this] { state_.reset(); });
}

void ClipFileFetcher::offer(uint32_t generation, std::vector<wex::ClipFileEntry> files) {
    queue_.post([this, generation, files = std::move(files)]() mutable {
        if (state_) state_->offer(generation, std::move(files));
    });
}

void ClipFileFetcher::data(uint32_t generation, uint8_t index, uint64_t offset, wex::Bytes bytes, bool last) {
    queue_.post([this, generation, index, offset, bytes = std::move(bytes), last] {
        if (state_) state_->data(generation, index, offset, bytes, last);
    });
}

void ClipFileFetcher::cancel() {
    queue_.post([this] {
        if (state_) state_->abandon();
    });
}

void ClipFileFetcher::waitIdle() {
    queue_.sync([] {});
}

} // namespace dovrel::agent

#include "controller/client/files/FileTransfers.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <QMetaObject>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "controller/client/files/FileTexts.h"
#include "protocol/FileMessages.h"

namespace dovrel::controller {

namespace {

// A file opened for reading, closed with its owner.
struct ReadFile {
    int fd = -1;
    ReadFile() = default;
    ReadFile(const ReadFile&) = delete;
    ReadFile& operator=(const ReadFile&) = delete;
    ~ReadFile() { close(); }
    void close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

std::string lastPathComponent(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    const auto slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

// Opens a regular file; its size in `size`, else the reason in `why`.
bool openForReading(const std::string& path, ReadFile& file, uint64_t& size, std::string& why) {
    file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file.fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) {
        why = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        why = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file";
        return false;
    }
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

// Reads exactly `length` bytes at `offset`; false (with the reason) when the file ends early or fails.
bool readAt(int fd, uint64_t offset, std::size_t length, wex::Bytes& out, std::string& why) {
    out.resize(length);
    std::size_t got = 0;
    while (got < length) {
        const ssize_t n = ::pread(fd, out.data() + got, length - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            why = std::strerror(errno);
            return false;
        }
        if (n == 0) {
            why = "the file became shorter while it was sent";
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

// One transfer; touched only on the file thread.
struct FileTransfers::Job {
    enum class Kind { file, clip } kind = Kind::file;
    std::string path;
    std::string name;
    ReadFile file;
    uint64_t size = 0;
    uint64_t offset = 0;
    SessionChannel::SessionRef session;
    uint32_t transferId = 0;
    uint32_t generation = 0;
    uint8_t index = 0;
    bool pathGiven = true;
    std::chrono::steady_clock::time_point lastShown{};
};

// Lets the client's thread hand results back to the file thread while the transfers exist, and
// never after.
struct FileTransfers::Gate {
    std::mutex mutex;
    SerialQueue* queue = nullptr;

    void post(std::function<void()> fn) {
        std::lock_guard lock(mutex);
        if (queue) queue->post(std::move(fn));
    }
};

FileTransfers::FileTransfers(SessionChannel& channel, FileTransferReport& report, Scheduler& clock)
    : channel_(channel), report_(report), clock_(clock), mainContext_(std::make_unique<QObject>()),
      gate_(std::make_shared<Gate>()), queue_(std::make_unique<SerialQueue>("dovrel.file")) {
    gate_->queue = queue_.get();
}

FileTransfers::~FileTransfers() {
    {
        std::lock_guard lock(gate_->mutex);
        gate_->queue = nullptr;
    }
    // Work posted before runs out with the queue still in place, as it checks its thread through it (a
    // file chosen just before the window closed); then the file thread ends. What it posted here goes
    // with the context.
    queue_->sync([] {});
    queue_.reset();
    mainContext_.reset();
}

void FileTransfers::onMain(std::function<void()> fn) {
    QMetaObject::invokeMethod(mainContext_.get(), std::move(fn), Qt::QueuedConnection);
}

void FileTransfers::sendFile(const std::string& path) {
    auto job = std::make_shared<Job>();
    job->kind = Job::Kind::file;
    job->path = path;
    job->name = lastPathComponent(path);
    ++active_;
    gate_->post([this, job] { begin(job); });
}

void FileTransfers::sendClipFile(uint32_t generation, uint8_t index, std::optional<std::string> path) {
    auto job = std::make_shared<Job>();
    job->kind = Job::Kind::clip;
    job->generation = generation;
    job->index = index;
    job->pathGiven = path.has_value();
    if (path) job->path = *path;
    ++active_;
    gate_->post([this, job] { begin(job); });
}

void FileTransfers::begin(std::shared_ptr<Job> job) {
    queue_->assertCurrent("FileTransfers::begin");
    // The session is asked for first: a file sent outside one is not even opened.
    channel_.currentSession([this, gate = std::weak_ptr(gate_), job](SessionChannel::SessionRef session) {
        if (auto g = gate.lock())
            g->post([this, job, session] {
                job->session = session;
                step(job);
            });
    });
}

void FileTransfers::sendThen(const std::shared_ptr<Job>& job, wex::ControlType type, wex::Bytes payload,
                             std::function<void(bool)> next) {
    channel_.sendInSession(job->session, type, std::move(payload),
                           [gate = std::weak_ptr(gate_), next = std::move(next)](bool sent) {
                               if (auto g = gate.lock()) g->post([next, sent] { next(sent); });
                           });
}

void FileTransfers::step(std::shared_ptr<Job> job) {
    queue_->assertCurrent("FileTransfers::step");
    const bool isFile = job->kind == Job::Kind::file;
    const bool opened = job->file.fd >= 0;

    if (!opened && isFile) {
        if (job->session.expired()) {
            onMain([this] { report_.showFileFailure(std::string(texts::fileNotConnected)); });
            return finish(job);
        }
        std::string why;
        if (!openForReading(job->path, job->file, job->size, why)) {
            onMain([this, why] { report_.showFileFailure(texts::fileUnreadable(why)); });
            return finish(job);
        }
        job->transferId = ++transferSeq_;
        showProgress(job, 0.0, true);
        wex::FileOffer offer{0, job->transferId, job->size, job->name};
        return sendThen(job, wex::ControlType::fileOffer, offer.encode(), [this, job](bool sent) {
            if (!sent) return lost(job);
            step(job);
        });
    }

    if (!opened && !isFile) {
        std::string why;
        if (job->session.expired()) return finish(job);
        if (!job->pathGiven || !openForReading(job->path, job->file, job->size, why) || job->size == 0) {
            // Nothing to give: one empty last piece tells the agent so.
            job->file.close();
            wex::ClipFileData none(0, job->generation, job->index, 0, true, {});
            return sendThen(job, wex::ControlType::clipFileData, none.encode(), [this, job](bool) { finish(job); });
        }
    }

    if (job->offset < job->size) {
        const uint64_t end = std::min<uint64_t>(job->offset + chunkBytes, job->size);
        wex::Bytes bytes;
        std::string why;
        if (!readAt(job->file.fd, job->offset, static_cast<std::size_t>(end - job->offset), bytes, why)) {
            if (isFile) {
                onMain([this, why] { report_.showFileFailure(texts::fileUnreadable(why)); });
                wex::FileEnd failed(0, job->transferId, false);
                return sendThen(job, wex::ControlType::fileEnd, failed.encode(), [this, job](bool) { finish(job); });
            }
            wex::ClipFileData stop(0, job->generation, job->index, job->offset, true, {});
            return sendThen(job, wex::ControlType::clipFileData, stop.encode(), [this, job](bool) { finish(job); });
        }
        const uint64_t at = job->offset;
        job->offset = end;
        wex::Bytes payload =
            isFile ? wex::FileChunk{0, job->transferId, at, std::move(bytes)}.encode()
                   : wex::ClipFileData(0, job->generation, job->index, at, end >= job->size, std::move(bytes)).encode();
        const auto type = isFile ? wex::ControlType::fileChunk : wex::ControlType::clipFileData;
        return sendThen(job, type, std::move(payload), [this, job, isFile](bool sent) {
            if (!sent) return isFile ? lost(job) : finish(job);
            if (isFile) showProgress(job, static_cast<double>(job->offset) / static_cast<double>(job->size), false);
            if (!isFile && job->offset >= job->size) return finish(job);
            step(job);
        });
    }

    // A whole file sent (an empty one has no chunk): its end.
    wex::FileEnd done(0, job->transferId, true);
    sendThen(job, wex::ControlType::fileEnd, done.encode(), [this, job](bool sent) {
        if (!sent) return lost(job);
        onMain([this, name = job->name] { showFinished(name); });
        finish(job);
    });
}

void FileTransfers::lost(const std::shared_ptr<Job>& job) {
    onMain([this, name = job->name] { report_.showFileFailure(texts::fileSessionLost(name)); });
    finish(job);
}

void FileTransfers::finish(const std::shared_ptr<Job>& job) {
    job->file.close();
    --active_;
}

void FileTransfers::showProgress(const std::shared_ptr<Job>& job, double progress, bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && progress < 1.0 && now - job->lastShown <= progressEvery) return;
    job->lastShown = now;
    onMain([this, progress] {
        hideTimer_.reset();
        report_.showFileProgress(progress);
    });
}

void FileTransfers::showFinished(const std::string& name) {
    report_.showFileProgress(1.0);
    report_.showFileSent(name);
    hideTimer_ = clock_.after(finishedShownFor, [this] {
        hideTimer_.reset();
        report_.showFileProgress(std::nullopt);
    });
}

} // namespace dovrel::controller

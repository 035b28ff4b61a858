#include "controller/client/files/ClipboardFileHost.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

#include "controller/client/files/ClipFileNames.h"
#include "controller/client/files/FileTexts.h"
#include "controller/platform/ClientLog.h"
#include "protocol/FileMessages.h"

namespace dovrel::controller {

namespace {

std::string lastComponent(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A regular file's size; 0 for a folder or what cannot be read.
uint64_t fileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    return static_cast<uint64_t>(st.st_size);
}

} // namespace

ClipboardFileHost::ClipboardFileHost(Clipboard& clipboard, SessionChannel& channel, FileTransfers& transfers,
                                     ReceiveFolder& folder, FileTransferReport& report, Scheduler& clock)
    : clipboard_(clipboard), channel_(channel), transfers_(transfers), folder_(folder), report_(report), clock_(clock),
      offerLines_(clock, "the agent's clipboard-file offers", 8, [](const std::string& line) { clipLog(line); }),
      dataLines_(clock, "the agent's clipboard-file pieces", 8, [](const std::string& line) { clipLog(line); }) {}

ClipboardFileHost::~ClipboardFileHost() { abandonReceive(); }

void ClipboardFileHost::start() {
    // What is on the clipboard already is not offered.
    lastChange_ = clipboard_.changeCount();
    timer_ = clock_.every(pollInterval, pollInterval, [this] { pollLocalClipboard(); });
    clipLog("started (clipHost wired)");
}

void ClipboardFileHost::stop() {
    timer_.reset();
    heldTimer_.reset();
    held_.reset();
    abandonReceive();
    offered_.clear();
}

void ClipboardFileHost::abandonReceive() {
    // Files still arriving are closed and go with their folder; a finished receive is on the clipboard
    // and stays until the next offer replaces it.
    recvFiles_.clear();
    if (recvActive_) folder_.discardOffer();
    recvActive_ = false;
}

void ClipboardFileHost::pollLocalClipboard() {
    const uint64_t count = clipboard_.changeCount();
    if (count == lastChange_) return;
    lastChange_ = count;
    std::vector<std::string> paths = clipboard_.filePaths();
    if (paths.empty()) return;
    ++gen_;
    wex::ClipFilesOffer offer;
    offer.generation = gen_;
    for (const auto& path : paths)
        offer.files.push_back({lastComponent(path), fileSize(path)});
    const std::size_t files = paths.size();
    offered_.clear();
    offered_[gen_] = std::move(paths);
    channel_.sendControl(wex::ControlType::clipFilesOffer, offer.encode());
    clipLog("local copy → OFFER gen=" + std::to_string(gen_) + " files=" + std::to_string(files) +
            " (names+sizes only)");
}

void ClipboardFileHost::onPull(uint32_t generation, uint8_t index) {
    const auto it = offered_.find(generation);
    if (it != offered_.end() && index < it->second.size())
        transfers_.sendClipFile(generation, index, it->second[index]);
    else
        transfers_.sendClipFile(generation, index, std::nullopt);
}

void ClipboardFileHost::onRemoteOffer(uint32_t generation, const std::vector<wex::ClipFileEntry>& files) {
    // Outside a session nothing is received.
    if (files.empty() || !running()) return;
    const std::string head = "← OFFER gen=" + std::to_string(generation);
    if (const auto refusal = clipOfferRefusal(files)) {
        offerLines_.print(head + " REFUSED: " + *refusal);
        report_.showFileFailure(texts::clipFilesNotReceived(std::string(texts::clipFilesOverLimits)));
        return;
    }
    // Too soon after the last one: it waits its turn, and a newer offer takes its place.
    const Instant now = clock_.now();
    if (lastOfferAt_ && now - *lastOfferAt_ < offerSpacing) {
        const bool armed = held_.has_value();
        held_ = HeldOffer{generation, files};
        if (!armed)
            heldTimer_ = clock_.after(*lastOfferAt_ + offerSpacing - now, [this] {
                heldTimer_.reset();
                if (!held_ || !running()) return;
                const HeldOffer next = std::move(*held_);
                held_.reset();
                beginReceive(next.generation, next.files);
            });
        return;
    }
    beginReceive(generation, files);
}

void ClipboardFileHost::beginReceive(uint32_t generation, const std::vector<wex::ClipFileEntry>& files) {
    lastOfferAt_ = clock_.now();
    const std::string head = "← OFFER gen=" + std::to_string(generation);
    uint64_t total = 0;
    for (const auto& f : files)
        total += f.size;
    // The previous receive, finished or not, makes way: one offer's folder at a time.
    abandonReceive();
    std::string why;
    if (!folder_.openOffer(generation, total, why)) {
        offerLines_.print(head + " not received: " + why);
        report_.showFileFailure(texts::clipFilesNotReceived(why));
        return;
    }
    offerLines_.print(head + " files=" + std::to_string(files.size()) + " " + std::to_string(total) +
                      " bytes — pulling now (eager)");

    recvGen_ = generation;
    recvActive_ = true;
    const std::vector<std::string> names = distinctClipFileNames(files);
    for (std::size_t i = 0; i < files.size(); ++i) {
        RecvFile recv;
        recv.size = files[i].size;
        errno = 0;
        recv.file = folder_.create(names[i]);
        if (!recv.file.isOpen())
            recv.failure = texts::clipFilesUnwritable(errno != 0 ? std::strerror(errno) : "a name can't be used");
        recvFiles_.push_back(std::move(recv));
        channel_.sendControl(wex::ControlType::clipFilePull,
                             wex::ClipFilePull{0, generation, static_cast<uint8_t>(i)}.encode());
    }
    recvRemaining_ = files.size();
}

void ClipboardFileHost::fail(RecvFile& recv, std::string why) {
    if (recv.failure.empty()) recv.failure = std::move(why);
    folder_.remove(recv.file);
}

void ClipboardFileHost::onData(uint32_t generation, uint8_t index, uint64_t offset, const wex::Bytes& data, bool last) {
    if (!recvActive_ || generation != recvGen_ || index >= recvFiles_.size() || recvFiles_[index].done) return;
    RecvFile& recv = recvFiles_[index];
    if (recv.file.isOpen() && !data.empty()) {
        const uint64_t length = data.size();
        if (offset > recv.size || length > recv.size - offset || length > recv.size - recv.written) {
            dataLines_.print("DATA gen=" + std::to_string(generation) + " idx=" + std::to_string(index) +
                             " DROPPED: " + std::to_string(length) + " bytes at " + std::to_string(offset) +
                             " is outside the declared " + std::to_string(recv.size));
            return;
        }
        if (recv.file.writeAt(offset, data)) {
            recv.written += length;
        } else {
            fail(recv, texts::clipFilesUnwritable(std::strerror(errno)));
        }
    }
    if (!last) return;
    recv.done = true;
    recv.file.close();
    if (recv.failure.empty() && recv.written != recv.size) fail(recv, std::string(texts::clipFilesIncomplete));
    if (recvRemaining_ > 0) --recvRemaining_;
    if (recvRemaining_ == 0) finishReceive();
}

void ClipboardFileHost::finishReceive() {
    recvActive_ = false;
    std::vector<std::string> usable;
    std::size_t failed = 0;
    std::string why;
    for (auto& recv : recvFiles_) {
        if (!recv.failure.empty()) {
            ++failed;
            if (why.empty()) why = recv.failure;
        } else if (recv.size != 0 && !recv.file.path().empty()) {
            usable.push_back(recv.file.path());
        }
    }
    if (failed > 0)
        report_.showFileFailure(failed == recvFiles_.size()
                                    ? texts::clipFilesNotReceived(why)
                                    : texts::clipFilesPartlyReceived(failed, recvFiles_.size(), why));
    if (usable.empty()) {
        clipLog("receive complete but no usable files");
        recvFiles_.clear();
        folder_.discardOffer();
        return;
    }
    clipboard_.setFiles(usable);
    // The received files are this program's own write: they are not offered back to the agent.
    lastChange_ = clipboard_.changeCount();
    clipLog("receive complete gen=" + std::to_string(recvGen_) + " → " + std::to_string(usable.size()) +
            " file(s) on the clipboard (pasteable)");
}

} // namespace dovrel::controller

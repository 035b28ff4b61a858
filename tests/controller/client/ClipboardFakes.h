#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "controller/client/link/SessionChannel.h"
#include "controller/platform/Clipboard.h"

namespace dovrel::controller::test {

// A session that records what is sent through it, answering on the caller's thread. `loseAfter`
// ends the session once that many messages went in it.
class FakeChannel final : public SessionChannel {
public:
    struct Sent {
        wex::ControlType type;
        wex::Bytes payload;
    };

    void sendControl(wex::ControlType type, wex::Bytes payload) override {
        std::lock_guard lock(mutex_);
        if (session_) sent_.push_back({type, std::move(payload)});
    }
    void currentSession(std::function<void(SessionRef)> reply) override {
        SessionRef ref;
        {
            std::lock_guard lock(mutex_);
            ref = session_;
        }
        reply(ref);
    }
    void sendInSession(SessionRef session, wex::ControlType type, wex::Bytes payload,
                       std::function<void(bool)> done) override {
        bool sent = false;
        {
            std::lock_guard lock(mutex_);
            const auto held = session.lock();
            if (session_ && held == session_) {
                sent_.push_back({type, std::move(payload)});
                sent = true;
                if (loseAfter_ && sent_.size() >= *loseAfter_) session_.reset();
            }
        }
        done(sent);
    }

    void open() {
        std::lock_guard lock(mutex_);
        session_ = std::make_shared<int>(0);
    }
    void loseAfter(std::size_t messages) {
        std::lock_guard lock(mutex_);
        loseAfter_ = messages;
    }
    std::vector<Sent> sent() const {
        std::lock_guard lock(mutex_);
        return sent_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        sent_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<const void> session_;
    std::optional<std::size_t> loseAfter_;
    std::vector<Sent> sent_;
};

// What the session window would show.
struct FakeReport final : FileTransferReport {
    std::vector<std::optional<double>> progress;
    std::vector<std::string> failures;
    std::vector<std::string> sent;
    void showFileProgress(std::optional<double> p) override { progress.push_back(p); }
    void showFileSent(const std::string& name) override { sent.push_back(name); }
    void showFileFailure(const std::string& text) override {
        progress.push_back(std::nullopt);
        failures.push_back(text);
    }
};

// A clipboard in memory; `copy...` is another application copying.
class FakeClipboard final : public Clipboard {
public:
    uint64_t changeCount() override { return count_; }
    std::optional<std::string> text() override { return text_; }
    std::vector<std::string> filePaths() override { return files_; }
    bool setText(const std::string& text) override {
        copyText(text);
        ++writes;
        return true;
    }
    bool setFiles(const std::vector<std::string>& paths) override {
        copyFiles(paths);
        ++writes;
        return true;
    }
    void copyText(const std::string& text) {
        text_ = text;
        files_.clear();
        ++count_;
    }
    void copyFiles(const std::vector<std::string>& paths) {
        text_.reset();
        files_ = paths;
        ++count_;
    }
    int writes = 0;

private:
    uint64_t count_ = 1;
    std::optional<std::string> text_;
    std::vector<std::string> files_;
};

} // namespace dovrel::controller::test

#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "controller/ui/assistant/QuibPanelModel.h"

namespace dovrel::controller::test {

// The assistant, the remote field and the clipboard as the panel sees them; each answer waits until
// the test gives it.
struct FakeAssistant final : WritingAssistant {
    AssistantSource source = AssistantSource::proxy;
    QString reason = "Sign in to use Quib.";
    std::optional<int> remaining;
    bool account = true;
    bool consent = true;
    struct Call {
        QString text, instruction;
        std::function<void(std::optional<QString>)> done;
    };
    std::vector<Call> calls;

    AssistantSource currentSource() const override { return source; }
    QString unavailableReason() const override { return reason; }
    std::optional<int> remainingToday() const override { return remaining; }
    bool signedIn() const override { return account; }
    bool cloudConsent() const override { return consent; }
    void setCloudConsent(bool on) override {
        consent = on;
        source = on ? AssistantSource::proxy : AssistantSource::unavailable;
    }
    void rewrite(const QString& text, const QString& instruction,
                 std::function<void(std::optional<QString>)> done) override {
        calls.push_back({text, instruction, std::move(done)});
    }
};

struct FakeRemote final : AssistantRemote {
    uint64_t session = 7;
    int selectAlls = 0;
    std::vector<QString> typed;
    std::function<void(std::optional<QString>)> capture;
    std::chrono::milliseconds captureTimeout{0};

    uint64_t currentSession() const override { return session; }
    void selectAllAndCopy() override { ++selectAlls; }
    void captureNextRemoteText(std::chrono::milliseconds timeout,
                               std::function<void(std::optional<QString>)> done) override {
        captureTimeout = timeout;
        capture = std::move(done);
    }
    void typeText(const QString& text) override { typed.push_back(text); }
};

struct FakeClipboard final : Clipboard {
    std::string copied;
    uint64_t changeCount() override { return 0; }
    std::optional<std::string> text() override { return copied; }
    std::vector<std::string> filePaths() override { return {}; }
    bool setText(const std::string& t) override {
        copied = t;
        return true;
    }
    bool setFiles(const std::vector<std::string>&) override { return false; }
};

// A panel over the three fakes.
struct PanelParts {
    std::shared_ptr<FakeAssistant> assistant = std::make_shared<FakeAssistant>();
    std::shared_ptr<FakeRemote> remote = std::make_shared<FakeRemote>();
    std::shared_ptr<FakeClipboard> clipboard = std::make_shared<FakeClipboard>();
    QuibPanelModel panel{assistant, remote, clipboard};
};

} // namespace dovrel::controller::test

#pragma once

#include <memory>

#include "controller/client/InputChannel.h"
#include "controller/client/RemoteInput.h"
#include "controller/ui/AssistantRemote.h"

namespace dovrel::controller {

// The session client's one-shot capture of the next clipboard text the agent sends.
class RemoteTextCapture {
public:
    virtual ~RemoteTextCapture() = default;
    virtual void captureNextRemoteText(std::chrono::milliseconds timeout,
                                       std::function<void(std::optional<QString>)> done) = 0;
};

// The panel's remote field over the session client: its input for keys and text, its session number,
// and its clipboard capture. Main thread; the three must outlive it.
class ClientAssistantRemote final : public AssistantRemote {
public:
    ClientAssistantRemote(RemoteInput& input, const InputChannel& channel, RemoteTextCapture& capture)
        : input_(input), channel_(channel), capture_(capture) {}

    uint64_t currentSession() const override { return channel_.inputSession(); }
    void selectAllAndCopy() override { input_.selectAllAndCopy(); }
    void captureNextRemoteText(std::chrono::milliseconds timeout,
                               std::function<void(std::optional<QString>)> done) override {
        capture_.captureNextRemoteText(timeout, std::move(done));
    }
    void typeText(const QString& text) override { input_.typeText(text); }

private:
    RemoteInput& input_;
    const InputChannel& channel_;
    RemoteTextCapture& capture_;
};

// QClipboard's plain text.
class QtLocalClipboard final : public LocalClipboard {
public:
    void setText(const QString& text) override;
};

} // namespace dovrel::controller

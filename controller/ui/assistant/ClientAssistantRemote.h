#pragma once

#include "controller/client/files/ClipboardTextSync.h"
#include "controller/client/input/InputChannel.h"
#include "controller/client/input/RemoteInput.h"
#include "controller/ui/assistant/AssistantRemote.h"

namespace dovrel::controller {

// The panel's remote field over the session client: its input for keys and text, its session number,
// and the clipboard text sync's one-shot capture. Main thread; the three must outlive it.
class ClientAssistantRemote final : public AssistantRemote {
public:
    ClientAssistantRemote(RemoteInput& input, const InputChannel& channel, ClipboardTextSync& text)
        : input_(input), channel_(channel), text_(text) {}

    uint64_t currentSession() const override { return channel_.inputSession(); }
    void selectAllAndCopy() override { input_.selectAllAndCopy(); }
    void captureNextRemoteText(std::chrono::milliseconds timeout,
                               std::function<void(std::optional<QString>)> done) override;
    void typeText(const QString& text) override { input_.typeText(text); }

private:
    RemoteInput& input_;
    const InputChannel& channel_;
    ClipboardTextSync& text_;
};

} // namespace dovrel::controller

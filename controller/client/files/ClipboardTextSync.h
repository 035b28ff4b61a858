#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QObject>

#include "controller/client/link/SessionChannel.h"
#include "controller/platform/Clipboard.h"
#include "runtime/Scheduler.h"

namespace dovrel::controller {

// Keeps plain clipboard text in step with the agent during a session. Outward: the clipboard is looked
// at every 0.8 s and new text goes to the agent, cut to what one message carries. Inward: the agent's
// text is put on the clipboard unless it is there already, and is never sent back, not even when the
// same text is copied again here later. The writing assistant can ask for the next text that arrives.
// Main thread: create, call and destroy it there.
class ClipboardTextSync : public QObject {
public:
    static constexpr Duration pollInterval = std::chrono::milliseconds(800);
    using Capture = std::function<void(std::optional<std::string>)>;

    ClipboardTextSync(Clipboard& clipboard, SessionChannel& channel, Scheduler& clock);
    ~ClipboardTextSync() override;

    // From the session's start to its end. A start takes what is on the clipboard now as seen.
    void start();
    void stop();
    bool running() const { return timer_ != nullptr; }

    // One look at the clipboard (the poll's step).
    void poll();
    // Text the agent sent.
    void applyRemote(const std::string& text);

    // One-shot: `handler` gets the next text that arrives from the agent (which is applied as well),
    // or none when `timeout` passes first. A new capture replaces a pending one, whose handler is then
    // never called.
    void captureNextRemoteText(Duration timeout, Capture handler);

private:
    Clipboard& clipboard_;
    SessionChannel& channel_;
    Scheduler& clock_;
    std::unique_ptr<Timer> timer_;
    uint64_t lastCount_ = 0;
    std::optional<std::string> suppress_;
    Capture pendingCapture_;
    std::unique_ptr<Timer> captureTimer_;
};

} // namespace dovrel::controller

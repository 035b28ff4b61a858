#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include <QString>

namespace dovrel::controller {

// What the assistant panel does to the remote machine's focused text field, through the session
// client. Main thread.
class AssistantRemote {
public:
    virtual ~AssistantRemote() = default;
    // The established session now; 0 without one. Changes with every new session.
    virtual uint64_t currentSession() const = 0;
    // Select all and copy, in the remote machine's own shortcuts.
    virtual void selectAllAndCopy() = 0;
    // The next clipboard text the agent sends, or nothing when none came within `timeout`. `done`
    // runs once, later, on this thread; a newer capture drops an older one without calling it.
    virtual void captureNextRemoteText(std::chrono::milliseconds timeout,
                                       std::function<void(std::optional<QString>)> done) = 0;
    // Types into the current session.
    virtual void typeText(const QString& text) = 0;
};

} // namespace dovrel::controller

#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "protocol/Bytes.h"
#include "protocol/ControlType.h"

namespace dovrel::controller {

// What the clipboard and file services need of the session client: control messages sealed and sent
// in one order with everything else the client sends (so sequence numbers stay unique and in order,
// whatever thread asks), and the identity of the session a long transfer belongs to.
class SessionChannel {
public:
    // Names one session; empty when there is none. It only compares, it keeps nothing alive.
    using SessionRef = std::weak_ptr<const void>;

    virtual ~SessionChannel() = default;

    // Sends the message in the current session, if there is one. Any thread; returns at once.
    virtual void sendControl(wex::ControlType type, wex::Bytes payload) = 0;
    // The current session, handed to `reply` on the client's thread. Any thread; returns at once.
    virtual void currentSession(std::function<void(SessionRef)> reply) = 0;
    // Sends the message only while `session` is still the current session, then calls `done` on the
    // client's thread: true once the link has room for more (a sender that waits for it keeps what is
    // queued small), false when that session is gone and nothing was sent. Any thread; returns at once.
    virtual void sendInSession(SessionRef session, wex::ControlType type, wex::Bytes payload,
                               std::function<void(bool sent)> done) = 0;
};

// Where a file transfer's state is shown: the client's published progress and error. Main thread.
class FileTransferReport {
public:
    virtual ~FileTransferReport() = default;
    // 0...1 while a file is sent, none when no transfer is shown.
    virtual void showFileProgress(std::optional<double> progress) = 0;
    // Ends the shown transfer with a text for the user.
    virtual void showFileFailure(const std::string& text) = 0;
    // The file called `name` arrived whole at the agent.
    virtual void showFileSent(const std::string& name) = 0;
};

} // namespace dovrel::controller

#pragma once

#include <functional>
#include <string>

namespace dovrel::agent {

// Keeps clipboard text in step with the controller while a session runs. An implementation is handed
// its SendText at construction.
class ClipboardSync {
public:
    // Local text to send to the controller (already fitted to the wire by the implementation).
    using SendText = std::function<void(const std::string& text)>;

    virtual ~ClipboardSync() = default;
    // (Re)starts watching the clipboard and offers the current text once.
    virtual void start() = 0;
    // Stops watching: the end of the session.
    virtual void stop() = 0;
    // Text from the controller goes onto this computer's clipboard.
    virtual void applyRemote(const std::string& text) = 0;
};

} // namespace dovrel::agent

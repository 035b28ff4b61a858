#pragma once

#include <optional>
#include <string>

#include "agent/core/ClipboardSync.h"

namespace dovrel::agent {

// Which local clipboard text goes to the controller, the same on every desktop: never empty text, and
// never the text a controller sent last. That one is kept for the agent's life, across sessions and
// local copies: a controller's own text is never offered back to it, nor to the next one. What goes is
// fitted to the wire, with a log line when it had to be cut. Used on the clipboard sync's own thread.
class ClipboardOffers {
public:
    explicit ClipboardOffers(ClipboardSync::SendText send) : send_(std::move(send)) {}

    // Whether there is somewhere to send to.
    explicit operator bool() const { return static_cast<bool>(send_); }
    // Sends `text` unless it is empty or the controller's own.
    void offer(const std::string& text);
    // `text` came from a controller: it is not offered back from now on.
    void fromController(const std::string& text) { fromController_ = text; }

private:
    ClipboardSync::SendText send_;
    std::optional<std::string> fromController_;
};

} // namespace dovrel::agent

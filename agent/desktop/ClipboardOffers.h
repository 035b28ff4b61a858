#pragma once

#include <optional>
#include <string>

#include "agent/core/ClipboardSync.h"

namespace dovrel::agent {

// Which local clipboard text goes to the controller, the same on every desktop: never empty text, and
// not the text a controller sent last while it is still what the clipboard holds from that write: its
// echo is held back across sessions, so it is not offered back to that controller nor to the next one.
// Once other text was copied here, the controller's old text is a copy like any other. What goes is
// fitted to the wire, with a log line when it had to be cut. Used on the clipboard sync's own thread.
class ClipboardOffers {
public:
    explicit ClipboardOffers(ClipboardSync::SendText send) : send_(std::move(send)) {}

    // Whether there is somewhere to send to.
    explicit operator bool() const { return static_cast<bool>(send_); }
    // Sends `text` unless it is empty or the echo of the controller's last text.
    void offer(const std::string& text);
    // `text` came from a controller: it is not offered back until other text was offered.
    void fromController(const std::string& text) { fromController_ = text; }

private:
    ClipboardSync::SendText send_;
    std::optional<std::string> fromController_;
};

} // namespace dovrel::agent

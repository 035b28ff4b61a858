#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace wex {

// The largest clipboard text, in UTF-8 bytes, that a peer sends in one message.
inline constexpr std::size_t maxClipboardTextBytes = 60000;

struct ClipboardWireText {
    std::string text; // UTF-8
    bool truncated = false;
    bool operator==(const ClipboardWireText&) const = default;
};

// Fits clipboard text into maxClipboardTextBytes, cutting between user-perceived characters so that
// no accent is torn from its letter and no emoji from its modifiers.
ClipboardWireText clipboardTextForWire(std::string_view utf8);

} // namespace wex

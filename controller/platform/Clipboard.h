#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dovrel::controller {

// The desktop's clipboard as the session's clipboard services see it. Main thread only.
//
// `changeCount` grows with every change of the contents made by another application, and with every
// write through this adapter; a writer reads it after its write and so does not take its own write for
// a local change. What the desktop reports later about a write of ours (it arrives after the write
// returned) does not count again.
class Clipboard {
public:
    virtual ~Clipboard() = default;

    virtual uint64_t changeCount() = 0;
    // The plain text on the clipboard; none when it holds files, something else, or nothing.
    virtual std::optional<std::string> text() = 0;
    // The local files copied (file managers' text/uri-list); empty when there are none.
    virtual std::vector<std::string> filePaths() = 0;

    // Replace the contents; false when the clipboard could not be taken.
    virtual bool setText(const std::string& text) = 0;
    virtual bool setFiles(const std::vector<std::string>& paths) = 0;
};

} // namespace dovrel::controller

#pragma once

#include "controller/platform/Clipboard.h"
#include "runtime/clipboard/ClipboardChangeWatch.h"

class QMimeData;

namespace dovrel::controller {

// The application's QClipboard on the xcb platform, which shares the X clipboard with every other
// X client. Files go as text/uri-list plus x-special/gnome-copied-files, as file managers paste them.
// Needs a QGuiApplication; without one the clipboard reads empty and takes nothing. Main thread.
class QtClipboard final : public Clipboard {
public:
    QtClipboard() = default;

    uint64_t changeCount() override;
    std::optional<std::string> text() override;
    std::vector<std::string> filePaths() override;
    bool setText(const std::string& text) override;
    bool setFiles(const std::vector<std::string>& paths) override;

private:
    bool put(QMimeData* data);

    ClipboardChangeWatch watch_;
    uint64_t count_ = 0;
};

} // namespace dovrel::controller

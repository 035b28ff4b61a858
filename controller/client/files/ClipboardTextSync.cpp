#include "controller/client/files/ClipboardTextSync.h"

#include <cstdio>

#include "protocol/ClipboardText.h"
#include "protocol/ControlMessages.h"

namespace dovrel::controller {

ClipboardTextSync::ClipboardTextSync(Clipboard& clipboard, SessionChannel& channel, Scheduler& clock)
    : clipboard_(clipboard), channel_(channel), clock_(clock) {}

ClipboardTextSync::~ClipboardTextSync() = default;

void ClipboardTextSync::start() {
    timer_.reset();
    lastCount_ = clipboard_.changeCount();
    timer_ = clock_.every(pollInterval, pollInterval, [this] { poll(); });
}

void ClipboardTextSync::stop() { timer_.reset(); }

void ClipboardTextSync::poll() {
    const uint64_t count = clipboard_.changeCount();
    if (count == lastCount_) return;
    lastCount_ = count;
    const auto text = clipboard_.text();
    if (!text || text->empty()) return;
    if (suppress_ && *suppress_ == *text) return;
    const wex::ClipboardWireText wire = wex::clipboardTextForWire(*text);
    if (wire.truncated) {
        const std::string line =
            "• clipboard truncated to " + std::to_string(wire.text.size()) + " bytes for the wire\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
    channel_.sendControl(wex::ControlType::clipboard, wex::Clipboard(0, wire.text).encode());
}

void ClipboardTextSync::applyRemote(const std::string& text) {
    if (text.empty()) return;
    if (pendingCapture_) {
        Capture handler = std::move(pendingCapture_);
        pendingCapture_ = nullptr;
        captureTimer_.reset();
        handler(text);
    }
    if (clipboard_.text() == text) return;
    suppress_ = text;
    clipboard_.setText(text);
    // The write is this program's own: the poll must not take it for a local copy.
    lastCount_ = clipboard_.changeCount();
}

void ClipboardTextSync::captureNextRemoteText(Duration timeout, Capture handler) {
    captureTimer_.reset();
    pendingCapture_ = std::move(handler);
    captureTimer_ = clock_.after(timeout, [this] {
        captureTimer_.reset();
        if (!pendingCapture_) return;
        Capture expired = std::move(pendingCapture_);
        pendingCapture_ = nullptr;
        expired(std::nullopt);
    });
}

} // namespace dovrel::controller

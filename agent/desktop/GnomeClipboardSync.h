#pragma once

#include <memory>

#include "agent/core/ClipboardSync.h"
#include "agent/gnome/MutterSession.h"
#include "runtime/SerialQueue.h"

namespace dovrel::agent {

// Keeps clipboard text in step with the controller through the clipboard calls of GNOME's
// remote-desktop session: the compositor says when someone copies (no polling), the text is read from
// the pipe it hands over, and text from the controller is offered as this session's selection and
// written to whoever pastes it. As on X11, the text a controller sent last is never sent back, not even
// when copied again here later or in a later session.
//
// The work runs on the thread "dovrel.clipboard" (pipes are read and written as they are ready, never
// waited on); every call returns at once. Where the compositor has no clipboard calls, nothing moves
// and the start-up lines and the window say so.
class GnomeClipboardSync final : public ClipboardSync {
public:
    // Reads of the compositor's pipes stop at this size: the wire takes far less.
    static constexpr std::size_t readLimit = 4 * 1024 * 1024;

    GnomeClipboardSync(SendText send, std::shared_ptr<MutterSession> session);
    ~GnomeClipboardSync() override;
    GnomeClipboardSync(const GnomeClipboardSync&) = delete;
    GnomeClipboardSync& operator=(const GnomeClipboardSync&) = delete;

    void start() override;
    void stop() override;
    void applyRemote(const std::string& text) override;

    // Waits until what was handed to the clipboard's thread so far has been taken in there.
    void waitIdle();

private:
    struct State;
    std::unique_ptr<SerialQueue> queue_;
    std::shared_ptr<State> state_; // lives on "dovrel.clipboard"
    std::shared_ptr<MutterSession> session_;
};

} // namespace dovrel::agent

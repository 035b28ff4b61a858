#pragma once

#include <memory>

#include "agent/core/ClipFiles.h"
#include "agent/core/ClipboardSync.h"
#include "agent/core/FileReceiver.h"
#include "protocol/Bytes.h"
#include "protocol/ControlType.h"

namespace dovrel::agent {

// The session's desktop services: clipboard text and clipboard files both ways, and the files the
// controller sends. Started for a full session, stopped when it ends; the dispatch hands them their
// messages. On "dovrel.net" (the transport's queue).
class SessionServices {
public:
    SessionServices(std::unique_ptr<ClipboardSync> clipboard, std::unique_ptr<FileReceiver> fileRx,
                    std::unique_ptr<AgentClipFiles> clipFiles)
        : clipboard_(std::move(clipboard)), fileRx_(std::move(fileRx)), clipFiles_(std::move(clipFiles)) {}
    SessionServices(const SessionServices&) = delete;
    SessionServices& operator=(const SessionServices&) = delete;

    // Every service is there.
    bool complete() const { return clipboard_ && fileRx_ && clipFiles_; }

    void start();
    // Unfinished transfers of a session that is over are cancelled: they would leave partial files.
    void stop();
    // Handles a clipboard, file or clipboard-file message; false for any other type. Throws WEXError for
    // a payload too short for its fields.
    bool handle(wex::ControlType type, const wex::Bytes& payload);

    // Main thread, before the transport goes: the clipboard files' reader and the receiver's queue stop.
    void release() {
        clipFiles_.reset();
        fileRx_.reset();
    }

private:
    std::unique_ptr<ClipboardSync> clipboard_;
    std::unique_ptr<FileReceiver> fileRx_;
    std::unique_ptr<AgentClipFiles> clipFiles_;
};

} // namespace dovrel::agent

#pragma once

#include <functional>
#include <string>

#include "protocol/ControlMessages.h"
#include "protocol/FileMessages.h"

namespace dovrel::agent {

// Files the controller sends land in the user's download folder. Work runs on its own queue
// ("dovrel.filerx") in call order; every call returns at once. An implementation is handed its
// Progress and Refusal at construction.
class FileReceiver {
public:
    // A text naming the transfer and the fraction done (1.0 when finished), delivered on the main thread.
    using Progress = std::function<void(const std::string& text, double fraction)>;

    virtual ~FileReceiver() = default;
    // What goes back to the controller when a file is refused or fails: it must not wait for a file
    // that will never arrive. Called on the receiver's queue.
    using Refusal = std::function<void(const wex::ErrorMsg& error)>;

    virtual void offer(const wex::FileOffer& offer) = 0;
    virtual void chunk(const wex::FileChunk& chunk) = 0;
    virtual void end(const wex::FileEnd& end) = 0;
    // The session ended: unfinished transfers are closed and their partial files deleted.
    virtual void cancelAll() = 0;
};

} // namespace dovrel::agent

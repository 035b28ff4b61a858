#pragma once

#include <cstddef>
#include <mutex>

#include "agent/core/ClipFiles.h"

namespace dovrel::agent {

// The way to the controller that the parts of clipboard files share: its send and its backlog, set
// and used from any thread. Without them messages are dropped and the backlog reads 0.
class ClipFilesLink {
public:
    void setSend(AgentClipFiles::Send send);
    void setBacklog(AgentClipFiles::Backlog backlog);
    void send(wex::ControlType type, wex::Bytes payload) const;
    std::size_t backlog() const;

private:
    mutable std::mutex mutex_;
    AgentClipFiles::Send send_;
    AgentClipFiles::Backlog backlog_;
};

} // namespace dovrel::agent

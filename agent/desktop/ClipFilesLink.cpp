#include "agent/desktop/ClipFilesLink.h"

namespace dovrel::agent {

void ClipFilesLink::setSend(AgentClipFiles::Send send) {
    const std::lock_guard lock(mutex_);
    send_ = std::move(send);
}

void ClipFilesLink::setBacklog(AgentClipFiles::Backlog backlog) {
    const std::lock_guard lock(mutex_);
    backlog_ = std::move(backlog);
}

void ClipFilesLink::send(wex::ControlType type, wex::Bytes payload) const {
    AgentClipFiles::Send send;
    {
        const std::lock_guard lock(mutex_);
        send = send_;
    }
    if (send) send(type, std::move(payload));
}

std::size_t ClipFilesLink::backlog() const {
    AgentClipFiles::Backlog backlog;
    {
        const std::lock_guard lock(mutex_);
        backlog = backlog_;
    }
    return backlog ? backlog() : 0;
}

} // namespace dovrel::agent

#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/ControlType.h"
#include "protocol/FileMessages.h"

namespace dovrel::agent {

// The way to the controller of the current session, as the clipboard files use it; any thread.
class ControllerLink {
public:
    virtual ~ControllerLink() = default;
    // Sends one control message of this type with this payload, behind everything sent before it;
    // dropped when there is no controller.
    virtual void send(wex::ControlType type, wex::Bytes payload) = 0;
    // How many bytes of control messages are queued for the controller and not yet written to the
    // link. A pulled file is read only while this stays small, so that a slow link never makes the
    // agent hold a whole file in memory.
    virtual std::size_t backlog() const = 0;
};

// Files copied on either side can be pasted on the other: offers, pulls and data of clipboard files.
// Implementations are handed their ControllerLink at construction.
class AgentClipFiles {
public:
    virtual ~AgentClipFiles() = default;
    virtual void start() = 0;
    // Stops watching and forgets offers and transfers in progress (partial files are removed).
    virtual void stop() = 0;
    virtual void onRemoteOffer(uint32_t generation, std::vector<wex::ClipFileEntry> files) = 0;
    virtual void onPull(uint32_t generation, uint8_t index) = 0;
    virtual void onData(uint32_t generation, uint8_t index, uint64_t offset, wex::Bytes data, bool last) = 0;
};

} // namespace dovrel::agent

#pragma once

#include <cstdint>
#include <vector>

#include "protocol/Bytes.h"
#include "protocol/FileMessages.h"

namespace dovrel::controller {

// Receives the clipboard-file messages of the session: the agent's offers of files on its clipboard,
// its requests for files this computer offered, and the pieces of files it sends. The client calls it
// on the main thread and holds it weakly.
class ClipFileHost {
public:
    virtual ~ClipFileHost() = default;
    virtual void onRemoteOffer(uint32_t generation, const std::vector<wex::ClipFileEntry>& files) = 0;
    virtual void onPull(uint32_t generation, uint8_t index) = 0;
    virtual void onData(uint32_t generation, uint8_t index, uint64_t offset, const wex::Bytes& data, bool last) = 0;
};

} // namespace dovrel::controller

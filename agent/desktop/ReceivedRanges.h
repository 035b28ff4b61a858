#pragma once

#include <cstdint>
#include <map>

namespace dovrel::agent {

// Which bytes of a file have arrived, as merged ranges: a chunk sent twice counts once, and holes left
// by lost chunks show.
class ReceivedRanges {
public:
    // Records [offset, offset + length); the caller has checked that the end does not overflow.
    void add(uint64_t offset, uint64_t length);
    // Bytes covered.
    uint64_t covered() const { return covered_; }
    // Whether [0, size) has arrived whole.
    bool complete(uint64_t size) const;
    // The end of the furthest range (0 when nothing arrived).
    uint64_t end() const { return ranges_.empty() ? 0 : ranges_.rbegin()->second; }
    // Whether everything that arrived is one run from the start.
    bool contiguousFromStart() const;

private:
    std::map<uint64_t, uint64_t> ranges_; // start -> end, disjoint and not touching
    uint64_t covered_ = 0;
};

} // namespace dovrel::agent

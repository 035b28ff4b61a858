#include "agent/desktop/ReceivedRanges.h"

#include <algorithm>
#include <iterator>

namespace dovrel::agent {

void ReceivedRanges::add(uint64_t offset, uint64_t length) {
    if (length == 0) return;
    uint64_t start = offset, end = offset + length;
    // The first range that might touch [start, end) is the last one starting at or before it.
    auto it = ranges_.upper_bound(start);
    if (it != ranges_.begin() && std::prev(it)->second >= start) --it;
    while (it != ranges_.end() && it->first <= end) {
        start = std::min(start, it->first);
        end = std::max(end, it->second);
        covered_ -= it->second - it->first;
        it = ranges_.erase(it);
    }
    ranges_.emplace(start, end);
    covered_ += end - start;
}

bool ReceivedRanges::complete(uint64_t size) const {
    if (size == 0) return true;
    return ranges_.size() == 1 && ranges_.begin()->first == 0 && ranges_.begin()->second >= size;
}

bool ReceivedRanges::contiguousFromStart() const {
    return ranges_.empty() || (ranges_.size() == 1 && ranges_.begin()->first == 0);
}

} // namespace dovrel::agent

#include "protocol/ReplayWindow.h"

namespace wex {

bool ReplayWindow::accept(uint32_t seq) {
    if (!started_) {
        started_ = true;
        maxSeq_ = seq;
        bitmap_ = 1;
        return true;
    }
    if (seq <= maxSeq_) {
        const uint32_t d = maxSeq_ - seq;
        if (d >= width) return false;
        const uint64_t bit = uint64_t{1} << d;
        if (bitmap_ & bit) return false;
        bitmap_ |= bit;
        return true;
    }
    const uint32_t d = seq - maxSeq_;
    bitmap_ = d < width ? (bitmap_ << d) | 1 : 1;
    maxSeq_ = seq;
    return true;
}

} // namespace wex

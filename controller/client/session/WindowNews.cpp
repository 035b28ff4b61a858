#include "controller/client/session/WindowNews.h"

namespace dovrel::controller {

WindowNews::Latest WindowNews::take() {
    const std::lock_guard g(lock_);
    hopPending_ = false;
    return std::exchange(latest_, Latest{});
}

bool WindowNews::admitPull() {
    if (pulls_.fetch_add(1) < maxPulls) return true;
    pulls_.fetch_sub(1);
    return false;
}

bool WindowNews::admitData(int64_t bytes) {
    if (dataBytes_.fetch_add(bytes) + bytes <= maxDataBytes) return true;
    dataBytes_.fetch_sub(bytes);
    return false;
}

} // namespace dovrel::controller

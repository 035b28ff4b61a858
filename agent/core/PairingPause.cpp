#include "agent/core/PairingPause.h"

#include <algorithm>

namespace dovrel::agent {

bool PairingPause::wrongCode(const std::string& address, Instant now) {
    if (paused_) return false;
    while (!wrong_.empty() && now - wrong_.front().at >= within)
        wrong_.pop_front();
    wrong_.push_back({now, address});
    paused_ = static_cast<int>(wrong_.size()) >= wrongCodesToPause;
    return paused_;
}

std::vector<std::string> PairingPause::addresses() const {
    std::vector<std::string> seen;
    for (const Wrong& w : wrong_)
        if (std::find(seen.begin(), seen.end(), w.address) == seen.end()) seen.push_back(w.address);
    return seen;
}

void PairingPause::resume() {
    paused_ = false;
    wrong_.clear();
}

} // namespace dovrel::agent

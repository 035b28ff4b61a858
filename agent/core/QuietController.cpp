#include "agent/core/QuietController.h"

namespace dovrel::agent {

void QuietController::start() {
    last_ = clock_.now();
    told_ = false;
    timer_ = clock_.every(checkEvery, checkEvery, [this] { check(); });
}

void QuietController::check() {
    const bool quiet = clock_.now() - last_ >= after;
    if (quiet && !told_) quiet_();
    told_ = quiet;
}

} // namespace dovrel::agent

#include "agent/core/ScrollAccumulator.h"

#include <cstdlib>

namespace dovrel::agent {

int ScrollAccumulator::Axis::add(int delta, Instant now) {
    if (delta == 0) return 0;
    const int sign = delta > 0 ? 1 : -1;
    const bool fresh = direction == 0 || now - last >= pause || sign != direction;
    direction = sign;
    last = now;
    if (fresh) carried = 0;
    if (fresh && std::abs(delta) >= smallestNotch && std::abs(delta) < unitsPerClick) return sign;
    carried += delta;
    const int clicks = carried / unitsPerClick; // toward zero: the remainder keeps its sign
    carried -= clicks * unitsPerClick;
    return clicks;
}

ScrollAccumulator::Clicks ScrollAccumulator::add(int16_t dx, int16_t dy, Instant now) {
    return {vertical_.add(dy, now), horizontal_.add(dx, now)};
}

void ScrollAccumulator::reset() {
    vertical_ = {};
    horizontal_ = {};
}

} // namespace dovrel::agent

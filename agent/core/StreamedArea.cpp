#include "agent/core/StreamedArea.h"

#include <algorithm>
#include <cmath>

namespace dovrel::agent {

namespace {

int32_t mapAxis(int32_t q1616, int32_t origin, uint32_t size, uint32_t picture) {
    if (size == 0) return origin;
    const double pixels = static_cast<double>(q1616) / 65536.0;
    const double scale = picture == 0 ? 1.0 : static_cast<double>(size) / static_cast<double>(picture);
    const double onMonitor = std::floor(pixels * scale);
    const double clamped = std::clamp(onMonitor, 0.0, static_cast<double>(size) - 1.0);
    return origin + static_cast<int32_t>(clamped);
}

} // namespace

ScreenPoint StreamedArea::toScreen(int32_t q1616x, int32_t q1616y) const {
    return {mapAxis(q1616x, x, width, pictureWidth), mapAxis(q1616y, y, height, pictureHeight)};
}

} // namespace dovrel::agent

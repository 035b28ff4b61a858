#include "protocol/Q1616.h"

#include <cmath>
#include <limits>

namespace wex::Q1616 {

int32_t encode(double x) {
    if (std::isnan(x)) return 0;
    const double scaled = std::round(x * scale); // std::round rounds halves away from zero
    if (scaled >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    if (scaled <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(scaled);
}

double decode(int32_t v) { return static_cast<double>(v) / scale; }

} // namespace wex::Q1616

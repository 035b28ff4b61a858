#pragma once

#include <cstdint>

namespace wex::Q1616 {

inline constexpr double scale = 65536.0;

// round(x * 65536), halves away from zero; NaN gives 0 and values beyond int32 clamp to its ends.
int32_t encode(double x);
double decode(int32_t v);

} // namespace wex::Q1616

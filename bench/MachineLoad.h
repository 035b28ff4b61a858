#pragma once

#include <cstdio>
#include <fstream>
#include <string>

namespace dovrel::bench {

// The machine's load average over 1, 5 and 15 minutes, as "1.23 4.56 7.89": printed beside figures
// measured on a machine that other work shares.
inline std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    double a = 0, b = 0, c = 0;
    in >> a >> b >> c;
    char text[64];
    std::snprintf(text, sizeof text, "%.2f %.2f %.2f", a, b, c);
    return text;
}

} // namespace dovrel::bench

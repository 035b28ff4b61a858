#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace dovrel::bench {

// Timings or other samples, for percentiles and the mean.
struct Series {
    std::vector<double> v;
    void add(double x) { v.push_back(x); }
    // The sample at `p` percent (0 when there are none); sorts the samples in place.
    double pct(double p) {
        if (v.empty()) return 0;
        std::sort(v.begin(), v.end());
        return v[std::min(v.size() - 1, static_cast<std::size_t>(p / 100 * static_cast<double>(v.size())))];
    }
    double mean() const {
        double s = 0;
        for (double x : v)
            s += x;
        return v.empty() ? 0 : s / static_cast<double>(v.size());
    }
};

} // namespace dovrel::bench

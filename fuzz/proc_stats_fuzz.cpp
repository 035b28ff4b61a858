// The statistics parsers on any text that might sit in /proc/stat and /proc/meminfo: no crash, busy
// ticks never above total ticks, memory in use never above the total, percentages 0 to 100.
#include <cstdlib>
#include <string>

#include "FuzzSeeds.h"
#include "agent/media/SystemStats.h"

using namespace dovrel::agent;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto t = parseProcStat(text); t && t->busy > t->total) std::abort();
    if (const auto m = parseMeminfo(text); m && m->used > m->total) std::abort();
    // The input's two halves as two samples in a row.
    SystemStats stats("/nonexistent", "/nonexistent");
    const std::size_t half = size / 2;
    for (const std::string_view part : {text.substr(0, half), text.substr(half)}) {
        const SystemStats::Sample s = stats.sampleFrom(part, part);
        if (s.cpu > 100 || s.ram > 100) std::abort();
    }
    return 0;
}

std::vector<wex::Bytes> fuzzSeeds() {
    const std::string stat = "cpu  4705 356 584 3699 23 0 12 0 0 0\ncpu0 1393 280 227 920 5 0 2 0 0 0\nintr 1 2\n"
                             "ctxt 1990473\nbtime 1062191376\n";
    const std::string meminfo = "MemTotal:       16316396 kB\nMemFree:          983112 kB\nMemAvailable:   "
                                "9561744 kB\nBuffers:          529352 kB\nCached:          8050120 kB\n";
    const std::string both = stat + meminfo + "cpu  4800 356 600 3800 23 0 12 0 0 0\n";
    const std::string old = "cpu 1 2 3 4\nMemTotal: 100 kB\nMemFree: 10 kB\n";
    std::vector<wex::Bytes> seeds;
    for (const std::string& s : {stat, meminfo, both, old, std::string("cpu  18446744073709551615 1 1 1\n")})
        seeds.emplace_back(s.begin(), s.end());
    return seeds;
}

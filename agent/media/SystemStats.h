#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dovrel::agent {

// Processor ticks summed over all processors, from the first ("cpu ") line of /proc/stat.
struct CpuTicks {
    uint64_t busy = 0;  // user + nice + system + irq + softirq + steal
    uint64_t total = 0; // busy + idle + iowait
    bool operator==(const CpuTicks&) const = default;
};

// Physical memory and what is in use: MemTotal minus MemAvailable, from /proc/meminfo, in bytes.
struct MemoryUse {
    uint64_t total = 0;
    uint64_t used = 0;
    bool operator==(const MemoryUse&) const = default;
};

// nullopt for text that does not hold the figures (missing line, a field that is not a number).
std::optional<CpuTicks> parseProcStat(std::string_view text);
std::optional<MemoryUse> parseMeminfo(std::string_view text);

// The machine's processor and memory load as two whole percentages, sampled once a second for the
// controller's statistics. The processor figure is the load since the previous successful sample.
class SystemStats {
public:
    struct Sample {
        uint8_t cpu = 0;
        uint8_t ram = 0;
        bool operator==(const Sample&) const = default;
    };

    explicit SystemStats(std::string statPath = "/proc/stat", std::string meminfoPath = "/proc/meminfo");

    // cpu is 0 on the first call, when no ticks passed, or when /proc/stat cannot be read (which also
    // leaves the previous figures alone); ram is 0 when /proc/meminfo cannot be read or shows no memory.
    Sample sample();
    // The same rules on texts already read; nullopt stands for a failed read.
    Sample sampleFrom(std::optional<std::string_view> stat, std::optional<std::string_view> meminfo);

private:
    std::string statPath_;
    std::string meminfoPath_;
    std::optional<CpuTicks> prev_;
};

} // namespace dovrel::agent

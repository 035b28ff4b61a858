#include "agent/media/SystemStats.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <fcntl.h>
#include <unistd.h>

namespace dovrel::agent {

namespace {

// The next whitespace-separated word of `text`, consumed.
std::string_view nextWord(std::string_view& text) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    std::size_t n = 0;
    while (n < text.size() && !isBlank(text[n]) && text[n] != '\n')
        ++n;
    const std::string_view word = text.substr(0, n);
    text.remove_prefix(n);
    return word;
}

std::optional<uint64_t> number(std::string_view word) {
    uint64_t v = 0;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), v);
    if (word.empty() || ec != std::errc{} || end != word.data() + word.size()) return std::nullopt;
    return v;
}

// The line that starts with `key` (at the start of a line), without the key; nullopt if none.
std::optional<std::string_view> lineAfter(std::string_view text, std::string_view key) {
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view line = text.substr(at, end - at);
        if (line.starts_with(key)) return line.substr(key.size());
        at = end + 1;
    }
    return std::nullopt;
}

std::optional<std::string> readSmallFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string out;
    std::array<char, 8192> buf{};
    for (;;) {
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        out.append(buf.data(), static_cast<std::size_t>(n));
        if (out.size() > (1u << 20)) break; // the lines we want come first
    }
    ::close(fd);
    return out;
}

uint64_t saturatingAdd(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

// part * 100 / whole, integer division, at most 100; whole > 0.
uint8_t percent(uint64_t part, uint64_t whole) {
    const uint64_t p = part <= UINT64_MAX / 100 ? part * 100 / whole : part / (whole / 100 ? whole / 100 : 1);
    return static_cast<uint8_t>(std::min<uint64_t>(p, 100));
}

} // namespace

std::optional<CpuTicks> parseProcStat(std::string_view text) {
    auto line = lineAfter(text, "cpu ");
    if (!line) return std::nullopt;
    // user nice system idle iowait irq softirq steal [guest guest_nice]; guest time is already in user.
    std::array<uint64_t, 8> f{};
    std::size_t got = 0;
    for (; got < f.size(); ++got) {
        const std::string_view word = nextWord(*line);
        if (word.empty()) break;
        const auto v = number(word);
        if (!v) return std::nullopt;
        f[got] = *v;
    }
    if (got < 4) return std::nullopt; // user, nice, system and idle are always there
    uint64_t busy = 0;
    for (const std::size_t i : {0u, 1u, 2u, 5u, 6u, 7u})
        busy = saturatingAdd(busy, f[i]);
    return CpuTicks{busy, saturatingAdd(busy, saturatingAdd(f[3], f[4]))};
}

std::optional<MemoryUse> parseMeminfo(std::string_view text) {
    const auto kib = [&](std::string_view key) -> std::optional<uint64_t> {
        auto line = lineAfter(text, key);
        if (!line) return std::nullopt;
        const auto v = number(nextWord(*line));
        if (!v || *v > UINT64_MAX / 1024) return std::nullopt;
        return *v * 1024;
    };
    const auto total = kib("MemTotal:");
    if (!total) return std::nullopt;
    auto available = kib("MemAvailable:");
    if (!available) {
        // Kernels before 3.14: free + buffers + page cache is the closest figure.
        const auto free = kib("MemFree:"), buffers = kib("Buffers:"), cached = kib("Cached:");
        if (!free) return std::nullopt;
        available = saturatingAdd(*free, saturatingAdd(buffers.value_or(0), cached.value_or(0)));
    }
    return MemoryUse{*total, *total - std::min(*available, *total)};
}

SystemStats::SystemStats(std::string statPath, std::string meminfoPath)
    : statPath_(std::move(statPath)), meminfoPath_(std::move(meminfoPath)) {}

SystemStats::Sample SystemStats::sample() {
    const auto stat = readSmallFile(statPath_);
    const auto mem = readSmallFile(meminfoPath_);
    return sampleFrom(stat ? std::optional<std::string_view>(*stat) : std::nullopt,
                      mem ? std::optional<std::string_view>(*mem) : std::nullopt);
}

SystemStats::Sample SystemStats::sampleFrom(std::optional<std::string_view> stat,
                                            std::optional<std::string_view> meminfo) {
    Sample s;
    if (const auto ticks = stat ? parseProcStat(*stat) : std::nullopt) {
        if (prev_ && ticks->total > prev_->total) {
            // busy can run backwards when a processor goes offline; count that as idle.
            const uint64_t busy = ticks->busy > prev_->busy ? ticks->busy - prev_->busy : 0;
            s.cpu = percent(busy, ticks->total - prev_->total);
        }
        prev_ = ticks;
    }
    if (const auto mem = meminfo ? parseMeminfo(*meminfo) : std::nullopt) {
        if (mem->total > 0) s.ram = percent(mem->used, mem->total);
    }
    return s;
}

} // namespace dovrel::agent

#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <span>
#include <vector>

namespace dovrel::test {

// A tone as it was heard: its frequency and its peak relative to full scale. Only the samples that
// sound count: a stretch of silence (a player, capture or mixer thread that fell behind on a busy
// machine) changes neither figure, so a check compares what was heard against what was played, not
// against how steadily the machine kept up.
struct HeardTone {
    double hz = 0;
    double peak = 0;
    std::size_t sounding = 0; // samples that were part of the tone
};

// `samples` in full-scale units (-1 to 1), one channel.
inline HeardTone measureTone(std::span<const double> samples, double rate) {
    // Silence: runs of at least this many samples below the threshold. A sine's samples near a zero
    // crossing are below it for a fraction of a sample only.
    constexpr double quiet = 0.005;
    constexpr std::size_t silentRun = 8;
    std::vector<bool> sounding(samples.size(), true);
    for (std::size_t i = 0; i < samples.size();) {
        std::size_t j = i;
        while (j < samples.size() && std::abs(samples[j]) < quiet)
            ++j;
        if (j - i >= silentRun)
            for (std::size_t k = i; k < j; ++k)
                sounding[k] = false;
        i = j == i ? i + 1 : j;
    }
    HeardTone t;
    int crossings = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (!sounding[i]) continue;
        ++t.sounding;
        t.peak = std::max(t.peak, std::abs(samples[i]));
        if (i > 0 && sounding[i - 1] && (samples[i - 1] < 0) != (samples[i] < 0)) ++crossings;
    }
    if (t.sounding > 0) t.hz = crossings / 2.0 / (static_cast<double>(t.sounding) / rate);
    return t;
}

// One channel of interleaved 16-bit samples.
inline HeardTone measureTone(std::span<const int16_t> interleaved, std::size_t channels, std::size_t channel,
                             double rate) {
    std::vector<double> mono;
    mono.reserve(interleaved.size() / channels);
    for (std::size_t i = channel; i < interleaved.size(); i += channels)
        mono.push_back(interleaved[i] / 32768.0);
    return measureTone(mono, rate);
}

// Interleaved samples of a sine of `hz` at `amplitude` (0..1) on every channel, from sample frame `from`
// of the tone on.
inline std::vector<int16_t> toneSamples(double hz, double amplitude, uint32_t rate, std::size_t channels,
                                        std::size_t frames, std::size_t from = 0) {
    std::vector<int16_t> out(frames * channels);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(from + i) / rate;
        const auto v = static_cast<int16_t>(std::lround(amplitude * 32767 * std::sin(2 * std::numbers::pi * hz * t)));
        for (std::size_t c = 0; c < channels; ++c)
            out[i * channels + c] = v;
    }
    return out;
}

} // namespace dovrel::test

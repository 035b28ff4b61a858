#include "runtime/audio/AudioResampler.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace dovrel {

namespace {

bool playable(PcmFormat f) { return f.sampleRate > 0 && f.channels > 0; }

// Sample `c` of `to`'s channels in the frame at `frame` of `src`, mixed as the conversion mixes.
double channelOf(std::span<const int16_t> src, PcmFormat from, std::size_t frame, std::size_t c, PcmFormat to) {
    const int16_t* f = src.data() + frame * from.channels;
    if (to.channels == from.channels) return f[c];
    if (to.channels == 1) {
        double sum = 0;
        for (std::size_t i = 0; i < from.channels; ++i)
            sum += f[i];
        return sum / from.channels;
    }
    return f[std::min<std::size_t>(c, from.channels - 1u)];
}

// `count` sample frames at `to`'s rate and channels from `start` seconds on, read off `src` (frames of
// `from`, the first at `srcStart` seconds) along straight lines between its samples; beyond its ends,
// its first or last. Only for the few samples a filter reads across a change of format.
std::vector<int16_t> alongLines(std::span<const int16_t> src, PcmFormat from, double srcStart, PcmFormat to,
                                double start, std::size_t count) {
    std::vector<int16_t> out(count * to.channels);
    const std::size_t n = src.size() / from.channels;
    if (n == 0) return out;
    for (std::size_t k = 0; k < count; ++k) {
        const double at = (start + static_cast<double>(k) / to.sampleRate - srcStart) * from.sampleRate;
        const double pos = std::clamp(at, 0.0, static_cast<double>(n - 1));
        const auto i = static_cast<std::size_t>(pos);
        const std::size_t j = std::min(i + 1, n - 1);
        const double w = pos - static_cast<double>(i);
        for (std::size_t c = 0; c < to.channels; ++c)
            out[k * to.channels + c] = static_cast<int16_t>(
                std::lround((1 - w) * channelOf(src, from, i, c, to) + w * channelOf(src, from, j, c, to)));
    }
    return out;
}

} // namespace

void AudioResampler::SwrFree::operator()(SwrContext* s) const { swr_free(&s); }

AudioResampler::AudioResampler() = default;
AudioResampler::~AudioResampler() = default;

bool AudioResampler::open(PcmFormat from, PcmFormat to) {
    AVChannelLayout in{}, out{};
    av_channel_layout_default(&in, from.channels);
    av_channel_layout_default(&out, to.channels);
    SwrContext* s = nullptr;
    const int made = swr_alloc_set_opts2(&s, &out, AV_SAMPLE_FMT_S16, static_cast<int>(to.sampleRate), &in,
                                         AV_SAMPLE_FMT_S16, static_cast<int>(from.sampleRate), 0, nullptr);
    av_channel_layout_uninit(&in);
    av_channel_layout_uninit(&out);
    std::unique_ptr<SwrContext, SwrFree> swr(s);
    if (made < 0 || !swr) return false;
    // The library's own mixes weigh by loudness (a mono channel reaches each side 3 dB down); these keep
    // a tone's level. Other channel counts mix as the library does, scaled so that nothing clips.
    static constexpr double toMono[] = {0.5, 0.5};
    static constexpr double toStereo[] = {1.0, 1.0};
    if (from.channels == 2 && to.channels == 1) {
        if (swr_set_matrix(swr.get(), toMono, 2) < 0) return false;
    } else if (from.channels == 1 && to.channels == 2) {
        if (swr_set_matrix(swr.get(), toStereo, 1) < 0) return false;
    } else {
        av_opt_set_double(swr.get(), "rematrix_maxval", 1.0, 0);
    }
    if (swr_init(swr.get()) < 0) return false;
    swr_ = std::move(swr);
    return true;
}

double AudioResampler::delaySeconds() const {
    if (!swr_) return 0;
    // In units that make the delay exact for both rates.
    const int64_t base = static_cast<int64_t>(from_.sampleRate) * to_.sampleRate;
    return static_cast<double>(swr_get_delay(swr_.get(), base)) / static_cast<double>(base);
}

void AudioResampler::run(std::span<const int16_t> in, std::vector<int16_t>& out) {
    if (in.empty()) return;
    if (!swr_) {
        out.insert(out.end(), in.begin(), in.end());
        return;
    }
    const auto frames = static_cast<int>(in.size() / from_.channels);
    const int room = swr_get_out_samples(swr_.get(), frames);
    if (room <= 0) return;
    made_.resize(static_cast<std::size_t>(room) * to_.channels);
    auto* dst = reinterpret_cast<uint8_t*>(made_.data());
    const auto* src = reinterpret_cast<const uint8_t*>(in.data());
    const int made = swr_convert(swr_.get(), &dst, room, &src, frames);
    const auto count = static_cast<int64_t>(std::max(made, 0));
    const int64_t dropped = std::min(count, dropFrames_);
    dropFrames_ -= dropped;
    out.insert(out.end(), made_.begin() + dropped * to_.channels, made_.begin() + count * to_.channels);
}

void AudioResampler::remember(std::span<const int16_t> in) {
    const std::size_t keep = historyFrames * from_.channels;
    if (in.size() >= keep) {
        history_.assign(in.end() - static_cast<std::ptrdiff_t>(keep), in.end());
        return;
    }
    history_.insert(history_.end(), in.begin(), in.end());
    if (history_.size() > keep) history_.erase(history_.begin(), history_.end() - static_cast<std::ptrdiff_t>(keep));
}

void AudioResampler::newOutput(PcmFormat to) {
    // The old conversion's output ends this far back in the input; the new one's begins there.
    const double delay = delaySeconds();
    swr_.reset();
    to_ = to;
    dropFrames_ = 0;
    const std::size_t kept = history_.size() / from_.channels;
    if (from_ == to) {
        const auto tail = std::min<std::size_t>(kept, static_cast<std::size_t>(std::llround(delay * from_.sampleRate)));
        out_.assign(history_.end() - static_cast<std::ptrdiff_t>(tail * from_.channels), history_.end());
        return;
    }
    usable_ = open(from_, to);
    if (!usable_) return;
    // Run over the end of the kept input, of which only what the old conversion had not let out is
    // new: the run starts where a whole number of the new frames ends at the old output's end, to the
    // nearest input sample.
    const double keptSeconds = static_cast<double>(kept) / from_.sampleRate;
    const auto drop = std::max<int64_t>(0, static_cast<int64_t>(std::floor((keptSeconds - delay) * to.sampleRate)));
    const auto use = std::min<std::size_t>(
        kept,
        static_cast<std::size_t>(std::llround((static_cast<double>(drop) / to.sampleRate + delay) * from_.sampleRate)));
    dropFrames_ = drop;
    run(std::span<const int16_t>(history_).last(use * from_.channels), out_);
}

void AudioResampler::newInput(std::span<const int16_t> in, PcmFormat from, PcmFormat to) {
    // The old conversion has let out its input up to `delay` before the change: run on over the new
    // input brought to the old rate, it lets out the rest, and whatever it makes beyond is left out.
    if (const double delay = delaySeconds(); delay > 0) {
        const auto owed = static_cast<std::size_t>(std::llround(delay * to_.sampleRate)) * to_.channels;
        const auto reach = bridgeFrames + static_cast<std::size_t>(std::ceil(delay * from_.sampleRate));
        run(alongLines(in, from, 0, from_, 0, reach), held_);
        held_.resize(std::min(held_.size(), owed));
    }
    const std::vector<int16_t> before = std::move(history_);
    const PcmFormat oldFrom = from_;
    swr_.reset();
    history_.clear();
    dropFrames_ = 0;
    from_ = from;
    to_ = to;
    usable_ = from == to || open(from, to);
    if (!usable_ || from == to || before.empty()) return;
    // The new one first runs over the end of the old input brought to the new rate, and what it makes
    // of that is left out.
    const double beforeStart = -static_cast<double>(before.size() / oldFrom.channels) / oldFrom.sampleRate;
    const double start = -static_cast<double>(bridgeFrames) / from.sampleRate;
    dropFrames_ = std::llround(-start * to.sampleRate);
    run(alongLines(before, oldFrom, beforeStart, from, start, bridgeFrames), out_);
}

AudioResampler::Converted AudioResampler::convert(std::span<const int16_t> in, PcmFormat from, PcmFormat to) {
    held_.clear();
    out_.clear();
    Converted result;
    result.heldFormat = to_;
    if (!playable(from) || !playable(to)) {
        reset();
        from_ = from;
        to_ = to;
        return result;
    }
    in = in.first(in.size() / from.channels * from.channels);
    if (from != from_ || to != to_) {
        if (usable_ && from == from_) {
            newOutput(to);
        } else if (usable_) {
            newInput(in, from, to);
            result.held = held_;
        } else {
            reset();
            from_ = from;
            to_ = to;
            usable_ = from == to || open(from, to);
        }
    }
    if (!usable_) return result; // tried again only when a format changes
    run(in, out_);
    remember(in);
    result.samples = out_;
    return result;
}

void AudioResampler::reset() {
    swr_.reset();
    from_ = to_ = {};
    usable_ = false;
    dropFrames_ = 0;
    history_.clear();
}

} // namespace dovrel

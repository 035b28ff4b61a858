#include "agent/media/LinkAudio.h"

#include <algorithm>

namespace dovrel::agent {

void LinkAudio::setFormatFor(int64_t linkBitRate, int64_t fullBitRate) {
    format_.store(AudioLinkFormat::forRate(linkBitRate, fullBitRate), std::memory_order_relaxed);
}

void LinkAudio::add(std::span<const int16_t> samples, PcmFormat captured, const FrameOut& out) {
    const PcmFormat to = format();
    const AudioResampler::Converted converted = resampler_.convert(samples, captured, to);
    if (!converted.held.empty()) {
        if (converted.heldFormat != waitingFormat_) send(false, out);
        waitingFormat_ = converted.heldFormat;
        waiting_.insert(waiting_.end(), converted.held.begin(), converted.held.end());
    }
    if (to != waitingFormat_) {
        send(false, out);
        waitingFormat_ = to;
    }
    waiting_.insert(waiting_.end(), converted.samples.begin(), converted.samples.end());
    send(captured != to, out);
}

void LinkAudio::send(bool wholeOnly, const FrameOut& out) {
    if (waitingFormat_.channels == 0) return;
    const std::size_t chunk = framesPerChunk * waitingFormat_.channels;
    const std::size_t end = wholeOnly ? waiting_.size() / chunk * chunk : waiting_.size();
    const std::span<const int16_t> all(waiting_);
    for (std::size_t at = 0; at < end; at += chunk)
        out(all.subspan(at, std::min(chunk, end - at)), waitingFormat_);
    waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(end));
}

void LinkAudio::reset() {
    resampler_.reset();
    waiting_.clear();
}

} // namespace dovrel::agent

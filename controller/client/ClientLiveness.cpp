// The once-a-second tick of a session: ping, frame rate, received bytes, the audio report, re-dialling a
// link that went quiet, and asking for a keyframe when the picture stopped changing.
#include <cstdio>
#include <string>

#include "controller/client/ClientCore.h"
#include "controller/client/ClientTexts.h"
#include "controller/client/WEXClient.h"
#include "protocol/ControlMessages.h"

namespace dovrel::controller {

using namespace std::chrono_literals;

namespace {
constexpr auto tick = 1s;
constexpr auto quietLink = 6s;
// Just over the tick, so that two frameless ticks in a row may ask again.
constexpr auto staleKeyframeSpacing = 900ms + 1ns;
} // namespace

void ClientCore::startPing() {
    pingTimer_ = clock_.every(tick, tick, [this] { livenessTick(); });
}

void ClientCore::livenessTick() {
    const Instant now = clock_.now();
    pingSentAt_ = now;
    pingSentReal_ = std::chrono::steady_clock::now();
    // The round trip is measured from pingSentAt_, so the ping carries no time of its own.
    sendControlSecure(wex::Ping{0, 0}.encode(), wex::ControlType::ping);

    const uint64_t displayed = decoder_->displayed();
    const int64_t delta = static_cast<int64_t>(displayed) - static_cast<int64_t>(lastFrames_);
    lastFrames_ = displayed;
    const int fps = static_cast<int>(std::max<int64_t>(delta, 0));

    const int64_t bytes = rxBytes_ - rxFlushed_;
    rxFlushed_ = rxBytes_;
    post([fps, bytes](WEXClient& c) {
        c.publishFps(fps);
        if (bytes > 0) c.publishReceivedBytes(bytes);
    });

    if (audioFramesIn_ > 0 || audioDecodeFails_ > 0) {
        std::string line =
            "[audio] in=" + std::to_string(audioFramesIn_) + " frames " + std::to_string(audioSamplesIn_) + " samples";
        if (audioDecodeFails_ >= 1) line += " DECODE-FAILED=" + std::to_string(audioDecodeFails_);
        if (audioMuted_) line += " (muted locally)";
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
        audioFramesIn_ = audioSamplesIn_ = audioDecodeFails_ = 0;
    }

    if (!session_) return;

    if (lastPongAt_ != Instant{} && now - lastPongAt_ > quietLink) {
        lastPongAt_ = now;
        post([](WEXClient& c) { c.publishReconnecting(true); });
        setStatus(texts::statusLinkQuiet);
        if (isRelay_ && !relayRoom_.empty())
            startRelay(relayRoom_);
        else
            startControl();
        return;
    }

    if (delta < 1) {
        ++staleVideoTicks_;
        if (staleVideoTicks_ >= 2 && now - lastKeyframeReqAt_ >= staleKeyframeSpacing) {
            lastKeyframeReqAt_ = now;
            sendKeyframeRequest();
        }
    } else {
        staleVideoTicks_ = 0;
    }
}

} // namespace dovrel::controller

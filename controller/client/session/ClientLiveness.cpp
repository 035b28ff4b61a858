// The once-a-second tick of a session and the answers to its pings: ping, latency, the agent's clock, frame rate,
// received bytes, the audio report, re-dialling a link that went quiet, and asking for a keyframe when the picture
// stopped changing.
#include <algorithm>
#include <cstdio>
#include <string>

#include "controller/client/session/ClientCore.h"
#include "controller/client/session/ClientTexts.h"
#include "controller/client/session/WEXClient.h"
#include "protocol/ControlMessages.h"
#include "protocol/WEXError.h"

namespace dovrel::controller {

using namespace std::chrono_literals;

namespace {
constexpr auto tick = 1s;
// Just over the tick, so that two frameless ticks in a row may ask again.
constexpr auto staleKeyframeSpacing = 900ms + 1ns;
} // namespace

void ClientCore::startPing() {
    pingTimer_ = clock_.every(tick, tick, [this] { livenessTick(); });
}

void ClientCore::livenessTick() {
    const Instant now = clock_.now();
    const SessionLiveness::Tick t = liveness_.tick(now, std::chrono::steady_clock::now(), decoder_->displayed(),
                                                   links_.receivedBytes(), session_ != nullptr);
    sendControlSecure(wex::Ping{0, 0}.encode(), wex::ControlType::ping);
    post([fps = t.fps, bytes = t.receivedBytes](WEXClient& c) {
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

    // Before the first picture, keyframes that never come whole; afterwards, pictures that keep reaching
    // the screen damaged or not at all (keyframes are rare by design then: refresh waves repair). Pictures
    // refused for their size are said otherwise: the watch takes them as none shown.
    const bool slow = session_ && slowLink_.tick(now, !firstPictureWanted_ && !pictureRefused_,
                                                 decoder_->picturesTaken(), decoder_->picturesWhole());
    if (slow != linkTooSlowShown_) {
        linkTooSlowShown_ = slow;
        post([slow](WEXClient& c) { c.publishLinkTooSlow(slow); });
    }

    if (t.linkQuiet) {
        post([](WEXClient& c) { c.publishReconnecting(true); });
        setStatus(texts::statusLinkQuiet);
        links_.restart();
        return;
    }
    if (t.pictureStale && now - lastKeyframeReqAt_ >= staleKeyframeSpacing) {
        lastKeyframeReqAt_ = now;
        sendKeyframeRequest();
    }
}

void ClientCore::pongArrived(wex::ByteView payload) {
    const std::optional<SessionLiveness::Pong> answer = liveness_.answered(clock_.now());
    if (!answer) return;
    // The agent's clock in the answer maps its video time stamps onto ours.
    try {
        const auto pong = wex::Pong::decode(payload);
        const auto us = [](Instant t) {
            return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
        };
        agentClock_.addSample(us(answer->pingSentReal), us(std::chrono::steady_clock::now()), pong.agentTsUs);
    } catch (const wex::WEXError&) {
    }
    const int shown = static_cast<int>(std::clamp<int64_t>(answer->latencyMs, 0, 9999));
    // Newest only: answers in a burst (the agent may send any number) cost the window one update.
    if (news_->keepLatency(shown)) deliverLatestNews();
}

} // namespace dovrel::controller

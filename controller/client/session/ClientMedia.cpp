// Video and audio of the session: sealed pieces opened, frames put back together and decoded, keyframes
// asked for when frames went missing, sound handed to the player.
#include <algorithm>

#include "controller/client/session/ClientCore.h"
#include "controller/client/session/ClientTexts.h"
#include "controller/client/session/WEXClient.h"
#include "controller/client/video/PictureDecoder.h"
#include "protocol/AudioFrame.h"
#include "protocol/ByteReader.h"
#include "protocol/ControlMessages.h"
#include "protocol/PartialVideoPayload.h"
#include "protocol/VideoPayload.h"
#include "protocol/WEXError.h"

namespace dovrel::controller {

using namespace std::chrono_literals;

namespace {
// Missing frames ask for a keyframe at most this often.
constexpr auto gapKeyframeSpacing = 250ms + 1ns;
} // namespace

void ClientCore::onVideoDatagram(wex::ByteView frame) {
    if (!session_) return;
    const Instant receivedAt = std::chrono::steady_clock::now();
    const auto opened = session_->openFrame(frame);
    if (!opened) return;
    switch (opened->header.stream) {
    case wex::Stream::video: onVideoPiece(*opened, receivedAt); return;
    case wex::Stream::audio: onAudioFrame(opened->plaintext); return;
    default: return;
    }
}

void ClientCore::onVideoPiece(const wex::OpenedFrame& opened, Instant receivedAt) {
    wex::ByteView slice(opened.plaintext);
    std::optional<wex::FragmentHeader> fragment;
    if (opened.header.flags.contains(wex::HeaderFlag::fragment)) {
        // A piece too short for its own fragment header cannot be placed anywhere.
        if (slice.size() < wex::FragmentHeader::size) return;
        wex::ByteReader r(slice);
        fragment = wex::FragmentHeader::decode(r);
        slice = slice.subspan(wex::FragmentHeader::size);
    }
    slowLink_.piece();
    // Decodes one payload and publishes its size; `damaged` when pieces of it never came.
    const auto show = [&](const wex::VideoNALPayload& payload, bool damaged) {
        lastVideoHeader_ = payload.header;
        requestKeyframeIfGap(payload.header.frameId);
        decoder_->handle(payload.header, payload.nals, receivedAt, damaged);
        const int w = payload.header.width, h = payload.header.height;
        if (w > 1 && h > 1 && std::pair(w, h) != publishedSize_) {
            publishedSize_ = {w, h};
            post([w, h](WEXClient& c) { c.publishRemoteSize(QSizeF(w, h)); });
        }
    };
    // A frame that lost pieces: what survived still goes to the decoder, which conceals the rest, and a
    // keyframe makes the picture whole again.
    const auto showBroken = [&](const Reassembler::Broken& broken) {
        requestKeyframeSoon();
        // A lost first piece took the header along: the last payload's stands in for it.
        std::optional<wex::VideoNALHeader> lostHeader;
        if (lastVideoHeader_) {
            lostHeader = lastVideoHeader_;
            lostHeader->frameId = broken.frameId;
            lostHeader->nalFlags = lastVideoHeader_->nalFlags.contains(wex::NALFlag::codecH264)
                                       ? wex::NALFlags{wex::NALFlag::codecH264}
                                       : wex::NALFlags{};
        }
        auto salvaged = wex::salvageVideoNALPayload(broken.pieces, lostHeader);
        if (!salvaged || salvaged->header.frameId != broken.frameId || salvaged->nals.empty()) return;
        show(*salvaged, true);
    };

    // The agent sends a picture's pieces together and in order: once a piece of a later frame is here,
    // the missing pieces of earlier ones are lost, and what came of them is shown now rather than after
    // the next frame that happens to arrive whole.
    if (fragment)
        for (const auto& broken : reasm_.closeBefore(fragment->frameId))
            showBroken(broken);
    auto result = reasm_.add(fragment, slice);
    if (result.pushedOut) showBroken(*result.pushedOut);
    if (result.outcome == Reassembler::Outcome::oversized) {
        requestKeyframeSoon();
        return;
    }
    if (result.outcome != Reassembler::Outcome::complete) return;

    wex::VideoNALPayload payload;
    try {
        payload = wex::decodeVideoNALPayload(result.payload);
    } catch (const wex::WEXError&) {
        return;
    }
    for (const auto& broken : reasm_.closeBefore(payload.header.frameId))
        showBroken(broken);
    if (payload.header.nalFlags.contains(wex::NALFlag::keyframe)) slowLink_.wholeKeyframe(clock_.now());
    show(payload, false);
}

void ClientCore::onAudioFrame(wex::ByteView plaintext) {
    ++audioFramesIn_;
    if (audioMuted_) return;
    wex::AudioFrame frame;
    try {
        frame = wex::AudioFrame::decode(plaintext);
    } catch (const wex::WEXError&) {
        ++audioDecodeFails_;
        return;
    }
    audioSamplesIn_ += static_cast<int64_t>(frame.pcm.size());
    audio_.play(frame.pcm, frame.sampleRate, frame.channels);
}

void ClientCore::requestKeyframeIfGap(uint32_t frameId) {
    // Compared in 64 bits: the identifier after 0xFFFFFFFF is no gap.
    if (lastVideoFrameId_ != 0 && uint64_t{lastVideoFrameId_} + 1 < frameId) {
        // The frames in between were lost whole (a jump far ahead is the agent counting anew).
        slowLink_.picturesLost(std::min<uint32_t>(frameId - lastVideoFrameId_ - 1, 120));
        requestKeyframeSoon();
    }
    lastVideoFrameId_ = frameId;
}

void ClientCore::requestKeyframeSoon() {
    const Instant now = clock_.now();
    if (now - lastKeyframeReqAt_ < gapKeyframeSpacing) return;
    lastKeyframeReqAt_ = now;
    sendKeyframeRequest();
}

void ClientCore::sendKeyframeRequest() {
    slowLink_.keyframeAsked(clock_.now());
    wex::KeyframeRequest request;
    request.reqId = 1;
    request.displayId = 0;
    sendControlSecure(request.encode(), wex::ControlType::keyframeRequest);
}

void ClientCore::onPictureDisplayed() {
    // Decoder thread. The first picture after a (re)connect lifts the loading screen.
    if (firstPictureWanted_.exchange(false)) post([](WEXClient& c) { c.publishHasFirstFrame(true); });
    if (pictureRefused_.exchange(false)) post([](WEXClient& c) { c.publishPictureRefusal({}); });
}

void ClientCore::onPicturesRefused(int width, int height) {
    // Decoder thread.
    pictureRefused_ = true;
    const std::string text = texts::pictureTooLarge(width, height, PictureDecoder::maxSide);
    QMetaObject::invokeMethod(
        context_.get(),
        [this, width, height] {
            pieceLines_.print("video: " + std::to_string(width) + "x" + std::to_string(height) + " pictures refused");
        },
        Qt::QueuedConnection);
    post([text = QString::fromStdString(text)](WEXClient& c) { c.publishPictureRefusal(text); });
}

void ClientCore::setAudioMuted(bool muted) {
    audioMuted_ = muted;
    if (muted) audio_.stop();
}

} // namespace dovrel::controller

#include "agent/core/SessionMedia.h"

#include "agent/common/AgentLog.h"
#include "protocol/Cap.h"

namespace dovrel::agent {

SessionMedia::SessionMedia(std::unique_ptr<SessionPipeline> pipeline, Scheduler& clock)
    : clock_(clock), pipeline_(std::move(pipeline)) {}

void SessionMedia::attach(PipelineHost host) {
    if (pipeline_) pipeline_->attach(std::move(host));
}

void SessionMedia::start() {
    if (pipeline_) pipeline_->start();
}

void SessionMedia::useCodec(bool h264) {
    if (h264 == useH264_) return;
    useH264_ = h264;
    pipeline_->rebuildEncoder(h264, h264 ? "this client cannot decode HEVC" : "back to HEVC for this client");
}

void SessionMedia::sessionStarted(uint32_t caps, bool relay) {
    // The codec and the budget before the streaming flag: once the pipeline sees the client streamed
    // to, it sees what the client asked for, and sends nothing else while the encoder is being built.
    if (pipeline_) {
        useCodec(pipeline_->defaultH264() || (caps & wex::Cap::h264Only) != 0);
        pipeline_->applyLinkBudget(relay);
    }
    const bool video = (caps & wex::Cap::video) != 0;
    streaming_ = video;
    if (!video) print("• client is input-only (no VIDEO capability) — not capturing");
    if (video && pipeline_ && pipeline_->resting())
        leaveRestForStreaming();
    else if (pipeline_)
        pipeline_->requestKeyframe();
}

void SessionMedia::startReports() {
    if (pipeline_) pipeline_->startSessionReports();
}

void SessionMedia::sessionEnded() {
    restLeaveTimer_.reset();
    streaming_ = false;
    if (!pipeline_) return;
    pipeline_->stopSessionReports();
    useCodec(pipeline_->defaultH264());
}

void SessionMedia::stopStreaming() {
    if (streaming_) print("• client asked to stop the stream");
    streaming_ = false;
}

void SessionMedia::resumeStreaming() {
    if (!streaming_) print("• client asked for the stream back");
    streaming_ = true;
    if (pipeline_ && pipeline_->resting())
        leaveRestForStreaming();
    else if (pipeline_)
        pipeline_->requestKeyframe();
}

void SessionMedia::repairPicture() {
    if (pipeline_) pipeline_->repairPicture();
}

void SessionMedia::switchDisplay(uint8_t displayId) {
    if (pipeline_) pipeline_->switchDisplay(displayId);
}

void SessionMedia::setRest(bool on) {
    if (pipeline_) pipeline_->setRest(on);
}

void SessionMedia::leaveRestForStreaming() {
    print("• session starting — leaving rest so the display can be captured");
    pipeline_->setRest(false);
    // A display just woken needs a moment before it can be captured: the keyframe is asked for then,
    // while "dovrel.net" goes on with what the client sends.
    restLeaveTimer_ = clock_.after(leaveRestPause, [this] {
        if (pipeline_ && streaming_) pipeline_->requestKeyframe();
    });
}

} // namespace dovrel::agent

#include "agent/media/CapturePipeline.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "agent/common/AgentLog.h"
#include "agent/common/Diag.h"
#include "agent/common/MonoClock.h"
#include "agent/media/CaptureWatchdog.h"
#include "agent/media/SessionReports.h"
#include "agent/media/X11ScreenCapturer.h"
#include "runtime/SignalStack.h"

namespace dovrel::agent {

using namespace std::chrono_literals;

namespace {

constexpr unsigned firstSetupDelay = 2; // seconds; doubled after each failure
constexpr unsigned longestSetupDelay = 30;
constexpr auto restartTimeLimit = 20s;
constexpr auto watchdogEvery = 5s;
constexpr auto statsEvery = 1s;
constexpr auto noAudioNoteGap = 300s;
constexpr int syntheticWidth = 1280;
constexpr int syntheticHeight = 720;

std::string size(int w, int h) { return std::to_string(w) + "×" + std::to_string(h); }

} // namespace

// A capture restart on a thread of its own.
struct CapturePipeline::Restart {
    std::thread thread;
    std::atomic<bool> done{false};
};

CapturePipeline::CapturePipeline() : CapturePipeline(Options{}) {}

CapturePipeline::CapturePipeline(Options options)
    : options_(std::move(options)), clock_(options_.clock ? options_.clock : &realScheduler()) {
    if (!options_.makeCapturer)
        options_.makeCapturer = [](ScreenCapturer::FrameCallback onFrame) -> std::shared_ptr<ScreenCapturer> {
            return std::make_shared<X11ScreenCapturer>(std::move(onFrame));
        };
    if (!options_.makeEncoder) options_.makeEncoder = makeVideoEncoder;
    if (!options_.codec) options_.codec = chooseDefaultCodec;
    if (!options_.rotateLog) options_.rotateLog = [] { AgentLog::rotateIfNeeded(); };
    attach({});
    codecChoice_ = options_.codec();
    asked_.store({codecChoice_.h264, false});
    resetLinkRate(false);
    setup_ = std::make_unique<SerialQueue>("dovrel.capture.setup");
    ctl_ = std::make_unique<SerialQueue>("dovrel.pipeline");
}

CapturePipeline::~CapturePipeline() {
    stopping_ = true;
    if (options_.power) options_.power->setOnWake(nullptr);
    // Every thread that posts to the queues (the network's link changes, a restart, a stream the system
    // stopped, the timers) finds them closed from here on, and each step posted before sees the pipeline
    // stopping. The queues themselves stay until the pipeline's last member goes, so a poster never meets
    // one that is going.
    ctl_->close();
    ctl_->sync([this] {
        watchdog_.reset();
        statsTimer_.reset();
        linkTimer_.reset();
        gateTimer_.reset();
        setupTimer_.reset();
        restartTimeout_.reset();
    });
    // A set-up step under way ends first.
    setup_->close();
    std::vector<std::shared_ptr<Restart>> restarts;
    {
        const std::lock_guard guard(restartThreadsLock_);
        restarts.swap(restartThreads_);
    }
    for (const auto& r : restarts)
        r->thread.join();
    // Sources first, so that no picture reaches an encoder that is going; then the encoder, whose
    // output thread ends with it.
    std::shared_ptr<ScreenCapturer> capturer;
    std::unique_ptr<SyntheticSource> synth;
    {
        const std::lock_guard guard(lock_);
        capturer = std::move(capturer_);
        synth = std::move(synth_);
    }
    capturer.reset();
    synth.reset();
    encoder_.store(nullptr);
}

void CapturePipeline::attach(PipelineHost host) {
    if (!host.sendTarget) host.sendTarget = [] { return std::shared_ptr<const SendTarget>(); };
    if (!host.streaming) host.streaming = [] { return false; };
    if (!host.sendControl) host.sendControl = [](wex::Bytes, wex::ControlType) {};
    if (!host.dropClient) host.dropClient = [] {};
    host_ = std::move(host);
}

// ---- small reads

VideoBudget CapturePipeline::budgetFor(bool relay) const {
    return options_.budget ? options_.budget(relay) : VideoBudget::forLink(relay).withEnvironmentOverrides();
}

SendRate CapturePipeline::sendRate() const {
    const VideoBudget base = budgetFor(asked_.load().relay);
    const std::lock_guard guard(linkLock_);
    return sendRateLocked(base);
}

bool CapturePipeline::streaming() const { return host_.streaming(); }

bool CapturePipeline::defaultH264() const {
    const std::lock_guard guard(lock_);
    return codecChoice_.h264;
}

bool CapturePipeline::resting() const {
    const std::lock_guard guard(lock_);
    return resting_;
}

bool CapturePipeline::restarting() const {
    const std::lock_guard guard(lock_);
    return restarting_;
}

bool CapturePipeline::useH264() const { return asked_.load().h264; }

int CapturePipeline::frameWidth() const {
    const std::lock_guard guard(lock_);
    return frameW_;
}

int CapturePipeline::frameHeight() const {
    const std::lock_guard guard(lock_);
    return frameH_;
}

std::shared_ptr<VideoEncoder> CapturePipeline::currentEncoder() const {
    const auto active = encoder_.load();
    return active ? active->encoder : nullptr;
}

std::shared_ptr<ScreenCapturer> CapturePipeline::capturer() const {
    const std::lock_guard guard(lock_);
    return capturer_;
}

bool CapturePipeline::hasSyntheticSource() const {
    const std::lock_guard guard(lock_);
    return synth_ != nullptr;
}

void CapturePipeline::waitForSetup() {
    setup_->sync([] {});
}

// ---- pictures

void CapturePipeline::onFrame(const CapturedFrame& frame) {
    Diag::add(Diag::Counter::captured);
    Diag::stamp(Diag::Stamp::lastCaptureAt, now());
    if (!streaming()) return; // counted, not encoded: nobody watches
    // While the encoder the session asked for is being built, the one it replaces gets nothing.
    const auto active = encoder_.load();
    if (!active || !active->serves(asked_.load())) return;
    bool arm = false;
    {
        // Beyond the send rate's pictures a second, a picture waits for its slot (or a newer one).
        const std::lock_guard guard(gateLock_);
        if (gate_.offer(frame)) return active->encoder->encode(frame, MonoClock::micros(), false);
        arm = !std::exchange(gateTimerArmed_, true);
    }
    if (arm) ctl_->post([this] { armGateTimer(); });
}

void CapturePipeline::onEncoded(uint64_t generation, const PictureFormat& format, EncodedPicture&& picture) {
    const auto active = encoder_.load();
    // The last pictures of a replaced encoder belong to a stream the client no longer decodes.
    if (!active || active->generation != generation) return;
    Diag::add(Diag::Counter::encoded);
    const Instant encodedAt = now();
    Diag::stamp(Diag::Stamp::lastEncodeAt, encodedAt);
    {
        const std::lock_guard guard(pictureTimesLock_);
        pictureInterval_ = encodedAt - lastPictureAt_;
        lastPictureAt_ = encodedAt;
    }
    const bool keyframe = picture.keyframe;
    // The session first, then whether it is streamed to, then what it asked: read in the order the
    // session core sets them the other way round, they belong to one session.
    const std::shared_ptr<const SendTarget> target = host_.sendTarget();
    if (target && target->session && streaming()) {
        if (!active->serves(asked_.load())) return; // made for what the session asked before
        if (!keyframe && !keyed(*target)) {
            // Of an older stream, or before the keyframe that waits for its spacing: the session has no
            // picture to predict it from. It has never had a keyframe, so there is nothing to space from.
            active->encoder->requestKeyframe();
            return;
        }
    }
    PictureTrace trace{picture.capturedAt, picture.convertMicros, picture.encodeMicros, 0, {}};
    const auto begun = std::chrono::steady_clock::now();
    trace.sent = sendPath_.sendPicture(std::move(picture), format, target);
    if (target && (trace.sent.pieces > 0 || trace.sent.leftOut))
        follower_.picture(trace.sent.pieces - trace.sent.copies, trace.sent.leftOut);
    if (trace.sent.leftOut && target) {
        // The pictures after one left out would refer to it: none goes until a keyframe has.
        unmarkKeyed(*target);
        active->encoder->requestKeyframe();
    }
    // Only a keyframe that went out whole gives the session a picture to predict the next ones from;
    // one lost for want of a route leaves it unkeyed, and its next picture asks for another.
    if (keyframe && target && trace.sent.pieces > 0 && trace.sent.dropped == 0) markKeyed(*target);
    // Only IDRs count: a refresh wave's first picture answers no request for a keyframe.
    if (keyframeSpacing_.picture(keyframe, now()) || trace.sent.tooLarge) active->encoder->requestKeyframe();
    if (options_.onPictureSent) {
        trace.sendMicros = static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - begun).count());
        options_.onPictureSent(trace);
    }
}

bool CapturePipeline::keyed(const SendTarget& target) const {
    const std::lock_guard guard(keyedLock_);
    return keyedSession_.lock() == target.session;
}

void CapturePipeline::markKeyed(const SendTarget& target) {
    const std::lock_guard guard(keyedLock_);
    keyedSession_ = target.session;
}

void CapturePipeline::unmarkKeyed(const SendTarget& target) {
    const std::lock_guard guard(keyedLock_);
    if (keyedSession_.lock() == target.session) keyedSession_.reset();
}

void CapturePipeline::buildEncoder(bool forceKeyframe) {
    const std::lock_guard build(buildLock_);
    for (;;) {
        EncoderAsk ask;
        PictureFormat format;
        bool repair = false;
        {
            const std::lock_guard guard(lock_);
            ask = asked_.load();
            format = {++nextGeneration_, ask.h264, frameW_, frameH_};
            repair = repairing_;
        }
        // Made for the link's budget, starting at the rate the link carries now: an encoder that takes a
        // new rate while it runs opens for the budget, so that it can climb back to it later.
        const VideoBudget base = budgetFor(ask.relay);
        const SendRate rate = sendRate();
        auto active = std::make_shared<ActiveEncoder>();
        active->generation = format.generation;
        active->format = format;
        active->relay = ask.relay;
        VideoEncoderConfig config{format.width, format.height, format.h264, base};
        config.repairsLosses = repair;
        config.startBitRate = rate.bitRate;
        config.startFrameRate = rate.frameRate;
        active->encoder = options_.makeEncoder(
            config, [this, format](EncodedPicture&& p) { onEncoded(format.generation, format, std::move(p)); });
        active->encoder->start();
        follower_.coarseSteps(!active->encoder->retargetsInPlace());
        if (forceKeyframe) active->encoder->requestKeyframe();
        {
            // The old encoder goes when its last user lets go: a capture thread inside encode() keeps it.
            const std::lock_guard guard(linkLock_);
            encoder_.store(active);
            told_ = {format.generation, rate};
        }
        if (forceKeyframe) Diag::stamp(Diag::Stamp::lastEncodeAt, now());
        paceGate();
        if (const auto cap = capturer()) applyCaptureRate(cap, streaming());
        // A step of the rate made while this one was being built: it takes it now, or one is built for it.
        const bool rateTaken = retargetEncoder();
        // A session that asked for another codec or link meanwhile gets it now.
        if (rateTaken && active->serves(asked_.load())) return;
        forceKeyframe = true;
    }
}

// Pictures at the link's base frame rate while a client watches, whatever the send rate: a lower one
// leaves pictures out at the gate, since a new capture rate is a new capture stream on GNOME. Otherwise
// only what keeps the capture proven alive, so that a busy desktop costs nothing while nobody looks. A
// change applies at once.
void CapturePipeline::applyCaptureRate(const std::shared_ptr<ScreenCapturer>& cap, bool streamingNow) {
    const int fps = streamingNow ? budgetFor(asked_.load().relay).expectedFrameRate : idleCaptureFPS;
    if (cap->captureFPS() != fps) cap->setCaptureFPS(fps);
}

// ---- what a step of the send rate costs

void CapturePipeline::applySendRate(SendRate rate) {
    // The sound takes its share of a slowed link while it is captured (LinkAudio: a quarter at most); the
    // picture the rest.
    const int64_t full = budgetFor(asked_.load().relay).averageBitRate;
    sendPath_.setAudioFormatFor(rate.bitRate, full);
    if (rate.bitRate < full) rate.bitRate = std::max(rate.bitRate - sendPath_.audioShare(), rate.bitRate / 2);
    {
        const std::lock_guard guard(linkLock_);
        sendRate_ = rate;
    }
    paceGate();
    if (!retargetEncoder()) {
        bool built = false; // by the set-up or the restart under way, for this rate
        {
            const std::lock_guard guard(lock_);
            built = restarting_ || (!capturer_ && !synth_);
        }
        // Opening a codec can take long: never on the caller's thread.
        if (!built) setup_->post([this] { conformRate(); });
    }
    if (const auto cap = capturer()) applyCaptureRate(cap, streaming());
}

namespace {
SendRate rateOf(const VideoBudget& budget) { return {budget.averageBitRate, budget.expectedFrameRate}; }
} // namespace

SendRate CapturePipeline::sendRateLocked(const VideoBudget& base) const {
    return follower_.base() == rateOf(base) ? sendRate_ : rateOf(base);
}

bool CapturePipeline::retargetEncoder() {
    const VideoBudget base = budgetFor(asked_.load().relay);
    const std::lock_guard guard(linkLock_);
    const auto active = encoder_.load();
    const SendRate rate = sendRateLocked(base);
    if (!active || (told_.generation == active->generation && told_.rate == rate)) return true;
    if (!active->encoder->retarget(rate.bitRate, rate.frameRate)) return false;
    told_ = {active->generation, rate};
    return true;
}

void CapturePipeline::conformRate() {
    if (stopping_) return;
    setup_->assertCurrent(__func__);
    if (retargetEncoder()) return; // an encoder built since makes the rate
    rebuildEncoderLocked("the link's rate changed");
}

void CapturePipeline::paceGate() {
    const VideoBudget base = budgetFor(asked_.load().relay);
    SendRate rate;
    {
        const std::lock_guard guard(linkLock_);
        rate = sendRateLocked(base);
    }
    const std::lock_guard guard(gateLock_);
    gate_.setRate(rate.frameRate, base.expectedFrameRate);
}

void CapturePipeline::armGateTimer() {
    ctl_->assertCurrent(__func__);
    std::optional<Instant> at;
    {
        const std::lock_guard guard(gateLock_);
        at = gate_.heldUntil();
        if (!at) {
            gateTimerArmed_ = false;
            return;
        }
    }
    gateTimer_ = clock_->after(std::max(*at - now(), Duration{}), [this] { releaseHeldPicture(); });
}

void CapturePipeline::releaseHeldPicture() {
    ctl_->assertCurrent(__func__);
    if (stopping_) return;
    const auto active = encoder_.load();
    {
        const std::lock_guard guard(gateLock_);
        if (const auto frame = gate_.release(now())) {
            gateTimerArmed_ = false;
            if (streaming() && active && active->serves(asked_.load()))
                active->encoder->encode(*frame, MonoClock::micros(), false);
            return;
        }
    }
    armGateTimer(); // not yet due: its slot moved
}

int CapturePipeline::capturedFor(int pictures) const {
    const int capture = budgetFor(asked_.load().relay).expectedFrameRate;
    const int sent = std::max(sendRate().frameRate, 1);
    return pictures * ((capture + sent - 1) / sent);
}

void CapturePipeline::publishStreamedArea(const ScreenCapturer& cap, int width, int height) {
    if (!host_.streamedArea) return;
    const std::vector<MonitorInfo> monitors = cap.displays();
    const int index = cap.currentIndex();
    if (index < 0 || index >= static_cast<int>(monitors.size())) return;
    const MonitorInfo& m = monitors[static_cast<std::size_t>(index)];
    host_.streamedArea(StreamedArea{m.x, m.y, static_cast<uint32_t>(m.width), static_cast<uint32_t>(m.height),
                                    static_cast<uint32_t>(width), static_cast<uint32_t>(height)});
}

// ---- supervisor

void CapturePipeline::start() {
    ctl_->post([this] { startWatchdog(); });
    if (options_.power) options_.power->setOnWake([this] { restartCapture("woke from sleep"); });
    startSetupLoop(false);
}

void CapturePipeline::startSetupLoop(bool revive) {
    {
        const std::lock_guard guard(lock_);
        // One loop at a time: a second would only race the first to the same result.
        if (setupRunning_ || stopping_) return;
        setupRunning_ = true;
        reviving_ = revive;
    }
    setup_->post([this, revive] { setupAttempt(firstSetupDelay, revive); });
}

void CapturePipeline::setupLoopEnded(bool revive) {
    const std::lock_guard guard(lock_);
    setupRunning_ = false;
    if (revive) reviving_ = false;
}

void CapturePipeline::setupAttempt(unsigned delaySeconds, bool revive) {
    {
        const std::lock_guard guard(lock_);
        if (capturer_ || synth_ || stopping_) {
            setupRunning_ = false;
            if (revive) reviving_ = false;
            return;
        }
    }
    try {
        setupCaptureEncode();
        print("• capture pipeline ready");
        setupLoopEnded(revive);
        return;
    } catch (const std::exception& e) {
        // In the words of the capture this attempt made, if it got that far.
        const std::string hint = attemptWords_ ? " (" + attemptWords_->setUpHint + ")" : "";
        print(std::string("⚠︎ capture setup failed: ") + e.what() + " — retrying in " +
              std::to_string(delaySeconds) + "s" + hint);
    }
    const unsigned next = std::min(delaySeconds * 2, longestSetupDelay);
    ctl_->post([this, delaySeconds, next, revive] {
        if (stopping_) return;
        setupTimer_ = clock_->after(std::chrono::seconds(delaySeconds), [this, next, revive] {
            setup_->post([this, next, revive] { setupAttempt(next, revive); });
        });
    });
}

void CapturePipeline::setupCaptureEncode() {
    setup_->assertCurrent(__func__);
    attemptWords_.reset();
    const VideoCodecChoice choice = options_.codec();
    bool h264 = true;
    {
        const std::lock_guard guard(lock_);
        codecChoice_ = choice;
        // A session that asked for its own codec keeps it across a rebuilt pipeline.
        h264 = askedH264_.value_or(choice.h264);
        asked_.store({h264, asked_.load().relay});
    }
    const bool synthetic = options_.synthetic.value_or(std::getenv("DOVREL_SYNTHETIC") != nullptr);
    if (synthetic) {
        auto source = std::make_unique<SyntheticSource>(syntheticWidth, syntheticHeight,
                                                        [this](const CapturedFrame& f) { onFrame(f); });
        source->start();
        {
            const std::lock_guard guard(lock_);
            frameW_ = syntheticWidth;
            frameH_ = syntheticHeight;
            synth_ = std::move(source);
        }
        print("• SYNTHETIC source " + size(syntheticWidth, syntheticHeight) + " (no screen capture)");
    } else {
        std::shared_ptr<ScreenCapturer> cap = options_.makeCapturer([this](const CapturedFrame& f) { onFrame(f); });
        attemptWords_ = cap->sourceWords();
        cap->setOnAudio([this](std::span<const int16_t> samples, uint32_t rate, uint8_t channels) {
            sendPath_.sendAudio(samples, rate, channels);
        });
        // A capturer left behind by a restart given up on hears its stream end when its successor takes
        // over: that is no reason to restart the successor.
        cap->setOnStreamStopped(
            [this, from = cap.get()](const std::string&) { restartCapture("stream stopped by the system", from); });
        cap->start(0); // a failure drops the capturer with the exception
        const Instant t = now();
        Diag::stamp(Diag::Stamp::lastCaptureAt, t);
        Diag::stamp(Diag::Stamp::lastStreamAt, t);
        const int w = cap->width(), h = cap->height();
        {
            const std::lock_guard guard(lock_);
            capturer_ = cap;
            frameW_ = w;
            frameH_ = h;
        }
        print("• capture " + size(w, h));
        publishStreamedArea(*cap, w, h);
    }
    buildEncoder(false); // the source stays when this throws; the watchdog repairs the encoder
    const VideoCodecChoice shown =
        h264 == choice.h264 ? choice : VideoCodecChoice{h264, VideoCodecChoice::Why::requested};
    print(encoderReadyLine(shown));
}

void CapturePipeline::restartCapture(const std::string& reason, const ScreenCapturer* only) {
    std::shared_ptr<ScreenCapturer> cap;
    uint64_t token = 0;
    {
        const std::lock_guard guard(lock_);
        if (restarting_ || !capturer_ || stopping_ || (only && capturer_.get() != only)) return;
        restarting_ = true;
        cap = capturer_;
        token = ++restartToken_;
    }
    print("⚠︎ restarting screen capture — " + reason);
    ctl_->post([this, token] {
        restartTimeout_ = clock_->after(restartTimeLimit, [this, token] {
            finishRestart(token, "timed out after " + std::to_string(restartTimeLimit.count()) + "s");
        });
    });
    auto job = std::make_shared<Restart>();
    const std::lock_guard threads(restartThreadsLock_);
    // The pipeline began to go after the check above: it joins only the threads it finds here.
    if (stopping_) return;
    for (auto it = restartThreads_.begin(); it != restartThreads_.end();) {
        if ((*it)->done) {
            (*it)->thread.join();
            it = restartThreads_.erase(it);
        } else {
            ++it;
        }
    }
    job->thread = std::thread([this, cap, token, done = job]() mutable {
        armSignalStack();
        std::optional<std::string> failure;
        try {
            cap->restart();
        } catch (const std::exception& e) {
            failure = e.what();
        }
        // A restart given up on holds the last reference: its capture stops here.
        cap.reset();
        ctl_->post([this, token, failure] { finishRestart(token, failure); });
        done->done = true;
    });
    restartThreads_.push_back(std::move(job));
}

void CapturePipeline::finishRestart(uint64_t token, std::optional<std::string> failure) {
    std::shared_ptr<ScreenCapturer> cap;
    {
        const std::lock_guard guard(lock_);
        // The other of the two outcomes (the restart itself, its time-out) came first.
        if (!restarting_ || token != restartToken_ || stopping_) return;
        cap = capturer_;
    }
    restartTimeout_.reset();
    if (!failure && cap) {
        const Instant t = now();
        Diag::stamp(Diag::Stamp::lastCaptureAt, t);
        Diag::stamp(Diag::Stamp::lastStreamAt, t);
        const int w = cap->width(), h = cap->height();
        {
            const std::lock_guard guard(lock_);
            frameW_ = w;
            frameH_ = h;
        }
        publishStreamedArea(*cap, w, h);
        try {
            buildEncoder(true);
            print("• capture restarted — " + size(w, h) + ", fresh keyframe forced");
        } catch (const std::exception& e) {
            failure = e.what();
        }
    } else if (!failure) {
        failure = "the capture went away";
    }
    if (failure) {
        print("• capture restart FAILED: " + *failure + " — will retry");
        {
            const std::lock_guard guard(lock_);
            if (capturer_ == cap) capturer_.reset();
        }
        cap.reset(); // stops it, unless the abandoned restart still holds it
    }
    bool stale = false;
    {
        const std::lock_guard guard(lock_);
        restarting_ = false;
        // Asked for after the restart's build had read it, and left to the restart.
        const auto active = encoder_.load();
        stale = !failure && active && !active->serves(asked_.load());
    }
    if (failure) startSetupLoop(false);
    if (stale) setup_->post([this] { conformEncoder("a client asked for another codec or link during the restart"); });
}

bool CapturePipeline::askLocked(EncoderAsk ask) {
    asked_.store(ask);
    // Without a source the next set-up builds for it, during a restart the restart does; an encoder that
    // makes it already needs no replacing.
    const auto active = encoder_.load();
    return !restarting_ && (capturer_ || synth_) && !(active && active->serves(ask));
}

void CapturePipeline::rebuildEncoder(bool h264, const std::string& reason) {
    {
        const std::lock_guard guard(lock_);
        askedH264_ = h264;
        if (!askLocked({h264, asked_.load().relay})) return;
    }
    // Opening a codec (a hardware device too) can take long: never on "dovrel.net".
    setup_->post([this, reason] { conformEncoder(reason); });
}

void CapturePipeline::rebuildEncoderFor(const std::string& reason) {
    {
        const std::lock_guard guard(lock_);
        if (restarting_ || (!capturer_ && !synth_)) return; // a restart builds its own encoder
    }
    // Opening a codec (a hardware device too) can take long: never on the caller's thread, which may be
    // "dovrel.net" or the timers'. The set-up thread does it and the log reports how it went.
    setup_->post([this, reason] { rebuildEncoderLocked(reason); });
}

void CapturePipeline::rebuildEncoderLocked(const std::string& reason) {
    if (stopping_) return;
    setup_->assertCurrent(__func__);
    {
        const std::lock_guard guard(lock_);
        if (restarting_ || (!capturer_ && !synth_)) return;
    }
    print("⚠︎ rebuilding encoder — " + reason);
    try {
        buildEncoder(true);
        print("• encoder rebuilt — fresh keyframe forced");
    } catch (const std::exception& e) {
        // The old encoder stays. When it serves what the session asked for it goes on; when it does not
        // (another codec or link), no picture leaves until a rebuild works: the watchdog tries again.
        print(std::string("• encoder rebuild FAILED: ") + e.what());
    }
}

void CapturePipeline::conformEncoder(const std::string& reason) {
    if (stopping_) return;
    setup_->assertCurrent(__func__);
    // An earlier change's build may have read this one too.
    if (const auto active = encoder_.load(); active && active->serves(asked_.load())) return;
    rebuildEncoderLocked(reason);
}

void CapturePipeline::applyLinkBudget(bool relay) {
    resetLinkRate(relay);
    bool rebuild = false;
    {
        const std::lock_guard guard(lock_);
        rebuild = askLocked({asked_.load().h264, relay});
    }
    if (!rebuild) {
        // The encoder in use makes this link's stream, but an earlier session's link may have left it
        // below the budget.
        const VideoBudget base = budgetFor(relay);
        SendRate told, rate;
        {
            const std::lock_guard guard(linkLock_);
            told = told_.rate;
            rate = sendRateLocked(base);
        }
        if (encoder_.load() && told != rate) applySendRate(rate);
        return;
    }
    // The build sets the capture rate of the link's budget.
    setup_->post([this, relay] {
        conformEncoder(relay ? "this client is on the relay — encoding for it"
                             : "this client is on the LAN — full quality");
    });
}

void CapturePipeline::repairPicture() {
    // The client also asks right after it joined (and when its window opens), and about once a second
    // while its picture stands still, where the screen may simply be still. Neither says that pieces
    // are being lost.
    const Instant t = now();
    Duration interval{};
    {
        const std::lock_guard guard(pictureTimesLock_);
        interval = pictureInterval_;
    }
    bool startRepairing = false;
    LinkRate::Ask why = LinkRate::Ask::lost;
    {
        const std::lock_guard guard(lock_);
        // A joining client asks as it joins and once more as its window opens; asks beyond those while
        // the pictures flow are for pictures lost.
        if (keyframeAskedAt_ && t - *keyframeAskedAt_ < joinGrace && ++joiningAsks_ <= joiningAsksAtMost)
            why = LinkRate::Ask::joining;
        else if (interval >= stillInterval)
            why = LinkRate::Ask::still;
        if (why == LinkRate::Ask::lost) {
            lastLossAt_ = t;
            startRepairing = !repairing_;
            repairing_ = true;
        }
    }
    follower_.keyframeAsked(why);
    const auto active = encoder_.load();
    const int period = active ? active->encoder->refreshPeriod() : 0;
    if (period > 0) {
        // A keyframe would be the biggest picture of all, the one most likely to lose a piece itself. The
        // waves repair instead: what the loss damaged is whole again once the next complete wave has
        // passed, at most two periods on. They move only with pictures, so the screen is captured at the
        // rate until then, still or not.
        if (const auto cap = capturer()) {
            applyCaptureRate(cap, streaming());
            cap->requestFrames(capturedFor(2 * period));
        }
        return;
    }
    // The first loss after a calm spell: an encoder that repairs in waves from now on, whose first
    // picture, a keyframe, repairs this loss. One that cannot (a hardware encoder) repairs with keyframes.
    if (startRepairing)
        rebuildEncoderFor("pictures are being lost — repairing them in refresh waves");
    else
        forceKeyframe();
}

// ---- following the link

void CapturePipeline::resetLinkRate(bool relay) {
    // Unpaced, as long as the link drops nothing: pacing holds a big picture back for what would be tens
    // of milliseconds at the budget, and a link that takes it whole needs none.
    follower_.begin(rateOf(budgetFor(relay)));
    sendPath_.setAudioFormatFor(budgetFor(relay).averageBitRate, budgetFor(relay).averageBitRate);
    const std::lock_guard guard(linkLock_);
    sendRate_ = follower_.current();
}

std::optional<ControlLinkReading> CapturePipeline::LinkPort::controlLink() const {
    return pipeline_.host_.controlLink ? pipeline_.host_.controlLink() : std::nullopt;
}

std::size_t CapturePipeline::LinkPort::relayBacklog() const {
    // What waits in front of the link (the relay's queue); the pace's own wait is the encoder's
    // overshoot, not the link's.
    const auto target = pipeline_.host_.sendTarget();
    return target && target->route ? target->route->backlog() : 0;
}

bool CapturePipeline::LinkPort::throughRelay() const {
    const auto target = pipeline_.host_.sendTarget();
    return target && target->isRelay;
}

void CapturePipeline::followLink() {
    ctl_->assertCurrent(__func__);
    if (stopping_ || !streaming()) return;
    follower_.follow();
}

void CapturePipeline::calmDown() {
    // Below the link's budget the link is still slow: a keyframe, the biggest picture of all, is what it
    // carries worst, and the waves send none.
    if (const SendRate rate = sendRate(); rate.bitRate < budgetFor(asked_.load().relay).averageBitRate) return;
    {
        const std::lock_guard guard(lock_);
        if (!repairing_ || now() - lastLossAt_ < calmAfter) return;
        repairing_ = false;
    }
    rebuildEncoderFor("no picture lost for " + std::to_string(calmAfter.count()) + " s — back to keyframes");
}

void CapturePipeline::requestKeyframe() {
    {
        const std::lock_guard guard(lock_);
        keyframeAskedAt_ = now();
        joiningAsks_ = 0;
    }
    forceKeyframe();
}

void CapturePipeline::forceKeyframe() {
    // One that comes too soon after the last keyframe waits for the picture that completes the spacing.
    if (keyframeSpacing_.request(now()))
        if (const auto active = encoder_.load()) active->encoder->requestKeyframe();
    if (const auto cap = capturer()) {
        applyCaptureRate(cap, streaming());
        cap->requestFrame(); // a still screen would otherwise keep the keyframe waiting up to a second
    }
}

// ---- rest mode

void CapturePipeline::setRest(bool on) {
    {
        const std::lock_guard guard(lock_);
        if (on == resting_) return;
        resting_ = on;
    }
    if (on) {
        if (options_.power) options_.power->restDisplay();
        print("• resting — display off, staying reachable on the relay");
    } else {
        if (options_.power) options_.power->wakeDisplay();
        print("• leaving rest — display on");
    }
    if (host_.restingChanged) host_.restingChanged(on);
}

// ---- watchdog

void CapturePipeline::startWatchdog() {
    ctl_->assertCurrent(__func__);
    watchdog_.reset();
    watchdog_ = clock_->every(watchdogEvery, watchdogEvery, [this] { watchdogTick(); });
}

void CapturePipeline::watchdogTick() {
    ctl_->assertCurrent(__func__);
    if (stopping_) return;
    WatchdogView view;
    std::shared_ptr<ScreenCapturer> cap;
    {
        const std::lock_guard guard(lock_);
        view.restarting = restarting_;
        view.haveCapturer = capturer_ != nullptr;
        view.haveSynthetic = synth_ != nullptr;
        view.resting = resting_;
        cap = capturer_;
    }
    if (cap) view.source = cap->sourceWords().source;
    view.streaming = streaming();
    view.streamingAtLastTick = streamingAtLastTick_;
    streamingAtLastTick_ = view.streaming;
    const Instant t = now();
    view.sinceStream = t - Diag::stampOf(Diag::Stamp::lastStreamAt);
    view.sinceCapture = t - Diag::stampOf(Diag::Stamp::lastCaptureAt);
    view.sinceEncode = t - Diag::stampOf(Diag::Stamp::lastEncodeAt);
    if (cap && !view.streaming && !view.restarting) applyCaptureRate(cap, false);

    calmDown();

    const WatchdogVerdict verdict = watchdogVerdict(view);
    switch (verdict.act) {
    case WatchdogVerdict::Act::nothing: break;
    case WatchdogVerdict::Act::revive: startSetupLoop(true); break;
    case WatchdogVerdict::Act::restartCapture: restartCapture(verdict.reason); break;
    case WatchdogVerdict::Act::rebuildEncoder: rebuildEncoderFor(verdict.reason); break;
    }
}

// ---- displays and statistics

void CapturePipeline::sendDisplayList() {
    const auto cap = capturer();
    if (!cap) return;
    host_.sendControl(displayListOf(*cap).encode(), wex::ControlType::displayList);
}

void CapturePipeline::switchDisplay(uint8_t displayId) {
    const auto cap = capturer();
    if (!cap || cap->currentIndex() == displayId) return;
    setup_->post([this, cap, displayId] {
        if (stopping_) return;
        const std::string n = std::to_string(displayId);
        try {
            cap->start(displayId);
        } catch (const std::exception& e) {
            print(std::string("• display switch failed: ") + e.what());
            return;
        }
        const int w = cap->width(), h = cap->height();
        {
            const std::lock_guard guard(lock_);
            frameW_ = w;
            frameH_ = h;
        }
        publishStreamedArea(*cap, w, h);
        try {
            buildEncoder(true);
        } catch (const std::exception& e) {
            print(std::string("• display switch failed: ") + e.what()); // the old encoder goes on
            return;
        }
        sendDisplayList();
        print("• switched to display " + n + " — " + size(w, h));
    });
}

void CapturePipeline::startSessionReports() {
    sendDisplayList();
    ctl_->post([this] { startStatsTimer(); });
}

void CapturePipeline::stopSessionReports() {
    ctl_->post([this] {
        statsTimer_.reset();
        linkTimer_.reset();
        // After the last tick, on the same thread: the window shows no figures of a session that is over.
        if (host_.videoReport) host_.videoReport(0, idleVideoPath);
    });
}

void CapturePipeline::startStatsTimer() {
    ctl_->assertCurrent(__func__);
    statsTimer_.reset();
    Diag::tick(); // the first report counts from now
    statsTimer_ = clock_->every(statsEvery, statsEvery, [this] { sendStats(); });
    linkTimer_.reset();
    linkTimer_ = clock_->every(linkEvery, linkEvery, [this] { followLink(); });
}

void CapturePipeline::sendStats() {
    ctl_->assertCurrent(__func__);
    options_.rotateLog();
    SystemStats::Sample sample;
    if (options_.sampleStats) {
        sample = options_.sampleStats();
    } else {
        if (!stats_) stats_.emplace();
        sample = stats_->sample();
    }
    wex::DeckStat stat;
    stat.reqId = 0;
    stat.cpu = sample.cpu;
    stat.ram = sample.ram;
    stat.battery = -1;
    stat.flags = wex::DeckStat::flagAwake;
    host_.sendControl(stat.encode(), wex::ControlType::deckStat);

    const Diag::Tick t = Diag::tick();
    const auto target = host_.sendTarget();
    const std::string label = videoPathLabel(target.get());
    print(healthLine(t, label));
    const bool watching = streaming();
    if (watching && t.aBuf == 0 && t.aSent == 0) {
        const Instant at = now();
        if (!lastNoAudioNote_ || at - *lastNoAudioNote_ >= noAudioNoteGap) {
            lastNoAudioNote_ = at;
            print("⚠︎ no system audio is being captured — PulseAudio is not delivering it. The screen is "
                  "unaffected. (Repeated at most every 5 minutes.)");
        }
    }
    if (streaming() && t.frames == 0)
        print("⚠︎ streaming but ZERO video frames left the agent this second (cap=" + std::to_string(t.cap) +
              "/s enc=" + std::to_string(t.enc) + "/s path=" + label + ") — the controller will show black");
    if (host_.videoReport) host_.videoReport(static_cast<int>(t.enc), label);
}

} // namespace dovrel::agent

#include "agent/media/GnomeScreenCapturer.h"

#include <algorithm>

#include "agent/common/AgentError.h"
#include "agent/common/AgentLog.h"

namespace dovrel::agent {

namespace {

constexpr auto formatWait = std::chrono::seconds(10);

MonitorInfo infoOf(const MutterMonitor& m) { return {m.connector, m.x, m.y, m.width, m.height, m.primary}; }

} // namespace

GnomeScreenCapturer::GnomeScreenCapturer(FrameCallback onFrame, std::shared_ptr<MutterSession> session)
    : GnomeScreenCapturer(std::move(onFrame), std::move(session), Options{}) {}

GnomeScreenCapturer::GnomeScreenCapturer(FrameCallback onFrame, std::shared_ptr<MutterSession> session, Options options)
    : onFrame_(std::move(onFrame)), session_(std::move(session)), audio_(std::move(options.audio), options.clock),
      fps_(std::make_shared<std::atomic<int>>(60)) {}

GnomeScreenCapturer::~GnomeScreenCapturer() {
    const std::lock_guard guard(lifecycle_);
    stopUnderLock();
    uint64_t token = 0;
    {
        const std::lock_guard state(stateLock_);
        token = sessionToken_;
    }
    // A capturer left behind by a restart that was given up on must not end its successor's session.
    if (token != 0) session_->close(token);
}

void GnomeScreenCapturer::setOnAudio(AudioCallback cb) {
    const std::lock_guard guard(stateLock_);
    onAudio_ = std::move(cb);
}

void GnomeScreenCapturer::setOnStreamStopped(StoppedCallback cb) {
    const std::lock_guard guard(stateLock_);
    onStopped_ = std::move(cb);
}

void GnomeScreenCapturer::refreshDisplays() {
    const std::lock_guard guard(lifecycle_);
    std::vector<MonitorInfo> found;
    for (const MutterMonitor& m : session_->monitors())
        found.push_back(infoOf(m));
    const std::lock_guard state(stateLock_);
    displays_ = std::move(found);
}

void GnomeScreenCapturer::start(int index) {
    const std::lock_guard guard(lifecycle_);
    startUnderLock(index);
}

void GnomeScreenCapturer::restart() {
    const std::lock_guard guard(lifecycle_);
    int index = 0;
    {
        const std::lock_guard state(stateLock_);
        index = currentIndex_;
    }
    startUnderLock(index);
}

void GnomeScreenCapturer::startUnderLock(int index) {
    if (!session_->offered())
        throw AgentError(AgentError::Kind::capture, "GNOME's screen cast is not on the session bus");
    stopUnderLock();
    // A fresh session records every monitor; the one asked for is watched.
    uint64_t mine = 0;
    {
        const std::lock_guard state(stateLock_);
        mine = ++generation_;
        stopReported_ = false;
    }
    MutterSession::Opened opened = session_->open([this, mine](const std::string& why) { stopped(mine, why); });
    {
        const std::lock_guard state(stateLock_);
        sessionToken_ = opened.token;
    }
    const std::vector<MutterStream>& streams = opened.streams;
    if (streams.empty()) throw AgentError(AgentError::Kind::capture, "no display found");
    const int i = std::clamp(index, 0, static_cast<int>(streams.size()) - 1);
    const MutterStream& chosen = streams[static_cast<std::size_t>(i)];
    AudioCallback onAudio;
    {
        const std::lock_guard state(stateLock_);
        displays_.clear();
        for (const MutterStream& s : streams)
            displays_.push_back(infoOf(s.monitor));
        currentIndex_ = i;
        width_ = chosen.monitor.width;
        height_ = chosen.monitor.height;
        onAudio = onAudio_;
    }
    session_->setPointerStream(chosen.path);
    auto stream = std::make_shared<PipeWireStream>(
        chosen.node, onFrame_, [this, mine](const std::string& why) { stopped(mine, why); }, fps_);
    const PipeWireStream::Size size = stream->waitForFormat(formatWait);
    const bool dmabuf = stream->usesDmaBuf();
    {
        const std::lock_guard state(stateLock_);
        stream_ = std::move(stream);
        // The pictures' own size, which the compositor may scale from the monitor's.
        width_ = size.width;
        height_ = size.height;
    }
    print(std::string("• GNOME screen cast of ") +
          (chosen.monitor.connector.empty() ? "the primary monitor" : chosen.monitor.connector) + " — " +
          std::to_string(size.width) + "×" + std::to_string(size.height) + " through PipeWire (" +
          (dmabuf ? "DMA-BUF" : "shared memory") + ")");
    if (onAudio) audio_.start(std::move(onAudio));
}

void GnomeScreenCapturer::stopUnderLock() {
    std::shared_ptr<PipeWireStream> stream;
    {
        const std::lock_guard state(stateLock_);
        stream = std::move(stream_);
        ++generation_;
    }
    stream.reset();
    audio_.stop();
}

void GnomeScreenCapturer::stopped(uint64_t generation, const std::string& why) {
    StoppedCallback cb;
    {
        const std::lock_guard state(stateLock_);
        if (generation != generation_ || stopReported_) return;
        stopReported_ = true;
        cb = onStopped_;
    }
    if (cb) cb(why);
}

std::string GnomeScreenCapturer::name(int index) const {
    const std::lock_guard state(stateLock_);
    return displayName(displays_, index);
}

std::vector<MonitorInfo> GnomeScreenCapturer::displays() const {
    const std::lock_guard state(stateLock_);
    return displays_;
}

int GnomeScreenCapturer::currentIndex() const {
    const std::lock_guard state(stateLock_);
    return currentIndex_;
}

int GnomeScreenCapturer::width() const {
    const std::lock_guard state(stateLock_);
    return width_;
}

int GnomeScreenCapturer::height() const {
    const std::lock_guard state(stateLock_);
    return height_;
}

int GnomeScreenCapturer::captureFPS() const { return fps_->load(std::memory_order_relaxed); }

void GnomeScreenCapturer::setCaptureFPS(int fps) {
    fps_->store(std::clamp(fps, 1, maxCaptureFPS), std::memory_order_relaxed);
    std::shared_ptr<PipeWireStream> stream;
    {
        const std::lock_guard state(stateLock_);
        stream = stream_;
    }
    if (stream) stream->retime();
}

void GnomeScreenCapturer::requestFrame() { requestFrames(1); }

void GnomeScreenCapturer::requestFrames(int count) {
    std::shared_ptr<PipeWireStream> stream;
    {
        const std::lock_guard state(stateLock_);
        stream = stream_;
    }
    if (stream) stream->requestFrames(count);
}

bool GnomeScreenCapturer::usesDmaBuf() const {
    const std::lock_guard state(stateLock_);
    return stream_ && stream_->usesDmaBuf();
}

} // namespace dovrel::agent

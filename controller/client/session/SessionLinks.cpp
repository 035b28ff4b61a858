#include "controller/client/session/SessionLinks.h"

#include <QUdpSocket>

#include "controller/client/link/Hexed.h"
#include "controller/client/session/ClientTexts.h"
#include "controller/platform/ClientLog.h"
#include "protocol/RelayPreamble.h"
#include "protocol/RelayRedirect.h"

namespace dovrel::controller {

using namespace std::chrono_literals;

namespace {
constexpr auto retryAfterFailure = 1000ms;
constexpr auto retryWhileWaiting = 1500ms;
constexpr auto followRedirectAfter = 200ms;
} // namespace

SessionLinks::SessionLinks(Host& host, const ClientConfig& config, Scheduler& clock)
    : host_(host), config_(config), clock_(clock), lookups_(config.resolver ? config.resolver : makeSystemResolver()),
      video_(*this, clock),
      controlPort_(config.controlPort), relayIdentity_{"", "", config.defaultRelayHost, config.defaultRelayPort} {
    if (!config_.relayCaFile.empty())
        relayCas_ = QSslCertificate::fromPath(QString::fromStdString(config_.relayCaFile));
}

SessionLinks::~SessionLinks() {
    // Sends nothing and tells no one: the links simply close with the object.
    retireBoth();
}

// ---- dialling and abandoning ------------------------------------------------------------------

void SessionLinks::dialLan(const std::string& host, uint16_t controlPort) {
    thread_.check(__func__);
    agentHost_ = host;
    controlPort_ = controlPort;
    isRelay_ = false;
    relayRoom_.clear();
    video_.start(config_.videoPort);
    startInput();
    startControl();
}

void SessionLinks::dialRelay(const std::string& room, const wex::RelayIdentity& identity) {
    thread_.check(__func__);
    agentHost_.clear();
    isRelay_ = true;
    relayRoom_ = lowercased(room);
    relayIdentity_ = identity;
    startRelay(relayRoom_);
}

void SessionLinks::restart() {
    thread_.check(__func__);
    if (isRelay_ && !relayRoom_.empty())
        startRelay(relayRoom_);
    else
        startControl();
}

void SessionLinks::restartAfter(Duration delay) {
    thread_.check(__func__);
    ++gen_;
    retireBoth();
    host_.linkReplaced();
    if (isRelay_) {
        const std::string room = relayRoom_;
        redialAfter(delay, [this, room] { startRelay(room); });
    } else {
        redialAfter(delay, [this] { startControl(); });
    }
}

void SessionLinks::halt() {
    thread_.check(__func__);
    ++gen_;
    retireBoth();
    control_.reset();
    relay_.reset();
    redialTimer_.reset();
}

void SessionLinks::closeAll() {
    thread_.check(__func__);
    halt();
    inputDial_.reset();
    input_.reset();
    video_.stop();
    relayReply_.reset(false);
}

void SessionLinks::cancel() {
    thread_.check(__func__);
    if (control_) control_->cancel();
    if (relay_) relay_->cancel();
}

void SessionLinks::retireBoth() {
    if (control_) control_->retire();
    if (relay_) relay_->retire();
}

void SessionLinks::redialAfter(Duration delay, std::function<void()> redial) {
    const uint64_t g = gen_;
    redialTimer_ = clock_.after(delay, [this, g, redial = std::move(redial)] {
        if (gen_ != g) return;
        redial();
    });
}

// ---- sending ----------------------------------------------------------------------------------

void SessionLinks::send(wex::ByteView frame) {
    thread_.check(__func__);
    if (frame.empty()) return;
    StreamLink* link = isRelay_ ? relay_.get() : control_.get();
    if (link) link->send(frame);
}

void SessionLinks::sendInput(wex::ByteView frame) {
    thread_.check(__func__);
    if (isRelay_) {
        if (relay_) relay_->send(frame);
        return;
    }
    // A datagram to the agent's input port; a send error loses this batch only, like a lost datagram.
    if (input_) input_->write(reinterpret_cast<const char*>(frame.data()), static_cast<qint64>(frame.size()));
}

const StreamLink* SessionLinks::sessionLink() const {
    thread_.check(__func__);
    return isRelay_ ? relay_.get() : control_.get();
}

// ---- local network ----------------------------------------------------------------------------

void SessionLinks::startControl() {
    if (control_) control_->retire();
    const uint64_t g = ++gen_;
    host_.linkReplaced();
    control_.reset(new StreamLink(StreamLink::Options{}, lookups_, clock_));
    control_->onState = [this, g](StreamLink::State s, const QString&) { onControlState(g, s); };
    control_->onData = [this, g](wex::ByteView data) {
        if (gen_ != g) return;
        rxBytes_ += static_cast<int64_t>(data.size());
        host_.received(data);
    };
    control_->start(agentHost_, controlPort_);
}

void SessionLinks::waitForControl() {
    host_.setStatus(texts::statusWaiting);
    host_.markReconnecting();
    redialAfter(retryWhileWaiting, [this] { startControl(); });
}

void SessionLinks::onControlState(uint64_t g, StreamLink::State state) {
    if (gen_ != g) return;
    switch (state) {
    case StreamLink::State::ready: host_.linkReady(); break;
    case StreamLink::State::refused:
        if (!host_.controlRefused()) waitForControl();
        break;
    case StreamLink::State::waiting:
        if (!host_.controlUnanswered()) waitForControl();
        break;
    case StreamLink::State::failed:
    case StreamLink::State::cancelled:
        host_.setStatus(texts::statusReconnecting);
        host_.markReconnecting();
        redialAfter(retryAfterFailure, [this] { startControl(); });
        break;
    }
}

void SessionLinks::startInput() {
    inputDial_.reset();
    input_.reset(new QUdpSocket);
    // A datagram's failure is a lost datagram: nothing to report.
    inputDial_ = HostDial::make(
        lookups_, clock_, HostDial::usualTime, *input_,
        [s = input_.get(), port = config_.inputPort](const QHostAddress& a) { s->connectToHost(a, port); }, {});
    inputDial_->start(agentHost_);
}

void SessionLinks::videoDatagram(wex::ByteView datagram) {
    rxBytes_ += static_cast<int64_t>(datagram.size());
    host_.videoDatagram(datagram);
}

// ---- relay ------------------------------------------------------------------------------------

void SessionLinks::startRelay(const std::string& room) {
    if (relay_) relay_->retire();
    if (control_) control_->retire();
    control_.reset();
    const uint64_t g = ++gen_;
    host_.linkReplaced();
    relay_.reset(new StreamLink(StreamLink::Options{true, relayCas_, true}, lookups_, clock_));
    relayReply_.reset(!relayIdentity_.account.empty());
    StreamLink* link = relay_.get();
    relay_->onState = [this, g, room](StreamLink::State s, const QString& detail) { onRelayState(g, room, s, detail); };
    relay_->onData = [this, g, link](wex::ByteView data) { onRelayData(g, link, data); };
    relay_->start(relayIdentity_.host, relayIdentity_.port);
}

void SessionLinks::onRelayState(uint64_t g, const std::string& room, StreamLink::State state, const QString& detail) {
    if (gen_ != g) return;
    switch (state) {
    case StreamLink::State::ready: {
        const bool scoped = !relayIdentity_.account.empty();
        clientLog("relay TCP ready — register room=" + room +
                  " acct=" + (scoped ? relayIdentity_.account : std::string("(legacy)")) +
                  " scoped=" + (scoped ? "true" : "false"));
        const wex::Bytes preamble = scoped
                                        ? wex::RelayRegister::encodeV2(wex::RelayRole::client, relayIdentity_.account,
                                                                       room, relayIdentity_.token, {})
                                        : wex::RelayRegister::encode(wex::RelayRole::client, room);
        relay_->send(preamble);
        host_.linkReady();
        break;
    }
    case StreamLink::State::refused:
    case StreamLink::State::waiting:
        clientLog("relay .waiting — no agent spliced yet (retry 1.5s)");
        host_.setStatus(texts::statusReaching);
        host_.markReconnecting();
        redialAfter(retryWhileWaiting, [this, room] { startRelay(room); });
        break;
    case StreamLink::State::failed:
    case StreamLink::State::cancelled: {
        std::string text = StreamLink::stateName(state);
        if (state == StreamLink::State::failed && !detail.isEmpty()) text += "(" + detail.toStdString() + ")";
        clientLog("relay " + text + " (retry 1s)");
        host_.setStatus(texts::statusReconnecting);
        host_.markReconnecting();
        redialAfter(retryAfterFailure, [this, room] { startRelay(room); });
        break;
    }
    }
}

void SessionLinks::onRelayData(uint64_t g, StreamLink* link, wex::ByteView data) {
    if (gen_ != g) {
        link->stopReading();
        return;
    }
    rxBytes_ += static_cast<int64_t>(data.size());
    if (relayReply_.done()) {
        host_.received(data);
        return;
    }
    const RelayReplyReader::Outcome outcome = relayReply_.feed(data);
    if (outcome.redirect) {
        link->stopReading();
        applyRelayRedirect(*outcome.redirect);
    } else if (outcome.agentBytes && !outcome.agentBytes->empty()) {
        host_.received(*outcome.agentBytes);
    }
}

void SessionLinks::applyRelayRedirect(const std::string& text) {
    const auto target = wex::parseRelayRedirect(text);
    if (!target) {
        // Left open and unread: the handshake deadline ends the attempt.
        clientLog("relay redirect ignored — not host:port");
        return;
    }
    relayIdentity_.host = target->host;
    relayIdentity_.port = target->port;
    // The relay closes its end after a redirect. The old link is let go now, so that its close cannot
    // replace the re-dial below with the slower one that follows a failure.
    if (relay_) relay_->retire();
    host_.setStatus(texts::statusRedirect);
    const std::string room = relayRoom_;
    // Tied to this generation: a connect made meanwhile is not taken over by the old redirect.
    redialAfter(followRedirectAfter, [this, room] { startRelay(room); });
}

} // namespace dovrel::controller

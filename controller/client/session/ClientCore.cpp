#include "controller/client/session/ClientCore.h"

#include <utility>

#include <QHostInfo>
#include <QMetaObject>

#include "controller/client/audio/PulseAudioOutput.h"
#include "controller/client/session/ClientTexts.h"
#include "controller/client/session/Endpoints.h"
#include "controller/client/session/WEXClient.h"
#include "controller/platform/ClientLog.h"
#include "protocol/Cap.h"
#include "protocol/LogText.h"

namespace dovrel::controller {

using namespace std::chrono_literals;

namespace {
constexpr auto demoTick = 2s;

// The name sent in Hello: the computer's host name, or "device" when it has none.
std::string clientDeviceName() {
    static const std::string name = [] {
        const std::string host = QHostInfo::localHostName().toStdString();
        return host.empty() ? std::string("device") : host;
    }();
    return name;
}

QString qtext(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
} // namespace

ClientCore::ClientCore(WEXClient& owner, const ClientConfig& config, std::shared_ptr<ClientSecurity> security,
                       Scheduler& clock)
    : owner_(owner), context_(std::make_unique<QObject>()), config_(config), security_(std::move(security)),
      clock_(clock), deviceName_(config.deviceName.empty() ? clientDeviceName() : config.deviceName),
      links_(*this, config, clock), advertisedCaps_(wex::Cap::screenClient), watchdogs_(*this, clock),
      audio_(config.audioOutputs ? config.audioOutputs : pulseAudioOutputs()), dispatch_(*this, clock_),
      unpair_(*this, *security_, clock_) {
    VideoDecoder::Callbacks callbacks;
    // Both come on the decoder's thread.
    callbacks.keyframeNeeded = [this] {
        QMetaObject::invokeMethod(
            context_.get(), [this] { requestKeyframeSoon(); }, Qt::QueuedConnection);
    };
    callbacks.displayed = [this](const VideoPicture&) { onPictureDisplayed(); };
    callbacks.refused = [this](int width, int height) { onPicturesRefused(width, height); };
    decoder_ = std::make_unique<VideoDecoder>(std::move(callbacks));
}

ClientCore::~ClientCore() {
    // The decoder's thread calls back into this object: it stops first.
    decoder_.reset();
}

// ---- published state -------------------------------------------------------------------------

void ClientCore::post(std::function<void(WEXClient&)> fn) {
    WEXClient* client = &owner_;
    // Posted to the client object itself: if it is gone by then, Qt drops the call.
    QMetaObject::invokeMethod(
        client, [client, fn = std::move(fn)] { fn(*client); }, Qt::QueuedConnection);
}

void ClientCore::setPhase(Phase p) {
    clientLog("phase → " + wex::logText(p.describe()));
    phase_ = p;
    post([p = std::move(p)](WEXClient& c) { c.publishPhase(p); });
}

void ClientCore::setStatus(std::string_view text) {
    post([s = qtext(text)](WEXClient& c) { c.publishStatus(s); });
}

void ClientCore::onMainThread(std::function<void()> fn) {
    post([fn = std::move(fn)](WEXClient&) { fn(); });
}

void ClientCore::markReconnecting() {
    post([why = qtext(std::exchange(redialReason_, {}))](WEXClient& c) { c.publishReconnectingIfConnected(why); });
}

// ---- starting and ending sessions --------------------------------------------------------------

void ClientCore::beginAttempt(std::optional<std::string> code, bool forRevoke) {
    // Another connect ends an unpair that is still waiting for its machine.
    if (!forRevoke) unpair_.cancel(UnpairOutcome::interrupted);
    closeEveryLink();
    watchdogs_.begin();
    enteredCode_ = std::move(code);
    handshake_.restart();
    lanName_.clear();
    lanTriedFirst_.clear();
    sessionSeen_ = false;
    redialReason_.clear();
    stoppedLogged_ = false;
}

void ClientCore::whenIdentityKnown(std::function<void()> dial) {
    if (security_->hasIdentity()) {
        dial();
        return;
    }
    dialAwaitingIdentity_ = std::move(dial);
}

void ClientCore::identityKnown() {
    if (auto dial = std::exchange(dialAwaitingIdentity_, nullptr)) dial();
}

void ClientCore::connectLan(const std::string& hostText, const std::string& name, std::optional<std::string> code,
                            std::optional<RelayRoute> relay) {
    whenIdentityKnown([this, hostText, name, code, relay] { dialLan(hostText, name, code, relay, false); });
}

void ClientCore::dialLan(const std::string& hostText, const std::string& name, std::optional<std::string> code,
                         std::optional<RelayRoute> relay, bool forRevoke) {
    beginAttempt(std::move(code), forRevoke);
    const LanTarget target = parseLanTarget(hostText);
    lanName_ = name;
    setStatus(texts::statusConnecting);
    setPhase(Phase::of(PhaseKind::connecting));
    watchdogs_.armReach(target.host, false);
    links_.dialLan(target.host, target.port.value_or(config_.controlPort));
    if (!relay) return;
    lanFallback_ = std::move(relay);
    lanAnswerTimer_ = clock_.after(lanAnswerWindow, [this] {
        lanAnswerTimer_.reset();
        if (lanFallback_) fallBackToRelay();
    });
}

void ClientCore::fallBackToRelay() {
    RelayRoute route = std::move(*lanFallback_);
    const std::string host = links_.host();
    clientLog("local network: " + host + " did not answer — trying the relay");
    // An unpair goes on through the relay as the same unpair.
    const bool unpairing = unpair_.dialled();
    dialRelay(route.room, route.name, route.identity, enteredCode_, unpairing);
    if (unpairing) unpair_.redialled();
    lanTriedFirst_ = host;
}

bool ClientCore::controlRefused() {
    const std::string host = links_.host();
    if (sessionSeen_) {
        // A session of this attempt stood: its agent stopped, and may well start again, which is worth
        // waiting for; the window says meanwhile what it waits for.
        if (!std::exchange(stoppedLogged_, true))
            clientLog("local network: " + host + " refused the control connection — DOVRELÆ stopped there; trying on");
        redialReason_ = texts::stoppedRunning(lanName_, host);
        return false;
    }
    clientLog("local network: " + host + " refused the control connection — DOVRELÆ is not running there");
    // An unpair says so, not that the machine did not answer.
    unpairCannotTell("DOVRELÆ is not running at " + host, UnpairOutcome::refused);
    enteredCode_.reset();
    rejectAndHalt(texts::notRunning(lanName_, host), texts::statusNotRunning, RefusedPart::address);
    return true;
}

bool ClientCore::controlUnanswered() {
    if (!lanFallback_) return false;
    fallBackToRelay();
    return true;
}

void ClientCore::connectRelay(const std::string& room, const std::string& name, const wex::RelayIdentity& identity,
                              std::optional<std::string> code) {
    whenIdentityKnown([this, room, name, identity, code] { dialRelay(room, name, identity, code, false); });
}

void ClientCore::dialRelay(const std::string& room, const std::string& name, const wex::RelayIdentity& identity,
                           std::optional<std::string> code, bool forRevoke) {
    beginAttempt(std::move(code), forRevoke);
    setStatus(texts::statusConnecting);
    setPhase(Phase::of(PhaseKind::connecting));
    watchdogs_.armReach(name, true);
    links_.dialRelay(room, identity);
}

void ClientCore::revokePairing(const UnpairTarget& target, std::function<void(UnpairOutcome)> done) {
    whenIdentityKnown([this, target, done = std::move(done)]() mutable { unpair_.start(target, std::move(done)); });
}

uint64_t ClientCore::dialToUnpair(const std::string& room, const UnpairTarget& target) {
    // The way a connection to the machine goes: its host first, the relay behind it when it has one.
    if (!target.host.empty()) {
        std::optional<RelayRoute> fallback;
        if (target.relay) fallback = RelayRoute{room, target.name, *target.relay};
        dialLan(target.host, target.name, std::nullopt, std::move(fallback), true);
    } else {
        // The WEXClient names a relay whenever there is no host.
        dialRelay(room, target.name, target.relay.value_or(wex::RelayIdentity{}), std::nullopt, true);
    }
    return watchdogs_.attempt();
}

void ClientCore::unpairCannotTell(std::string_view why, UnpairOutcome outcome) {
    const uint64_t attempt = watchdogs_.attempt();
    if (!unpair_.dialled()) return;
    clientLog("unpair: " + std::string(why) + " — forgotten here only");
    unpair_.cancel(outcome);
    // As a step of its own: the link that reported this is still unwinding.
    QMetaObject::invokeMethod(
        context_.get(),
        [this, attempt] {
            if (watchdogs_.attempt() == attempt) disconnect();
        },
        Qt::QueuedConnection);
}

void ClientCore::disconnect() {
    dialAwaitingIdentity_ = nullptr;
    closeEveryLink();
    audio_.stop();
    decoder_->reset();
    firstPictureWanted_ = true;
    pictureRefused_ = false;
    linkTooSlowShown_ = false;
    post([](WEXClient& c) {
        emit c.sessionEnded();
        c.publishPictureRefusal({});
        c.publishLinkTooSlow(false);
        c.publishReconnecting(false);
        c.publishFps(0);
        c.publishHasFirstFrame(false);
    });
    setPhase(Phase::of(PhaseKind::disconnected));
    setStatus(texts::statusIdle);
}

void ClientCore::cancelPairing() {
    // Leaves an established session alone: there is no pairing to cancel then.
    if (session_ && phase_.kind == PhaseKind::connected) return;
    enteredCode_.reset();
    haltReconnect();
    watchdogs_.stopHandshake();
    setPhase(Phase::of(PhaseKind::disconnected));
    setStatus(texts::statusIdle);
}

void ClientCore::startDemo() {
    phase_ = Phase::of(PhaseKind::connected);
    demoTicks_ = 0;
    // Stored as the ping timer, so that halting or disconnecting stops the demo's numbers too.
    pingTimer_ = clock_.every(demoTick, demoTick, [this] {
        static constexpr int latencies[] = {22, 24, 19, 27, 21, 23};
        ++demoTicks_;
        post([ms = latencies[demoTicks_ % 6]](WEXClient& c) {
            c.publishLatencyMs(ms);
            c.publishFps(60);
        });
    });
}

void ClientCore::endedByAgent(std::string_view text) {
    clientLog("← bye: " + std::string(text));
    haltReconnect();
    dropSession();
    audio_.stop();
    post([](WEXClient& c) {
        c.publishReconnecting(false);
        c.publishFps(0);
    });
    setPhase(Phase::rejected(std::string(text)));
    setStatus(texts::statusSessionEnded);
}

void ClientCore::dropSession() {
    endInputSession();
    session_.reset();
    // Frame identifiers start again with the next session: nothing pending from this one may linger.
    reasm_.clear();
    handshake_.forgetAgreement();
}

void ClientCore::closeEveryLink() {
    // A new connection leaves nothing of the previous one open: LAN links and relay alike. A session
    // that ends this way is closed politely, as by disconnect().
    if (session_) sendControlSecure({}, wex::ControlType::bye);
    links_.closeAll();
    // Nor the relay that was to stand in for a host that has not answered yet.
    lanFallback_.reset();
    lanAnswerTimer_.reset();
    watchdogs_.stopReach();
    watchdogs_.stopHandshake();
    pingTimer_.reset();
    dropSession();
    handshake_.forgetEphemeralKey();
    rx_.clear();
}

void ClientCore::haltReconnect() {
    links_.halt();
    pingTimer_.reset();
    watchdogs_.stopReach();
}

void ClientCore::rejectAndHalt(const std::string& message, std::optional<std::string_view> status, RefusedPart part) {
    // A refusal ends the attempt: no re-dial, and no later time-out text replaces this one.
    haltReconnect();
    watchdogs_.stopHandshake();
    if (status) setStatus(*status);
    setPhase(Phase::rejected(message, part));
    unpairCannotTell("the attempt was refused or gave up");
}

void ClientCore::soon(std::function<void()> fn) {
    const uint64_t g = links_.generation();
    QMetaObject::invokeMethod(
        context_.get(),
        [this, g, fn = std::move(fn)] {
            if (links_.generation() == g) fn();
        },
        Qt::QueuedConnection);
}

// ---- what the links ask ----------------------------------------------------------------------

void ClientCore::linkReady() {
    // Something takes the connection again: whatever kept it from doing so is over.
    post([](WEXClient& c) { c.publishReconnectReason({}); });
    stoppedLogged_ = false;
    if (!links_.isRelay()) {
        watchdogs_.reached();
        // The host answered: this is the way, whatever follows.
        lanFallback_.reset();
        lanAnswerTimer_.reset();
        setStatus(texts::statusHandshaking);
    }
    sendHello();
}

void ClientCore::videoPortUnavailable(uint16_t port) {
    clientLog("video port " + std::to_string(port) + " is held by another program — giving up");
    // A refusal already shown says what ended the attempt; this one would only replace it.
    if (phase_.kind == PhaseKind::rejected) return;
    // Without the port no picture can arrive: the session ends, saying why, rather than wait forever.
    closeEveryLink();
    audio_.stop();
    post([](WEXClient& c) {
        c.publishReconnecting(false);
        c.publishFps(0);
    });
    setStatus(texts::statusVideoPortTaken);
    setPhase(Phase::rejected(texts::videoPortTaken(port)));
}

void ClientCore::linkReplaced() {
    dropSession();
    rx_.clear();
}

// ---- watchdogs --------------------------------------------------------------------------------

void ClientCore::unreachable(const std::string& name, bool relay) {
    links_.halt();
    if (relay && !lanTriedFirst_.empty())
        setPhase(Phase::rejected(texts::unreachableEitherWay(name, lanTriedFirst_), RefusedPart::address));
    else
        setPhase(Phase::rejected(relay ? texts::unreachableThroughRelay(name) : texts::unreachableOnLan(name),
                                 RefusedPart::address));
}

void ClientCore::handshakeOverdue() {
    if (session_) return;
    if (phase_.kind == PhaseKind::needsCode || phase_.kind == PhaseKind::rejected) return;
    rejectAndHalt(texts::handshakeStalled(handshakeStage()), texts::statusHandshakeTimedOut(handshakeStage()));
}

} // namespace dovrel::controller

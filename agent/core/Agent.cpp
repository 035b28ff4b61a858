#include "agent/core/Agent.h"

#include <cstdlib>
#include <stdexcept>

#include <QMetaObject>
#include <QPointer>
#include <QString>

#include <unistd.h>

#include "agent/common/AgentLog.h"
#include "agent/common/HostInfo.h"
#include "agent/core/PairingLink.h"
#include "protocol/ControlMessages.h"
#include "protocol/Hex.h"

namespace dovrel::agent {

namespace {

// The clipboard files' way to the controller: the transport's control stream and its backlog.
class TransportControllerLink final : public ControllerLink {
public:
    explicit TransportControllerLink(AgentTransport& transport) : transport_(transport) {}
    void send(wex::ControlType type, wex::Bytes payload) override { transport_.sendControl(std::move(payload), type); }
    std::size_t backlog() const override { return transport_.controlBacklog(); }

private:
    AgentTransport& transport_;
};

// The transport is used while the agent's members are made: without one, construction stops at once.
std::unique_ptr<AgentTransport> requiredTransport(std::unique_ptr<AgentTransport> transport) {
    if (!transport) throw std::invalid_argument("Agent needs a transport");
    return transport;
}

} // namespace

Agent::Agent(AgentServices services, AgentSettings settings)
    : onTerminal_(::isatty(STDOUT_FILENO) == 1), settings_(std::move(settings)),
      mainContext_(std::make_unique<QObject>()), relayConfig_(settings_.configDirectory),
      transport_(requiredTransport(std::move(services.transport))), regionProbe_(std::move(services.regions)),
      pairing_(std::move(services.localAddress)), accounts_(std::move(services.accounts)),
      injector_(std::move(services.injector)), security_(settings_.stateDirectory),
      session_(makeSessionServices(services)), desktop_(std::move(services.desktop)), power_(std::move(services.power)),
      wakeRequests_(*transport_, std::move(services.wakeEmitter), std::move(services.lanInterfaces),
                    transport_->scheduler()),
      quiet_(transport_->scheduler(),
             [this] {
                 print("• controller quiet for " + std::to_string(QuietController::after.count()) +
                       "s — letting go of held keys and buttons");
                 injector_->releaseHeld();
             }),
      media_(std::move(services.pipeline), transport_->scheduler()) {
    if (!regionProbe_.ready() || !pairing_.ready())
        throw std::invalid_argument("Agent needs a region race and the local addresses");
    if (!injector_ || !session_.complete() || !wakeRequests_.canSend() || !desktop_ || !accounts_.ready())
        throw std::invalid_argument("Agent needs an injector, clipboard, file receiver, clipboard files, wake "
                                    "emitter, desktop session and account work");
    media_.attach(pipelineHost());
}

SessionServices Agent::makeSessionServices(AgentServices& services) {
    auto clipboard = services.clipboard ? services.clipboard([t = transport_.get()](const std::string& text) {
        t->sendControl(wex::Clipboard(0, text).encode(), wex::ControlType::clipboard);
    })
                                        : nullptr;
    auto clipFiles =
        services.clipFiles ? services.clipFiles(std::make_shared<TransportControllerLink>(*transport_)) : nullptr;
    if (!services.fileRx) return SessionServices(std::move(clipboard), nullptr, std::move(clipFiles));
    // Progress arrives on the main thread, possibly after the agent is gone (the receiver's reports
    // outlive it): the context tells.
    auto progress = [this, context = QPointer<QObject>(mainContext_.get())](const std::string& text, double fraction) {
        if (context) onMain([this, text, fraction] { observer_->fileProgress(text, fraction); });
    };
    // On the receiver's queue, which the agent stops before its transport.
    auto refusal = [t = transport_.get()](const wex::ErrorMsg& error) {
        t->sendControl(error.encode(), wex::ControlType::error);
    };
    return SessionServices(std::move(clipboard), services.fileRx(std::move(progress), std::move(refusal)),
                           std::move(clipFiles));
}

PipelineHost Agent::pipelineHost() {
    AgentTransport* t = transport_.get();
    PipelineHost host;
    host.sendTarget = [t] { return t->sendTarget(); };
    host.streaming = [media = &media_] { return media->streaming(); };
    host.sendControl = [t](wex::Bytes payload, wex::ControlType type) { t->sendControl(std::move(payload), type); };
    host.sendRelayMedia = [](const SendTarget& target, wex::Bytes frame, bool isVideo) {
        return target.send(std::move(frame), isVideo);
    };
    host.dropClient = [t] { t->dropClient(); };
    host.controlLink = [t] { return t->controlLink(); };
    // The injector is the transport queue's; the area joins the input there.
    host.streamedArea = [this, t](const StreamedArea& area) {
        t->queue().post([this, area] { injector_->setStreamedArea(area); });
    };
    host.restingChanged = [this, t](bool resting) {
        // What was held before the rest is not held after it.
        if (!resting) t->queue().post([this] { injector_->releaseHeld(); });
        onMain([this, resting] { observer_->restingChanged(resting); });
    };
    host.videoReport = [this](int fps, const std::string& path) {
        onMain([this, fps, path] { observer_->videoReport(fps, path); });
    };
    return host;
}

Agent::~Agent() {
    // The probe ends within its time-out; it must not re-point a transport that is going away.
    regionProbe_.stop();
    accounts_.stop();
    // Nothing of the agent may run on "dovrel.net" once its members start to go.
    transport_->setCallbacks({});
    transport_->queue().sync([this] {
        stopping_ = true;
        refusal_.cancel();
        strangerLines_.stop();
        refusalLines_.stop();
        quiet_.stop();
        media_.cancelTimers();
    });
    // The pipeline's threads read the transport; they stop first. So do the file receiver's queue and
    // the clipboard files' reader.
    media_.stopPipeline();
    session_.release();
    // A lock under way answers through the transport: the desktop's thread stops before it goes (the
    // injector shares the desktop, and the pipeline, which hands the injector its area, has stopped).
    injector_.reset();
    desktop_.reset();
    transport_.reset();
}

void Agent::startAccounts() {
    AgentAccountHost::Hooks hooks;
    hooks.rotatePairingCode = [this] { showCodeOnTerminal(security_.rotatePairingCode()); };
    hooks.onMain = [this](std::function<void()> fn) { onMain(std::move(fn)); };
    hooks.refreshPairingURL = [this] { refreshPairingURL(); };
    hooks.pairingLink = [this] { return pairing_.link(); };
    hooks.shared = [this](const std::string& link, std::chrono::seconds lifetime) {
        transport_->queue().post([this, code = pairingCodeOfLink(link), lifetime] {
            // A link without a code holds none, and still replaces the earlier share's.
            if (code.empty())
                codeWindow_.sharesWithdrawn();
            else
                codeWindow_.shared(code, clock().now() + lifetime);
        });
    };
    hooks.sharesWithdrawn = [this] { transport_->queue().post([this] { codeWindow_.sharesWithdrawn(); }); };
    accounts_.start(*transport_, *observer_, deviceId(), std::move(hooks), relayConfig_);
}

// Before run() there is no account work: a command then does nothing, as there is no window yet.
void Agent::newGrant(double ttlHours) {
    if (AccountWork* work = accounts_.work()) work->mintGrant(ttlHours);
}
void Agent::cancelAllAccess() {
    if (AccountWork* work = accounts_.work()) work->cancelAllAccess();
}
void Agent::createShareCode() { requestShareCode(false); }
void Agent::requestShareCode(bool force) {
    // Signed out there is no code to be had: the window shows its signed-out text, not a failure.
    if (transport_->relayIdentity().account.empty()) return;
    if (AccountWork* work = accounts_.work()) work->createShareCode(force);
}
void Agent::signIn(const std::string& account, const std::string& password, bool create, const std::string& invite) {
    if (AccountWork* work = accounts_.work()) work->signIn(account, password, create, invite);
}
void Agent::signOut() {
    if (AccountWork* work = accounts_.work()) work->signOut();
}

void Agent::disconnectSession() {
    print("• session disconnected from this computer");
    transport_->queue().post([this] {
        injector_->releaseAll();
        transport_->dropClient();
    });
}

void Agent::pairingCodeShown(bool shown) {
    transport_->queue().post([this, shown] { codeWindow_.setShown(shown, clock().now()); });
}

void Agent::newPairingCode() {
    transport_->queue().post([this] {
        const bool wasPaused = codePause_.paused();
        codePause_.resume();
        rotatePairingCode(std::string("• pairing code renewed from the window - the old one is dead") +
                          (wasPaused ? "; pairing by code goes on" : ""));
        if (wasPaused) onMain([this] { observer_->codePairingPaused(false, {}); });
    });
}

void Agent::showCodeOnTerminal(const std::string& code) {
    if (!onTerminal_) return;
    print("• PAIRING CODE: " + code + "   (type it in DOVRELÆ on the other computer to pair it)");
    transport_->queue().post([this] { codeWindow_.shownOnce(clock().now()); });
}

void Agent::onMain(std::function<void()> fn) {
    QMetaObject::invokeMethod(mainContext_.get(), std::move(fn), Qt::QueuedConnection);
}

std::string Agent::fingerprint(wex::ByteView key) const {
    return wex::hexed(key.first(std::min<std::size_t>(8, key.size()))) + "…";
}

void Agent::run(AgentObserver& observer) {
    observer_ = &observer;
    if (power_) power_->hold();

    transport_->setCallbacks({
        [this] { sessionEnded(); },
        [this](const std::string& host) { clientConnected(host); },
        [this](const wex::CommonHeader& header, wex::Bytes payload) { handleControl(header, payload); },
        [this](const wex::InputBatch& batch) { handleInput(batch); },
        [this] { media_.repairPicture(); },
    });

    const wex::RelayIdentity relay = relayConfig_.load();
    transport_->setRelayIdentity(relay);
    const auto& publicKey = security_.identity().publicKey();
    pairing_.setDevice({settings_.deviceName.empty() ? hostDisplayName() : settings_.deviceName,
                        wex::deviceIdOfKey(publicKey), relayConfig_.settings().lanEnabled});
    const PairingPublisher::Device& device = pairing_.device();
    // Counted before the listeners open: afterwards the list belongs to "dovrel.net".
    const std::size_t pairedCount = security_.pairedPubs().size();

    transport_->start(device.name, device.id, device.lanEnabled);

    transport_->setRelayCredentials(wex::Bytes(publicKey.begin(), publicKey.end()),
                                    [this](wex::ByteView challenge) { return security_.identity().sign(challenge); });
    if (!relay.account.empty())
        print("• relay account: " + relay.account + " @ " + relay.host + ":" + std::to_string(relay.port));
    else
        print("• relay account: (none) — legacy shared namespace; sign in to get your own");

    startAccounts();
    const RelayConfig::Settings config = relayConfig_.settings();
    // The relay link keeps serving while the regions race; once it has moved to the winner, the pairing
    // link is rebuilt to name the new relay.
    if (!config.hostPinned && config.regions.size() >= 2)
        regionProbe_.start(config.regions, [this](const RelayEndpoint& nearest) {
            transport_->repointRelay(nearest, [this] { onMain([this] { refreshPairingURL(); }); });
        });

    onMain([this, account = relay.account] { observer_->relayAccountChanged(account); });

    transport_->startRelay(device.id);

    if (device.lanEnabled)
        print("Dovrel agent up: relay + LAN (CONTROL tcp/" + std::to_string(transport_->controlPort()) +
              ", INPUT udp/" + std::to_string(transport_->inputPort()) + ").");
    else
        print("Dovrel agent up: RELAY ONLY — reachable from any network, no inbound ports open.");
    print("• identity " + fingerprint(publicKey) + "  paired devices: " + std::to_string(pairedCount));

    const std::string code = pairingCode();
    if (onTerminal_)
        showCodeOnTerminal(code);
    else
        print("• pairing code ready - shown in the agent window, deliberately not written to this log");

    if (const std::string why = injector_->unavailableReason(); why.empty()) {
        // The start-up line about the desktop has already named the way input goes (XTEST, or GNOME).
        print("• input reaches the desktop — full input control ENABLED (mouse + keyboard)");
    } else {
        print("• input control NOT available (" + why + ") — a controller can VIEW but not CONTROL. Run the");
        print("  agent inside the desktop session it serves (X11 with XTEST, or GNOME on Wayland), then relaunch.");
    }

    const wex::RelayIdentity linked = transport_->relayIdentity();
    PairingPublisher::Published first = pairing_.build(code, linked, grantQuery(linked));
    // The link carries the pairing code, which never goes into the log.
    const std::string logged =
        "• LAN IP " + first.lanIP + "  MAC " + first.mac + " — QR/pair URL: " + redactPairingLink(first.link);
    onMain([this, code, first = std::move(first), linked] {
        pairing_.publish(first);
        const PairingPublisher::Device& who = pairing_.device();
        observer_->started({code, first.lanIP, first.mac, who.name, who.id, first.link});
        // A region probe that moved the relay link before the model was filled could not refresh the
        // link then: it is brought up to date now.
        const wex::RelayIdentity now = transport_->relayIdentity();
        if (now.host != linked.host || now.port != linked.port) refreshPairingURL();
        // Only now: the share code it asks for carries the link, which did not exist before this.
        accounts_.work()->ensureGrant();
    });
    print(logged);
    onMain([this] { observer_->sessionChanged(SessionPhase::waiting, {}); });

    media_.start();
}

void Agent::refreshPairingURL() {
    if (!pairing_.published()) return;
    const std::string code = pairingCode();
    const wex::RelayIdentity relay = transport_->relayIdentity();
    const std::string link = pairing_.rebuild(code, relay, grantQuery(relay));
    observer_->pairingLinkChanged(code, link);
    print("• QR refreshed: " + redactPairingLink(link));
}

std::string Agent::grantQuery(const wex::RelayIdentity&) const {
    // The account service pairs the grant with the account it was minted for.
    return accounts_.work() ? accounts_.work()->relayGrantQuery() : std::string();
}

// ---- transport callbacks

void Agent::sessionEnded() {
    transport_->queue().assertCurrent(__func__);
    injector_->releaseAll();
    quiet_.stop();
    handshake_.endHandshake();
    session_.stop();
    media_.sessionEnded();
    onMain([this] { observer_->sessionChanged(SessionPhase::waiting, {}); });
}

void Agent::clientConnected(const std::string& host) {
    peerHost_ = host;
    strangerLines_.print("• TCP from " + host + " — awaiting handshake");
    onMain([this] { observer_->sessionChanged(SessionPhase::connecting, {}); });
}

void Agent::handleInput(const wex::InputBatch& batch) {
    transport_->queue().assertCurrent(__func__);
    quiet_.heard();
    for (const auto& entry : batch.events)
        injector_->apply(entry.event);
}

} // namespace dovrel::agent

#include "controller/client/session/WEXClient.h"

#include <QMetaObject>
#include <QVariantMap>

#include "controller/client/session/ClientCore.h"
#include "controller/client/session/Endpoints.h"
#include "controller/platform/KeychainSecretStore.h"
#include "controller/platform/SecretsThread.h"
#include "controller/platform/UserDefaults.h"
#include "runtime/Scheduler.h"

namespace dovrel::controller {

namespace {
std::optional<std::string> codeArgument(const std::string& code) {
    if (code.empty()) return std::nullopt;
    return code;
}

std::shared_ptr<UserDefaults> securityDefaults(const ClientConfig& config) {
    return std::make_shared<UserDefaults>(
        config.settingsPath.empty() ? UserDefaults::defaultPath() : config.settingsPath, config.arguments);
}

std::shared_ptr<SecretsThread> secretsOf(const ClientConfig& config) {
    if (config.secretsThread) return config.secretsThread;
    return std::make_shared<SecretsThread>(config.secrets ? config.secrets : makeSystemSecretStore());
}
} // namespace

WEXClient::WEXClient(ClientConfig config, std::shared_ptr<const StoredRelayAccount> relayAccount, QObject* parent)
    : QObject(parent), config_(std::move(config)), relayAccount_(std::move(relayAccount)),
      security_(std::make_shared<ClientSecurity>(securityDefaults(config_))), secrets_(secretsOf(config_)),
      queue_(std::make_unique<SerialQueue>("dovrel.client")) {
    Scheduler& clock = config_.scheduler ? *config_.scheduler : realScheduler();
    queue_->sync([&] {
        core_ = std::make_unique<ClientCore>(*this, config_, security_, clock);
        decoder_ = &core_->decoder();
    });
    // The identity is read off this thread: a keychain waiting for its unlock prompt holds up no
    // window. Dials asked for meanwhile wait in the core.
    secrets_->ask<std::optional<std::string>>(
        [security = security_](SecretStore& store) {
            ClientSecurity::IdentityLoad loaded = ClientSecurity::loadIdentity(security->defaults(), store);
            auto unreadable = loaded.unreadable;
            security->setIdentity(std::move(loaded));
            return unreadable;
        },
        this,
        [this](std::optional<std::string> unreadable) {
            postToCore([](ClientCore& c) { c.identityKnown(); });
            if (!unreadable) return;
            identityProblem_ = QString::fromStdString(*unreadable);
            emit identityProblemChanged();
        });
}

WEXClient::~WEXClient() {
    // The core's sockets and timers belong to the client thread: they go there, before the thread.
    queue_->sync([&] { core_.reset(); });
    queue_.reset();
}

void WEXClient::postToCore(std::function<void(ClientCore&)> fn) {
    ClientCore* core = core_.get();
    queue_->post([core, fn = std::move(fn)] { fn(*core); });
}

void WEXClient::runOnClientThread(const std::function<void(ClientCore&)>& fn) {
    queue_->sync([&] { fn(*core_); });
}

void WEXClient::connectToHost(const QString& host, const QString& code) {
    connectToMachine(host, {}, std::nullopt, code);
}

void WEXClient::connectToMachine(const QString& host, const QString& name, const std::optional<RelayDial>& relay,
                                 const QString& code) {
    emit sessionEnding();
    std::optional<RelayRoute> route;
    if (relay)
        route = RelayRoute{relay->room, relay->name, relayIdentityFor(relay->account, relay->token, relay->relay)};
    postToCore([host = host.toStdString(), name = name.toStdString(), code = codeArgument(code.toStdString()),
                route = std::move(route)](ClientCore& c) mutable { c.connectLan(host, name, code, std::move(route)); });
}

wex::RelayIdentity WEXClient::relayIdentityFor(const std::optional<std::string>& account,
                                               const std::optional<std::string>& token,
                                               const std::optional<std::string>& relay) const {
    // The stored relay account is read here, on the main thread, like every other keychain read.
    std::optional<wex::RelayIdentity> stored;
    if (!(account && token && !account->empty() && !token->empty())) stored = relayAccount_->storedRelayIdentity();
    return chooseRelayIdentity(account, token, relay, stored, config_.defaultRelayHost, config_.defaultRelayPort);
}

void WEXClient::connectViaRelay(const RelayDial& dial, const std::string& code) {
    emit sessionEnding();
    const wex::RelayIdentity identity = relayIdentityFor(dial.account, dial.token, dial.relay);
    postToCore([room = dial.room, name = dial.name, identity, code = codeArgument(code)](ClientCore& c) {
        c.connectRelay(room, name, identity, code);
    });
}

void WEXClient::connectViaRelay(const QString& room, const QString& name, const QString& code) {
    connectViaRelay(RelayDial{room.toStdString(), name.toStdString(), {}, {}, {}}, code.toStdString());
}

void WEXClient::disconnectSession() {
    emit sessionEnding();
    postToCore([](ClientCore& c) { c.disconnect(); });
}

void WEXClient::disconnectSessionNow() {
    queue_->sync([this] { core_->disconnect(); });
}

void WEXClient::cancelPairing() {
    postToCore([](ClientCore& c) { c.cancelPairing(); });
}

void WEXClient::revokePairing(const std::string& deviceId, const std::string& host, const std::string& name,
                              const std::optional<RelayDial>& relay, std::function<void(UnpairOutcome)> done) {
    if (deviceId.empty()) return;
    UnpairTarget target{deviceId, host, name, std::nullopt};
    // Without a host the relay is the only way, with whatever credentials there are.
    if (relay || host.empty())
        target.relay = relay ? relayIdentityFor(relay->account, relay->token, relay->relay)
                             : relayIdentityFor(std::nullopt, std::nullopt, std::nullopt);
    postToCore([target = std::move(target), done = std::move(done)](ClientCore& c) mutable {
        c.revokePairing(target, std::move(done));
    });
}

void WEXClient::startDemo() {
    publishRemoteSize(QSizeF(1470, 956));
    publishPhase(Phase::of(PhaseKind::connected));
    publishLatencyMs(22);
    publishFps(60);
    publishStatus(QStringLiteral("demo · encrypted"));
    postToCore([](ClientCore& c) { c.startDemo(); });
}

void WEXClient::sendInputPayload(uint64_t session, wex::Bytes payload) {
    if (session == 0 || session != inputSession_.load()) return;
    postToCore([session, payload = std::move(payload)](ClientCore& c) { c.sendInput(session, payload); });
}

void WEXClient::sendSessionCommand(uint64_t session, wex::SessionCmd command) {
    if (session == 0 || session != inputSession_.load()) return;
    postToCore([session, command](ClientCore& c) { c.sendSessionCommand(session, command); });
}

void WEXClient::switchDisplay(int index) {
    if (index < 0 || index > 255) return;
    if (index != streamingDisplay_) {
        streamingDisplay_ = index;
        emit streamingDisplayChanged();
    }
    postToCore([display = static_cast<uint8_t>(index)](ClientCore& c) {
        c.sendControlSecure(wex::StreamStart{0, display}.encode(), wex::ControlType::streamStart);
    });
}

QSizeF WEXClient::remoteBounds() const {
    return QSizeF(remoteSize_.width() > 0 ? remoteSize_.width() : 1280,
                  remoteSize_.height() > 0 ? remoteSize_.height() : 720);
}

void WEXClient::attachVideoSurface(const std::shared_ptr<VideoSurface>& surface) { decoder_->setSurface(surface); }

uint64_t WEXClient::displayedFrames() const { return decoder_->displayed(); }

std::optional<int64_t> WEXClient::agentClockOffsetUs() const { return core_->agentClock().offsetUs(); }

std::optional<int64_t> WEXClient::pictureAgeUs(uint32_t ptsUs, Instant now) const {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
    return core_->agentClock().ageUs(ptsUs, us);
}

void WEXClient::toggleAudio() {
    audioMuted_ = !audioMuted_;
    emit audioMutedChanged();
    postToCore([muted = audioMuted_](ClientCore& c) { c.setAudioMuted(muted); });
}

QVariantList WEXClient::displaysForView() const {
    QVariantList out;
    for (const auto& d : displays_) {
        QVariantMap m;
        m["displayId"] = d.displayId;
        m["width"] = d.width;
        m["height"] = d.height;
        m["originX"] = d.originX;
        m["originY"] = d.originY;
        m["primary"] = d.flags.contains(wex::DisplayFlag::primary);
        m["streaming"] = d.flags.contains(wex::DisplayFlag::streaming);
        m["name"] = QString::fromStdString(d.name);
        out.push_back(m);
    }
    return out;
}

QVariant WEXClient::deckStatForView() const {
    if (!deckStat_) return {};
    QVariantMap m;
    m["cpu"] = deckStat_->cpu;
    m["ram"] = deckStat_->ram;
    m["battery"] = deckStat_->battery;
    m["flags"] = deckStat_->flags;
    return m;
}

QVariant WEXClient::fileProgressForView() const { return fileProgress_ ? QVariant(*fileProgress_) : QVariant(); }

QVariant WEXClient::lastAgentErrorForView() const {
    return lastAgentError_ ? QVariant(QString::fromStdString(*lastAgentError_)) : QVariant();
}

void WEXClient::setTargetKind(const QString& kind) {
    if (kind == targetKind_) return;
    targetKind_ = kind;
    emit targetKindChanged();
}

void WEXClient::publishSessionWay(bool viaRelay, int videoPort) {
    if (viaRelay == sessionViaRelay_ && videoPort == videoPort_) return;
    sessionViaRelay_ = viaRelay;
    videoPort_ = videoPort;
    emit sessionWayChanged();
}

void WEXClient::publishStatus(const QString& s) {
    if (s == status_) return;
    status_ = s;
    emit statusChanged();
}

void WEXClient::publishPhase(const Phase& p) {
    // Published even when equal: a second `rejected` with the same text is a new refusal.
    phase_ = p;
    emit phaseChanged();
    // A re-dial that ends in a refusal, a request for the code or a disconnect is no longer reconnecting:
    // what it ended in is what the window shows.
    if (p.kind == PhaseKind::rejected || p.kind == PhaseKind::needsCode || p.kind == PhaseKind::disconnected)
        publishReconnecting(false);
}

void WEXClient::publishReconnecting(bool on) {
    // A reason is only ever set while reconnecting, and goes with it.
    if (on == reconnecting_) return;
    reconnecting_ = on;
    if (!on) reconnectReason_.clear();
    emit reconnectingChanged();
}

void WEXClient::publishReconnectingIfConnected(const QString& reason) {
    // A re-dial that got as far as a handshake has left the connected phase: it is still the session's.
    if (phase_.kind != PhaseKind::connected && !reconnecting_) return;
    if (reconnecting_ && reason == reconnectReason_) return;
    reconnecting_ = true;
    reconnectReason_ = reason;
    emit reconnectingChanged();
}

void WEXClient::publishReconnectReason(const QString& reason) {
    if (!reconnecting_ || reason == reconnectReason_) return;
    reconnectReason_ = reason;
    emit reconnectingChanged();
}

void WEXClient::publishFps(int fps) {
    if (fps == fps_) return;
    fps_ = fps;
    emit fpsChanged();
}

void WEXClient::publishLatencyMs(int ms) {
    if (ms == latencyMs_) return;
    latencyMs_ = ms;
    emit latencyMsChanged();
}

void WEXClient::publishHasFirstFrame(bool on) {
    if (on == hasFirstFrame_) return;
    hasFirstFrame_ = on;
    emit hasFirstFrameChanged();
}

void WEXClient::publishRemoteSize(const QSizeF& size) {
    if (size == remoteSize_) return;
    remoteSize_ = size;
    emit remoteSizeChanged();
}

void WEXClient::publishDisplays(const std::vector<wex::DisplayInfo>& displays, int streaming) {
    displays_ = displays;
    emit displaysChanged();
    if (streaming != streamingDisplay_) {
        streamingDisplay_ = streaming;
        emit streamingDisplayChanged();
    }
}

void WEXClient::publishDeckStat(const wex::DeckStat& stat) {
    deckStat_ = stat;
    emit deckStatChanged();
}

void WEXClient::publishAgentError(const std::string& text) {
    // A file being sent is no longer shown as in progress.
    if (fileProgress_) {
        fileProgress_.reset();
        emit fileProgressChanged();
    }
    lastAgentError_ = text;
    emit lastAgentErrorChanged();
}

void WEXClient::clearLastAgentError() {
    if (!lastAgentError_) return;
    lastAgentError_.reset();
    emit lastAgentErrorChanged();
}

void WEXClient::publishAgentDeviceId(const QString& id) {
    if (id == agentDeviceId_) return;
    agentDeviceId_ = id;
    emit agentDeviceIdChanged();
}

void WEXClient::publishPictureRefusal(const QString& text) {
    if (text == pictureRefusal_) return;
    pictureRefusal_ = text;
    emit pictureRefusalChanged();
}

void WEXClient::publishLinkTooSlow(bool on) {
    if (on == linkTooSlow_) return;
    linkTooSlow_ = on;
    emit linkTooSlowChanged();
}

void WEXClient::sendControl(wex::ControlType type, wex::Bytes payload) {
    postToCore([type, payload = std::move(payload)](ClientCore& c) { c.sendControlSecure(payload, type); });
}

void WEXClient::currentSession(std::function<void(SessionRef)> reply) {
    postToCore([reply = std::move(reply)](ClientCore& c) { reply(c.sessionRef()); });
}

void WEXClient::sendInSession(SessionRef session, wex::ControlType type, wex::Bytes payload,
                              std::function<void(bool sent)> done) {
    postToCore([session = std::move(session), type, payload = std::move(payload), done = std::move(done)](
                   ClientCore& c) mutable { c.sendInSession(session, type, payload, std::move(done)); });
}

void WEXClient::showFileProgress(std::optional<double> progress) {
    if (progress == fileProgress_) return;
    fileProgress_ = progress;
    emit fileProgressChanged();
}

void WEXClient::showFileSent(const std::string& name) { emit fileSent(QString::fromStdString(name)); }

void WEXClient::showFileFailure(const std::string& text) {
    showFileProgress(std::nullopt);
    lastAgentError_ = text;
    emit lastAgentErrorChanged();
}

} // namespace dovrel::controller

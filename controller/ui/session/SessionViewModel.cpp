#include "controller/ui/session/SessionViewModel.h"

#include <algorithm>

#include <QDir>

#include "controller/ui/session/VideoSurfaceItem.h"

namespace dovrel::controller {

LoadingState loadingStateFor(PhaseKind phase, const QString& rejection, bool reconnecting, const QString& deviceName) {
    if (reconnecting) return {0.45, QObject::tr("Reconnecting…"), {}};
    switch (phase) {
    case PhaseKind::disconnected: return {0.08, QObject::tr("Starting…"), {}};
    case PhaseKind::connecting: {
        // Blanks and tabs only: a name is one line.
        qsizetype from = 0, to = deviceName.size();
        const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
        while (from < to && blank(deviceName.at(from)))
            ++from;
        while (to > from && blank(deviceName.at(to - 1)))
            --to;
        const QString name = from < to ? deviceName.mid(from, to - from) : QStringLiteral("that computer");
        return {0.30, QObject::tr("Reaching %1…").arg(name), {}};
    }
    case PhaseKind::needsCode: return {0.30, QObject::tr("Waiting to pair…"), {}};
    case PhaseKind::handshaking: return {0.58, QObject::tr("Securing the link…"), {}};
    case PhaseKind::connected: return {0.85, QObject::tr("Connected - waiting for the first frame…"), {}};
    case PhaseKind::rejected: return {1.0, QObject::tr("Couldn't connect"), rejection};
    }
    return {};
}

QString pictureNotArrivingText(int videoPort) {
    if (videoPort <= 0)
        return QObject::tr("The picture is not arriving through the relay. Check this computer's connection, then "
                           "reconnect.");
    return QObject::tr("The picture is not arriving. It comes in on UDP port %1 of this computer: let that port in "
                       "through this computer's firewall, then reconnect.")
        .arg(videoPort);
}

QString pillWordFor(PhaseKind phase, bool reconnecting) {
    if (reconnecting) return QObject::tr("reconnecting");
    switch (phase) {
    case PhaseKind::connected: return QObject::tr("encrypted");
    case PhaseKind::rejected: return QObject::tr("not connected");
    case PhaseKind::disconnected:
    case PhaseKind::connecting:
    case PhaseKind::needsCode:
    case PhaseKind::handshaking: break;
    }
    return QObject::tr("connecting");
}

QString linkTooSlowText(bool picturesShown) {
    // The other computer lowers what it sends by itself; nothing is asked of the user but patience, or
    // a faster way there.
    if (picturesShown)
        return QObject::tr("The connection is slower than the picture needs, so parts of it arrive damaged. The "
                           "other computer is sending the picture at a lower quality meanwhile. A wired "
                           "connection helps.");
    return QObject::tr("The connection is slower than the picture needs: pieces of it arrive, but no whole "
                       "picture yet. The other computer is lowering the picture's quality to suit it. A wired "
                       "connection helps.");
}

LatencyBand latencyBandFor(int latencyMs) {
    if (latencyMs < 1) return LatencyBand::none;
    if (latencyMs < 40) return LatencyBand::good;
    if (latencyMs <= 100) return LatencyBand::fair;
    return LatencyBand::poor;
}

QRectF fittedRect(QSizeF window, QSizeF remote) {
    if (remote.width() <= 0 && remote.height() <= 0) remote = QSizeF(1470, 956);
    if (remote.width() <= 0 || remote.height() <= 0 || window.isEmpty()) return QRectF(QPointF(0, 0), window);
    // The surface's own rule, so that the input lies on exactly the pixels the picture is drawn on.
    return VideoSurfaceItem::fitted(remote, window);
}

SessionViewModel::SessionViewModel(WEXClient& client, RemoteInput& input, FileTransfers& files, Scheduler& clock,
                                   QColor accent, QObject* parent)
    : QObject(parent), client_(&client), input_(&input), files_(files), notices_(clock), hud_(clock),
      interaction_(std::make_unique<InteractionModel>(clock, accent)), wheel_(true), clock_(clock) {
    for (auto signal : {&WEXClient::phaseChanged, &WEXClient::reconnectingChanged, &WEXClient::hasFirstFrameChanged,
                        &WEXClient::latencyMsChanged, &WEXClient::fpsChanged, &WEXClient::audioMutedChanged,
                        &WEXClient::remoteSizeChanged, &WEXClient::displaysChanged, &WEXClient::streamingDisplayChanged,
                        &WEXClient::pictureRefusalChanged, &WEXClient::linkTooSlowChanged})
        connect(&client, signal, this, &SessionViewModel::stateChanged);
    const auto secure = [this] {
        const auto& stat = client_->deckStat();
        notices_.setSecureScreen(
            secureScreenShown(client_->targetIsWindows(), stat ? std::optional<uint8_t>(stat->flags) : std::nullopt));
    };
    connect(&client, &WEXClient::deckStatChanged, this, secure);
    connect(&client, &WEXClient::targetKindChanged, this, secure);
    // A kind the session's machine was saved with, or none yet: the wheel's words follow.
    const auto words = [this] {
        wheel_.setWords(wheelWordsFor(client_->targetKind()));
        emit guideChanged();
    };
    connect(&client, &WEXClient::targetKindChanged, this, words);
    words();
    connect(&client, &WEXClient::lastAgentErrorChanged, this, [this] {
        const auto error = client_->lastAgentError();
        notices_.setAgentError(error ? std::optional<QString>(QString::fromStdString(*error)) : std::nullopt);
    });
    connect(&notices_, &SessionNotices::agentErrorCleared, &client, &WEXClient::clearLastAgentError);
    // A computer that no longer takes the session back is said for as long as that lasts; the re-dials
    // go on meanwhile, and the session with them once it is taken back.
    connect(&client, &WEXClient::reconnectingChanged, this, [this] {
        const QString why = client_->reconnecting() ? client_->reconnectReason() : QString();
        notices_.setAway(why.isEmpty() ? std::nullopt : std::optional<QString>(why));
    });
    connect(&client, &WEXClient::fileSent, this, [this](const QString& name) {
        notices_.setLocalNotice(tr("“%1” arrived on the other computer, in its Downloads folder.").arg(name));
    });
    // Once pictures are shown, a link too slow for them is said on the banner, not the loading screen.
    const auto slowLink = [this] {
        const bool shown = client_->hasFirstFrame() && client_->linkTooSlow();
        notices_.setSlowLink(shown ? std::optional<QString>(linkTooSlowText(true)) : std::nullopt);
    };
    connect(&client, &WEXClient::linkTooSlowChanged, this, slowLink);
    connect(&client, &WEXClient::hasFirstFrameChanged, this, slowLink);
    connect(&client, &WEXClient::phaseChanged, this, &SessionViewModel::watchForPicture);
    connect(&client, &WEXClient::hasFirstFrameChanged, this, &SessionViewModel::watchForPicture);
    // A refused session's controls are its way out: they stay in view. The marker and ripple only go
    // with a picture to point into.
    const auto atRest = [this] {
        hud_.setHeld(!demo_ && client_->phaseKind() == PhaseKind::rejected);
        interaction_->setPictureShown(!overlayShown());
    };
    connect(this, &SessionViewModel::stateChanged, this, atRest);
    atRest();
    connect(this, &SessionViewModel::stateChanged, this, &SessionViewModel::reconsiderSweep);
    connect(&client, &WEXClient::phaseChanged, this, [this] {
        if (client_->phaseKind() == PhaseKind::connected) setStood(true);
    });
    reconsiderSweep();
    // A refusal or the machine going away ends what the window was doing, though the window stays to
    // say so until its exit.
    connect(&client, &WEXClient::phaseChanged, this, [this] {
        const PhaseKind phase = client_->phaseKind();
        if (windowOpen_ && !demo_ && (phase == PhaseKind::rejected || phase == PhaseKind::disconnected)) {
            input_->releaseHeld();
            emit windowLeft();
        }
    });
}

SessionViewModel::~SessionViewModel() = default;

QString SessionViewModel::guideKeys() const {
    // The Super key goes as the command bit, which each kind of machine presses as its own key.
    switch (wheelWordsFor(client_->targetKind())) {
    case WheelWords::mac: return tr("Type on your keyboard - your Super key is ⌘ on the Mac");
    case WheelWords::windows: return tr("Type on your keyboard - your Super key is the Windows key there");
    case WheelWords::neutral: break;
    }
    return tr("Type on your keyboard - every key goes to the other computer, Super included");
}

QString SessionViewModel::guideShortcuts() const {
    // Named as the wheel names them for this machine.
    QStringList names;
    for (const WheelEntry& e : wheel_.entries())
        if (e.command == WheelCommand::taskView || e.command == WheelCommand::start ||
            e.command == WheelCommand::search || e.command == WheelCommand::ctrlAltDel)
            names << e.label;
    return tr("The pill at the bottom opens system shortcuts (%1…)").arg(names.join(QStringLiteral(", ")));
}

void SessionViewModel::watchForPicture() {
    const bool waiting = !demo_ && client_->phaseKind() == PhaseKind::connected && !client_->hasFirstFrame();
    if (waiting && (pictureWait_ || pictureLate_)) return;
    pictureWait_.reset();
    if (pictureLate_) {
        pictureLate_ = false;
        emit stateChanged();
    }
    if (!waiting) return;
    pictureWait_ = clock_.after(pictureLateAfter, [this] {
        pictureWait_.reset();
        pictureLate_ = true;
        emit stateChanged();
    });
}

void SessionViewModel::reconsiderSweep() {
    if (!overlayShown()) {
        swept_.reset();
        sweepEnd_.reset();
        setSweeps(false);
        return;
    }
    const LoadingState now = state();
    if (swept_ == now) return;
    swept_ = now;
    const bool refused =
        client_->phaseKind() == PhaseKind::rejected || (!client_->pictureRefusal().isEmpty() && !reconnecting());
    if (refused) {
        sweepEnd_.reset();
        setSweeps(false);
        return;
    }
    setSweeps(true);
    sweepEnd_ = clock_.after(sweepFor, [this] {
        sweepEnd_.reset();
        setSweeps(false);
    });
}

void SessionViewModel::setSweeps(bool on) {
    if (on == sweeps_) return;
    sweeps_ = on;
    emit loadingSweepsChanged();
}

void SessionViewModel::setStood(bool on) {
    if (on == stood_) return;
    stood_ = on;
    emit stoodChanged();
}

void SessionViewModel::setDeviceName(const QString& name) {
    if (name == deviceName_) return;
    deviceName_ = name;
    emit deviceNameChanged();
    emit stateChanged();
}

void SessionViewModel::setDemo(bool on) {
    if (on == demo_) return;
    demo_ = on;
    if (on) setStood(true);
    emit demoChanged();
    emit stateChanged();
    watchForPicture();
}

QRectF SessionViewModel::fitted(double width, double height) const {
    return fittedRect(QSizeF(width, height), client_->remoteSize());
}

void SessionViewModel::setWindowOpen(bool open) {
    if (open == windowOpen_) return;
    windowOpen_ = open;
    if (open) {
        // Each session window starts as a new one would: what the last one chose or showed is gone.
        setStood(demo_ || client_->phaseKind() == PhaseKind::connected);
        interaction_->reset();
        hud_.interact();
    } else {
        leave();
    }
    emit windowOpenChanged();
}

void SessionViewModel::leave() {
    input_->releaseHeld();
    notices_.setLocalNotice(std::nullopt);
    notices_.stop();
    hud_.reset();
    emit windowLeft();
}

void SessionViewModel::pointerAt(QPointF point) {
    interaction_->pointerAt(point);
    hud_.interact();
}

void SessionViewModel::clickAt(QPointF point) { interaction_->clickAt(point); }

void SessionViewModel::toggleAudio() {
    client_->toggleAudio();
    hud_.interact();
}

void SessionViewModel::sendFile(const QUrl& url) {
    if (!url.isLocalFile()) return;
    fileFolder_ = url.adjusted(QUrl::RemoveFilename);
    files_.sendFile(url.toLocalFile().toStdString());
}

void SessionViewModel::chooseDisplay(int displayId) {
    input_->switchDisplay(displayId);
    hud_.setShowMonitors(false);
}

void SessionViewModel::runWheelAction(int row) {
    const auto& entries = wheel_.entries();
    if (row < 0 || static_cast<std::size_t>(row) >= entries.size()) return;
    const WheelCommand command = entries[static_cast<std::size_t>(row)].command;
    if (command == WheelCommand::end) {
        // The wheel stays as it is: the window goes.
        emit exitRequested();
        return;
    }
    hud_.setWheelOpen(false);
    hud_.interact();
    runCommand(command);
}

void SessionViewModel::runCommand(WheelCommand command) {
    const bool windows = client_->targetIsWindows();
    switch (command) {
    case WheelCommand::taskView:
        windows ? input_->sendKey(43, RemoteInput::command) : input_->sendKey(82, RemoteInput::control);
        break;
    case WheelCommand::start: input_->launchpad(); break;
    case WheelCommand::search: input_->sendKey(windows ? 22 : 44, RemoteInput::command); break;
    case WheelCommand::desktop: windows ? input_->sendKey(7, RemoteInput::command) : input_->sendKey(68, 0); break;
    case WheelCommand::notifications: input_->notificationCenter(); break;
    case WheelCommand::displays: hud_.setShowMonitors(!hud_.showMonitors()); break;
    case WheelCommand::sendFile:
        // Not the program's working directory, which is wherever it happened to be started.
        emit fileChooserRequested(fileFolder_.isEmpty() ? QUrl::fromLocalFile(QDir::homePath()) : fileFolder_);
        break;
    case WheelCommand::rest:
        input_->rest(true);
        notices_.setLocalNotice(
            tr("Screen off. The machine stays reachable — reconnect any time and it wakes by itself."));
        break;
    case WheelCommand::lock:
        if (!refusedWithoutFullControl(tr(
                "Lock needs Full control. Without it Windows hides the lock screen from DOVRELÆ, so you'd lose "
                "control of this PC until someone unlocks it in person. Turn on Full control in DOVRELÆ on the PC.")))
            input_->lockScreen();
        break;
    case WheelCommand::ctrlAltDel:
        if (!refusedWithoutFullControl(
                tr("Ctrl+Alt+Del needs Full control. Without it Windows won't let DOVRELÆ see or touch the security "
                   "screen, so it would open and then freeze. Turn on Full control in DOVRELÆ on the PC, then try "
                   "again.")))
            input_->sendCtrlAltDel();
        break;
    case WheelCommand::end: break;
    }
}

bool SessionViewModel::refusedWithoutFullControl(const QString& notice) {
    const auto& stat = client_->deckStat();
    if (!client_->targetIsWindows() || !stat || (stat->flags & 0x02) != 0) return false;
    notices_.setLocalNotice(notice, SessionNotices::Tone::refusal);
    return true;
}

bool SessionViewModel::overlayShown() const {
    // Refused pictures leave nothing true to show: not even the last picture shown before them.
    return !demo_ && (!client_->hasFirstFrame() || client_->phaseKind() == PhaseKind::rejected ||
                      !client_->pictureRefusal().isEmpty());
}

LoadingState SessionViewModel::state() const {
    if (client_->phaseKind() == PhaseKind::connected && !client_->reconnecting() &&
        !client_->pictureRefusal().isEmpty())
        return {0.85, tr("Connected - the picture can't be shown"), client_->pictureRefusal()};
    LoadingState state =
        loadingStateFor(client_->phaseKind(), client_->phaseMessage(), client_->reconnecting(), deviceName_);
    if (client_->phaseKind() == PhaseKind::connected && !client_->reconnecting() && !client_->hasFirstFrame() &&
        client_->linkTooSlow())
        state.errorText = linkTooSlowText();
    else if (pictureLate_ && !client_->reconnecting())
        state.errorText = pictureNotArrivingText(client_->videoPort());
    return state;
}

} // namespace dovrel::controller

#include "controller/ui/root/RootViewModel.h"

#include <QPointer>

#include "controller/platform/ClientLog.h"
#include "controller/services/PairLink.h"

namespace dovrel::controller {

namespace {

// The name of a machine reached from the command line before it is known by any other.
const QString automaticName = QStringLiteral("That computer");

std::optional<std::string> utf8(const std::optional<QString>& s) {
    if (!s) return std::nullopt;
    return s->toStdString();
}

} // namespace

RootViewModel::RootViewModel(SessionPort& session, DeviceStore& store, RelayAccount& account, LaunchArguments arguments,
                             std::function<void()> startPolling, QObject* parent)
    : QObject(parent), session_(session), store_(store), account_(account), arguments_(std::move(arguments)),
      startPolling_(std::move(startPolling)) {
    if (const auto signedIn = account_.current()) accountName_ = signedIn->account;
    connect(&session_, &SessionPort::phaseChanged, this, &RootViewModel::phaseChanged);
    connect(&session_, &SessionPort::deckStatArrived, this, &RootViewModel::statsArrived);
    connect(&session_, &SessionPort::identityProblemChanged, this, &RootViewModel::tellIdentityProblem);
    connect(&account_, &RelayAccount::changed, this, &RootViewModel::accountChanged);
    tellIdentityProblem();
}

void RootViewModel::accountChanged() {
    const auto signedIn = account_.current();
    setAccountName(signedIn ? std::optional<QString>(signedIn->account) : std::nullopt);
    if (autoConnectWaiting_ && account_.loaded()) {
        autoConnectWaiting_ = false;
        autoConnectIfRequested();
    }
}

void RootViewModel::tellIdentityProblem() {
    const auto problem = session_.identityProblem();
    // Said once: not again while it shows or waits its turn.
    if (!problem || alert_ == Alert::Keychain) return;
    for (const Acknowledgement& waiting : acknowledgements_)
        if (waiting.kind == Alert::Keychain) return;
    acknowledge(Alert::Keychain, tr("The keyring could not be read"),
                tr("DOVRELÆ could not read this computer's identity from the keyring (%1). Until it can, machines "
                   "you paired ask for their pairing code again; nothing in the keyring was changed. Unlock the "
                   "keyring, then restart DOVRELÆ.")
                    .arg(*problem));
}

void RootViewModel::acknowledge(Alert kind, const QString& title, const QString& text) {
    acknowledgements_.push_back({kind, title, text});
    tellNextAcknowledgement();
}

void RootViewModel::tellNextAcknowledgement() {
    // An alert being asked is answered first.
    if (alert_ != Alert::None || acknowledgements_.empty()) return;
    const Acknowledgement next = acknowledgements_.front();
    acknowledgements_.erase(acknowledgements_.begin());
    ask(next.kind, {}, next.title, next.text, tr("OK"));
}

void RootViewModel::setRoute(Route route) {
    if (route == route_) return;
    route_ = route;
    // A later visit of the pairing screen is a new one, however it began.
    codeWanted_.reset();
    returned_.reset();
    emit routeChanged();
}

void RootViewModel::setActive(const QString& name, const std::optional<QString>& deviceId) {
    if (name == activeName_ && deviceId == activeDeviceId_) return;
    activeName_ = name;
    activeDeviceId_ = deviceId;
    emit activeChanged();
}

void RootViewModel::setDemoSession(bool on) {
    if (on == demoSession_) return;
    demoSession_ = on;
    emit demoSessionChanged();
}

void RootViewModel::setOpeningSession(bool on) {
    if (on == openingSession_) return;
    openingSession_ = on;
    emit openingSessionChanged();
}

void RootViewModel::setAccountName(const std::optional<QString>& name) {
    if (name == accountName_) return;
    accountName_ = name;
    if (accountNameListener_) accountNameListener_();
}

void RootViewModel::setShowSignIn(bool on) {
    if (on == showSignIn_) return;
    showSignIn_ = on;
    emit showSignInChanged();
}

const Device* RootViewModel::machineAt(int row) const {
    if (row < 0 || row >= store_.count()) return nullptr;
    return &store_.devices()[static_cast<std::size_t>(row)];
}

void RootViewModel::appeared() {
    if (!arguments_.demo) startPolling_();
    if (autoConnectNeedsAccount() && !account_.loaded()) {
        autoConnectWaiting_ = true;
        return;
    }
    autoConnectIfRequested();
}

bool RootViewModel::autoConnectNeedsAccount() const {
    // A relay dial without credentials of its own goes with the signed-in account, known once the
    // keychain has answered.
    switch (arguments_.autoConnect()) {
    case LaunchArguments::AutoConnect::relay: return true;
    case LaunchArguments::AutoConnect::link: {
        const auto link = PairLink::parse(arguments_.autoLink->trimmed());
        return link && present(link->deviceId) && !(present(link->account) && present(link->token));
    }
    case LaunchArguments::AutoConnect::host:
    case LaunchArguments::AutoConnect::none: return false;
    }
    return false;
}

void RootViewModel::open(int row) {
    const Device* found = machineAt(row);
    if (!found) return;
    const Device d = *found;
    automatic_ = false;
    fromPairing_ = false;
    stood_ = false;
    setActive(d.name, d.deviceId);
    setOpeningSession(true);
    if (arguments_.demo) {
        // Demo sessions show the sample desktop and never dial.
        // The window is on the session first: the demo stands at once, and its connected phase must
        // not be taken for an automatic session that still has to be shown (that ends the demo).
        setDemoSession(true);
        session_.nextSessionSaves(std::nullopt);
        setRoute(Route::Session);
        session_.startDemo();
        return;
    }
    setDemoSession(false);
    session_.setTargetKind(d.kind);
    setRoute(Route::Session);
    dialled_ = {d.host.isEmpty() ? d.deviceId.value_or(QString()) : d.host, d.name, d.kind};
    PendingMachine opened;
    opened.machine = d;
    opened.pairing = false;
    session_.nextSessionSaves(opened);
    const auto relay = relayWayTo(d);
    if (!d.host.isEmpty())
        session_.connectToMachine(d.host, d.name, relay, {});
    else if (relay)
        session_.connectViaRelay(*relay, {});
    else
        session_.connectToHost(d.host, {});
}

std::optional<RelayDial> RootViewModel::relayWayTo(const Device& d) {
    // A machine saved with a host is dialled there first, as it was paired; the relay stands in when the
    // host does not answer, for a machine a relay session has reached before. The identifier a
    // local-network handshake taught it (for unpairing) does not make it a relay machine.
    if (!present(d.deviceId)) return std::nullopt;
    const bool relayKnown = present(d.relayAccount) || present(d.relayToken) || present(d.relayHost);
    if (!d.host.isEmpty() && !relayKnown) return std::nullopt;
    return RelayDial{d.deviceId->toStdString(), d.name.toStdString(), utf8(d.relayAccount), utf8(d.relayToken),
                     utf8(d.relayHost)};
}

void RootViewModel::showPairing() { setRoute(Route::Pairing); }

void RootViewModel::cancelPairing() { setRoute(Route::Deck); }

void RootViewModel::startSession(const QString& name, const std::optional<QString>& deviceId, Device::Kind kind) {
    setActive(name, deviceId);
    setDemoSession(false);
    session_.setTargetKind(kind);
    setOpeningSession(true);
    setRoute(Route::Session);
}

const Device* RootViewModel::savedMachine(const std::optional<QString>& deviceId, const QString& host,
                                          const QString& name) const {
    for (const Device& d : store_.devices())
        if ((present(deviceId) && d.deviceId == deviceId) || (!host.isEmpty() && d.host == host) ||
            (!name.isEmpty() && d.name.compare(name, Qt::CaseInsensitive) == 0))
            return &d;
    return nullptr;
}

void RootViewModel::pair(const QString& host, const std::optional<QString>& deviceId, const QString& name,
                         const QString& code, Device::Kind kind, const std::optional<QString>& mac,
                         const std::optional<QString>& account, const std::optional<QString>& token,
                         const std::optional<QString>& relay) {
    // Nothing is saved yet: the machine goes into the deck (a saved one to the front) once a session
    // with it stands, with the way that worked.
    PendingMachine pending;
    if (const Device* saved = savedMachine(deviceId, host, name)) pending.machine = *saved;
    pending.machine.name = name;
    pending.machine.kind = kind;
    pending.machine.mac = nonEmpty(mac);
    pending.host = host;
    pending.relayAccount = account;
    pending.relayToken = token;
    pending.relayHost = relay;
    automatic_ = false;
    fromPairing_ = route_ == Route::Pairing;
    stood_ = false;
    startSession(name, nonEmpty(deviceId), kind);
    dialled_ = {host.isEmpty() ? deviceId.value_or(QString()) : host, name, kind};
    session_.nextSessionSaves(pending);
    // The dial takes what it was given, not what was stored.
    const RelayDial viaRelay{deviceId.value_or(QString()).toStdString(), name.toStdString(), utf8(account), utf8(token),
                             utf8(relay)};
    if (!host.isEmpty())
        session_.connectToMachine(host, name, present(deviceId) ? std::optional(viaRelay) : std::nullopt, code);
    else
        session_.connectViaRelay(viaRelay, code);
}

void RootViewModel::connectLAN(const QString& host, const QString& name, const QString& code, Device::Kind kind) {
    pair(host, std::nullopt, name, code, kind, std::nullopt, std::nullopt, std::nullopt, std::nullopt);
}

void RootViewModel::connectLAN(const QString& host, const QString& name, const QString& code, const QString& kind) {
    connectLAN(host, name, code, kindFromText(kind).value_or(Device::Kind::linux));
}

void RootViewModel::connectRelay(const QString& deviceId, const QString& name, const QString& code, Device::Kind kind,
                                 const std::optional<QString>& account, const std::optional<QString>& token,
                                 const std::optional<QString>& relay) {
    pair({}, deviceId, name, code, kind, std::nullopt, account, token, relay);
}

void RootViewModel::connectLink(const PairLink& link) {
    pair(link.host, link.deviceId, link.name, link.code, link.kind, link.mac, link.account, link.token, link.relay);
}

bool RootViewModel::connectLink(const QString& text) {
    const auto link = PairLink::parse(text.trimmed());
    if (!link) return false;
    connectLink(*link);
    return true;
}

void RootViewModel::endSession() {
    // Read before the disconnect, which ends the refusal too.
    const bool back = fromPairing_ && !stood_ && !demoSession_;
    const Returned how{session_.refusal(), session_.refusedPart()};
    fromPairing_ = false;
    setDemoSession(false);
    setOpeningSession(false);
    session_.disconnectSession();
    if (!back) {
        setRoute(Route::Deck);
        return;
    }
    setRoute(Route::Pairing);
    returned_ = how;
    if (turnedBackListener_) turnedBackListener_();
}

void RootViewModel::phaseChanged() {
    // The figures on the machine's card are the session's: they go when it does.
    if (statsMachine_ && session_.phase() != PhaseKind::connected) {
        store_.statsEnded(*statsMachine_);
        statsMachine_.reset();
    }
    switch (session_.phase()) {
    case PhaseKind::needsCode:
        if (route_ == Route::Session) {
            askForCode();
        } else if (automatic_ && openingSession_) {
            // Waiting on the deck would look like nothing happened.
            askForCode();
            addNotice(tr("That computer does not know this one yet. Paste its pairing link here, or type its "
                         "address and the code its window shows under Set up by hand."));
        }
        break;
    case PhaseKind::connected:
        stood_ = true;
        // A machine the command line reached by address or room is called by its saved name once the
        // handshake proved which it is.
        if (automatic_) {
            automatic_ = false;
            const QString id = session_.agentDeviceId();
            if (const Device* d = id.isEmpty() ? nullptr : savedMachine(id, {}, {})) {
                setActive(d->name, d->deviceId);
                session_.setTargetKind(d->kind);
            }
        }
        // A session opened without leaving the deck (the automatic ones) shows itself once it stands.
        if (openingSession_ && route_ != Route::Session) {
            setOpeningSession(false);
            setDemoSession(false);
            setRoute(Route::Session);
        }
        break;
    case PhaseKind::rejected:
    case PhaseKind::disconnected:
    case PhaseKind::connecting:
    case PhaseKind::handshaking: break;
    }
}

void RootViewModel::askForCode() {
    setRoute(Route::Pairing);
    codeWanted_ = dialled_;
    if (turnedBackListener_) turnedBackListener_();
}

void RootViewModel::statsArrived(const wex::DeckStat& stat) {
    const std::optional<double> battery =
        stat.battery < 0 ? std::nullopt : std::optional<double>(static_cast<double>(stat.battery) / 100.0);
    const auto machine = store_.applyStats(activeName_, activeDeviceId_, static_cast<double>(stat.cpu) / 100.0,
                                           static_cast<double>(stat.ram) / 100.0, battery);
    if (machine) statsMachine_ = machine;
}

void RootViewModel::ask(Alert alert, const QUuid& machine, QString title, QString text, QString confirm,
                        QString field) {
    alert_ = alert;
    alertMachine_ = machine;
    alertTitle_ = std::move(title);
    alertText_ = std::move(text);
    alertConfirm_ = std::move(confirm);
    alertField_ = std::move(field);
    emit alertChanged();
}

void RootViewModel::accountTapped() {
    if (const auto signedIn = account_.current()) {
        ask(Alert::SignOut, {}, tr("Signed in as %1").arg(signedIn->account),
            tr("Your machines register in your account's private rooms. Signing out does not unpair anything "
               "- this machine keeps working, in the shared namespace, until you sign in again."),
            tr("Sign out"));
        return;
    }
    setShowSignIn(true);
}

void RootViewModel::unpairRequested(int row) {
    const Device* d = machineAt(row);
    if (!d) return;
    // Said as the machine is reached: on this network, through the relay, or either.
    const bool lan = !d->host.isEmpty(), relay = relayWayTo(*d).has_value();
    const QString reachable = lan && relay ? tr("awake, and on this network or online")
                              : lan        ? tr("awake and on this network")
                                           : tr("awake and online");
    // The card already says DOVRELÆ does not run there: said before, not only once it has failed.
    const QString text =
        d->state == Device::State::awake && d->agentStopped
            ? tr("DOVRELÆ isn’t running on “%1”, so it cannot be told to forget this computer: only this computer "
                 "forgets it, and it still counts this one as paired. To unpair both ways, start DOVRELÆ on it "
                 "first, then unpair.")
                  .arg(d->name)
            : tr("This computer forgets it, and DOVRELÆ tells that computer to forget this one too - it needs to be "
                 "%1 for that. You'll re-pair with its link (or code) if you want it back.")
                  .arg(reachable);
    ask(Alert::Unpair, d->id, tr("Unpair “%1”?").arg(d->name), text, tr("Unpair"));
}

void RootViewModel::unpairNotTold(const QString& name, const QString& host, bool relay, UnpairOutcome outcome) {
    const QString where = !host.isEmpty() && relay ? tr("not at %1 on this network, nor through the relay").arg(host)
                          : !host.isEmpty()        ? tr("not at %1 on this network").arg(host)
                                                   : tr("not through the relay");
    // A refusal is an answer: the computer is there, and DOVRELÆ is what is missing on it.
    const QString why = outcome == UnpairOutcome::refused && !host.isEmpty()
                            ? tr("DOVRELÆ isn’t running on it (%1 refused the connection)").arg(host)
                        : outcome == UnpairOutcome::interrupted
                            ? tr("another connection was started before it answered")
                            : tr("it did not answer (%1)").arg(where);
    const QString text =
        tr("This computer has forgotten “%1”, but could not tell it to forget this one: %2. "
           "It still counts this computer as paired. To undo that, pair with it again while DOVRELÆ runs on it, "
           "then unpair it.")
            .arg(name, why);
    acknowledge(Alert::UnpairNotTold, tr("“%1” was not told").arg(name), text);
}

void RootViewModel::renameRequested(int row) {
    const Device* d = machineAt(row);
    if (!d) return;
    ask(Alert::Rename, d->id, tr("Rename “%1”").arg(d->name), {}, tr("Save"), d->name);
}

void RootViewModel::answerAlert(bool confirmed, const QString& field) {
    const Alert answered = alert_;
    const QUuid machine = alertMachine_;
    ask(Alert::None, {}, {}, {}, {});
    tellNextAcknowledgement();
    if (!confirmed) return;
    switch (answered) {
    case Alert::SignOut:
        account_.signOut();
        setAccountName(std::nullopt);
        break;
    case Alert::Unpair: {
        const Device* found = store_.find(machine);
        if (!found) return;
        const Device d = *found;
        store_.remove(d.id);
        store_.save();
        const auto relay = relayWayTo(d);
        QPointer<RootViewModel> self(this);
        session_.revokePairing({utf8(d.deviceId), d.host.toStdString(), d.name.toStdString(), relay},
                               [self, name = d.name, host = d.host, viaRelay = relay.has_value()](UnpairOutcome o) {
                                   // An agent that had forgotten this computer already needs nothing more.
                                   if (self && o != UnpairOutcome::told && o != UnpairOutcome::alreadyForgotten)
                                       self->unpairNotTold(name, host, viaRelay, o);
                               });
        break;
    }
    case Alert::Rename: {
        const QString name = field.trimmed();
        if (!name.isEmpty()) store_.rename(machine, name);
        break;
    }
    case Alert::Keychain:
    case Alert::UnpairNotTold:
    case Alert::None: break;
    }
}

void RootViewModel::signInDone(const QString& account) {
    setAccountName(account);
    setShowSignIn(false);
}

void RootViewModel::signInSkipped() { setShowSignIn(false); }

void RootViewModel::setNotice(const QString& text) {
    if (text == notice_) return;
    notice_ = text;
    emit noticeChanged();
}

void RootViewModel::addNotice(const QString& text) {
    clientLog("launch: " + text.toStdString());
    setNotice(notice_.isEmpty() ? text : notice_ + u'\n' + text);
}

void RootViewModel::autoConnectIfRequested() {
    fromPairing_ = false;
    stood_ = false;
    for (const QString& problem : arguments_.problems)
        addNotice(problem);
    const QString code = arguments_.pairingCode.value_or(QString());
    switch (arguments_.autoConnect()) {
    case LaunchArguments::AutoConnect::host: {
        // A saved machine at that address lends its name and kind; otherwise the handshake may tell.
        const QString host = *arguments_.autoHost;
        const Device* known = host.isEmpty() ? nullptr : savedMachine(std::nullopt, host, {});
        automatic_ = !known;
        setActive(known ? known->name : automaticName, known ? known->deviceId : std::nullopt);
        setDemoSession(false);
        setOpeningSession(true);
        session_.setTargetKind(known ? std::optional(known->kind) : std::nullopt);
        std::optional<PendingMachine> opened;
        if (known) opened = PendingMachine{*known, false, {}, {}, {}, {}};
        session_.nextSessionSaves(opened);
        dialled_ = {host, known ? known->name : automaticName, known ? known->kind : Device::Kind::linux};
        session_.connectToMachine(host, known ? known->name : QString(), std::nullopt, code);
        break;
    }
    case LaunchArguments::AutoConnect::relay: {
        const QString room = *arguments_.autoRelay;
        const Device* known = savedMachine(room.toLower(), {}, {});
        automatic_ = !known;
        const QString name = known ? known->name : automaticName;
        setActive(name, room);
        setDemoSession(false);
        setOpeningSession(true);
        session_.setTargetKind(known ? std::optional(known->kind) : std::nullopt);
        session_.nextSessionSaves(std::nullopt);
        dialled_ = {room.toLower(), name, known ? known->kind : Device::Kind::linux};
        session_.connectViaRelay(RelayDial{room.toStdString(), name.toStdString(), {}, {}, {}}, code);
        break;
    }
    case LaunchArguments::AutoConnect::link: {
        // The link's own code; "-pairingCode" is not consulted.
        QString why;
        const auto link = PairLink::parse(arguments_.autoLink->trimmed(), &why);
        if (link)
            connectLink(*link);
        else
            addNotice(tr("-autoLink was not used: %1.").arg(why));
        break;
    }
    case LaunchArguments::AutoConnect::none: break;
    }
}

} // namespace dovrel::controller

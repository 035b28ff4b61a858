#include "agent/shell/AgentWindowModel.h"

#include <algorithm>

#include <QLocale>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QTextBoundaryFinder>

#include "agent/core/PairingPause.h"
#include "protocol/AgentHandshakeMachine.h"

namespace dovrel::agent {

namespace {

// Overwrites the characters where no other copy shares them, then lets them go.
void wipe(QString& secret) {
    if (secret.isDetached()) std::fill(secret.begin(), secret.end(), QChar());
    secret.clear();
}

} // namespace

AgentWindowModel::AgentWindowModel(AppModel& app, UnattendedChecker& readiness, Scheduler& clock,
                                   TextClipboard& clipboard, SettingsLauncher& launcher, WindowSettings settings,
                                   QObject* parent)
    : QObject(parent), app_(app), readiness_(readiness), clock_(clock), clipboard_(clipboard),
      settings_(std::move(settings)),
      screenCapture_(std::make_unique<FixRow>(screenCaptureTitle(settings_.facts), launcher, clipboard)),
      inputControl_(std::make_unique<FixRow>(inputControlTitle(settings_.facts), launcher, clipboard)),
      clipboardText_(std::make_unique<FixRow>(tr("Clipboard text through GNOME"), launcher, clipboard)),
      wake_(std::make_unique<FixRow>(tr("Wake-on-LAN"), launcher, clipboard)) {
    // Every published field of the model may change what the window shows.
    const QMetaMethod onChange = metaObject()->method(metaObject()->indexOfMethod("appChanged()"));
    const QMetaObject* meta = app_.metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i)
        if (meta->property(i).hasNotifySignal()) connect(&app_, meta->property(i).notifySignal(), this, onChange);
    appChanged();
}

AgentWindowModel::~AgentWindowModel() { wipe(acctPassword_); }

void AgentWindowModel::appChanged() {
    const DesktopFacts& facts = settings_.facts;
    screenCapture_->set(app_.screenRecording(), screenCaptureFix(facts));
    inputControl_->set(app_.accessibility(), inputControlFix(facts, app_.screenRecording()));
    wake_->set(app_.wakeReady(), wakeOnLanFix(facts));
    clipboardText_->set(app_.clipboardText(), clipboardTextFix(facts));
    // Signed in, the form's password has done its work.
    if (signedIn() && !acctPassword_.isEmpty()) {
        wipe(acctPassword_);
        ++passwordEdits_;
    }
    emit changed();
}

template <typename T> void AgentWindowModel::update(T& field, const T& value) {
    if (field == value) return;
    field = value;
    emit changed();
}

void AgentWindowModel::setDark(bool dark) { update(dark_, dark); }

bool AgentWindowModel::connected() const { return !app_.connectedClient().isEmpty(); }

// Before start-up has built the link the code stands in for it (the placeholder at first). While
// pairing by code is paused there is nothing to scan: the link's code pairs nothing.
QString AgentWindowModel::qrText() const {
    if (codePaused()) return {};
    return app_.pairingURL().isEmpty() ? app_.pairingCode() : app_.pairingURL();
}

bool AgentWindowModel::hasShareCode() const { return !app_.shareCode().isEmpty(); }

// An empty note keeps its line, so the block does not jump when a note arrives. While paused the
// share code's note (how long it pairs) is not true: the pause notice under it says what is.
QString AgentWindowModel::shareCodeNoteLine() const {
    if (codePaused() || app_.shareCodeNote().isEmpty()) return QStringLiteral(" ");
    return app_.shareCodeNote();
}

QString AgentWindowModel::copyShareCodeText() const { return copied_ ? tr("Copied!") : tr("Copy"); }

QString AgentWindowModel::copyLinkText() const { return linkCopied_ ? tr("Copied!") : tr("Copy pairing link"); }

QString AgentWindowModel::codeNote() const {
    if (codePaused()) return {};
    return tr("The code pairs while this window is open and for 10 minutes after it closes.");
}

QString AgentWindowModel::manualCodeNote() const {
    if (codePaused()) return {};
    const QString changes = tr("This code changes each time DOVRELÆ restarts.");
    if (!hasShareCode()) return changes; // the note under the big code says when it pairs
    return changes + QStringLiteral(" ") + tr("It pairs while this window is open and for 10 minutes after it closes.");
}

// Shown for as long as the window shows the code that was drawn, and not over a pause, which says more.
QString AgentWindowModel::codeRedrawnText() const {
    const QString drawn = app_.codeDrawnAfterWrongCodes();
    if (codePaused() || drawn.isEmpty() || drawn != app_.pairingCode()) return {};
    return tr("A new code was drawn after %1 wrong tries").arg(wex::AgentHandshakeMachine::wrongCodesPerCode);
}

QString AgentWindowModel::pauseText() const {
    if (!app_.codePairingPaused()) return {};
    QStringList from;
    for (const QString& address : app_.wrongCodeAddresses())
        from.append(address.isEmpty() ? tr("the relay") : address);
    return tr("Pairing by code is paused: %1 wrong codes were tried within an hour, from %2. No code pairs until "
              "you make a new one; devices already paired still connect.")
        .arg(PairingPause::wrongCodesToPause)
        .arg(QLocale().createSeparatedList(from));
}

void AgentWindowModel::setShowManual(bool v) { update(showManual_, v); }

QString AgentWindowModel::lanLine() const {
    if (app_.lanIP().isEmpty() || !settings_.lanEnabled) return {};
    return tr("This computer's network address:  %1").arg(app_.lanIP());
}

QString AgentWindowModel::overlayLine() const {
    if (app_.wgIP().isEmpty()) return {};
    return tr("Remote (WireGuard):  %1").arg(app_.wgIP());
}

bool AgentWindowModel::signedIn() const { return !app_.account().isEmpty(); }
void AgentWindowModel::setAcctName(const QString& v) { update(acctName_, v); }
void AgentWindowModel::setAcctPassword(const QString& v) {
    if (v == acctPassword_) return;
    wipe(acctPassword_);
    acctPassword_ = v;
    ++passwordEdits_;
    emit changed();
}
void AgentWindowModel::setAcctInvite(const QString& v) { update(acctInvite_, v); }
void AgentWindowModel::setCreatingAccount(bool v) { update(creatingAccount_, v); }

QString AgentWindowModel::accountButtonText() const { return creatingAccount_ ? tr("Create account") : tr("Sign in"); }

QString AgentWindowModel::accountModeText() const {
    return creatingAccount_ ? tr("I have an account") : tr("Create one instead");
}

int AgentWindowModel::characters(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

bool AgentWindowModel::canSubmitAccount() const {
    return !app_.accountBusy() && characters(acctName_) >= 3 && characters(acctPassword_) >= 8;
}

bool AgentWindowModel::accountFieldsInvalid() const {
    return !signedIn() && !app_.accountError().isEmpty() && !acctName_.isEmpty() && acctName_ == sentName_ &&
           sentPasswordEdit_ == passwordEdits_;
}

QString AgentWindowModel::sharingStatus() const {
    if (app_.grantExpiryText().isEmpty())
        return tr("This computer isn't sharing yet. Sign it in to an account to hand out access.");
    return tr("Anyone who scans the code above can reach this computer. ") + app_.grantExpiryText() +
           QStringLiteral(".");
}

QStringList AgentWindowModel::lifetimeLabels() const {
    return {tr("Forever"), tr("1 hour"), tr("8 hours"), tr("24 hours"), tr("7 days")};
}

// A lifetime the picker does not list (set elsewhere) shows as no choice.
int AgentWindowModel::lifetimeIndex() const {
    for (int i = 0; i < static_cast<int>(std::size(lifetimes)); ++i)
        if (lifetimes[i] == app_.grantTTLHours()) return i;
    return -1;
}

void AgentWindowModel::setLifetimeIndex(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(lifetimes))) return;
    app_.setGrantTTLHours(lifetimes[index]);
}

// Video still leaving after the controller's name went means a session is in fact running.
bool AgentWindowModel::showDisconnect() const { return connected() || app_.videoFps() >= 1; }

QString AgentWindowModel::sharingNote() const { return app_.grantError().isEmpty() ? app_.grantNotice() : QString(); }

bool AgentWindowModel::canChangeAccess() const { return signedIn() && !app_.grantBusy(); }

bool AgentWindowModel::videoActive() const { return app_.videoFps() >= 1; }

QString AgentWindowModel::videoText() const {
    if (app_.videoFps() >= 1) return tr("Sending video - %1 fps via %2").arg(app_.videoFps()).arg(app_.videoPath());
    if (connected()) return tr("Connected but NO video leaving (%1)").arg(app_.videoPath());
    return tr("No video (nobody connected)");
}

QString AgentWindowModel::wakeText() const { return app_.wakeReady() ? tr("Wake-on-LAN: On") : tr("Wake-on-LAN: Off"); }

QString AgentWindowModel::wakeButtonText() const { return app_.wakeReady() ? tr("Settings") : tr("Turn on"); }

void AgentWindowModel::showCopied(bool AgentWindowModel::*flag) {
    const uint64_t press = ++copyPresses_;
    copiedResets_[press] = clock_.after(copiedFor, [this, press, flag] {
        update(this->*flag, false);
        copiedResets_.erase(press); // the clock holds this callback while it runs
    });
    update(this->*flag, true);
}

void AgentWindowModel::copyShareCode() {
    if (codePaused()) return;
    clipboard_.setText(app_.shareCode());
    showCopied(&AgentWindowModel::copied_);
}

void AgentWindowModel::newShareCode() {
    if (!canNewShareCode()) return;
    app_.createShareCode();
}

void AgentWindowModel::copyPairingLink() {
    if (codePaused()) return;
    clipboard_.setText(app_.pairingURL());
    showCopied(&AgentWindowModel::linkCopied_);
}

void AgentWindowModel::newPairingCode() { app_.newPairingCode(); }

void AgentWindowModel::submitAccount() {
    if (!canSubmitAccount()) return;
    sentName_ = acctName_;
    sentPasswordEdit_ = passwordEdits_;
    app_.signIn(acctName_, acctPassword_, creatingAccount_, acctInvite_);
}

void AgentWindowModel::toggleAccountMode() { setCreatingAccount(!creatingAccount_); }

void AgentWindowModel::signOut() {
    if (app_.accountBusy()) return;
    app_.signOut();
}

void AgentWindowModel::newGrant() {
    if (!canNewGrant()) return;
    app_.newGrant(app_.grantTTLHours());
}

void AgentWindowModel::askCancelAllAccess() {
    if (!canChangeAccess()) return;
    update(confirmCancelAccess_, true);
}

void AgentWindowModel::confirmCancelAllAccess() {
    if (!confirmCancelAccess_) return;
    update(confirmCancelAccess_, false);
    app_.cancelAllAccess();
}

void AgentWindowModel::keepAccess() { update(confirmCancelAccess_, false); }

void AgentWindowModel::disconnectSession() { app_.disconnectSession(); }

void AgentWindowModel::quit() { emit quitRequested(); }

} // namespace dovrel::agent

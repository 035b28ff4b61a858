#include "agent/shell/AgentPresenter.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include "agent/shell/AppModel.h"

namespace dovrel::agent {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }
QString q(const std::optional<std::string>& s) { return s ? q(*s) : QString(); }
} // namespace

void AgentPresenter::started(const PairingFacts& facts) {
    model_.setPairingCode(q(facts.pairingCode));
    model_.setLanIP(q(facts.lanIP));
    model_.setMac(q(facts.mac));
    model_.setDeviceName(q(facts.deviceName));
    model_.setDeviceId(q(facts.deviceId));
    model_.setPairingURL(q(facts.pairingLink));
}

void AgentPresenter::pairingLinkChanged(const std::string& code, const std::string& link) {
    model_.setPairingCode(q(code));
    model_.setPairingURL(q(link));
}

void AgentPresenter::relayAccountChanged(const std::string& account) { model_.setAccount(q(account)); }

void AgentPresenter::sessionChanged(SessionPhase phase, const std::string& clientName) {
    phase_ = phase;
    if (phase == SessionPhase::connected)
        model_.setConnectedClient(clientName.empty() ? QStringLiteral("Unnamed device") : q(clientName));
    else if (phase == SessionPhase::waiting)
        model_.setConnectedClient({});
    // What a file came to belonged to the session before: the new state says more.
    fileNote_.clear();
    fileNoteEnds_.reset();
    showStatus();
}

void AgentPresenter::fileProgress(const std::string& transfer, double fraction) {
    // Concatenated, not .arg(): a file name may itself hold "%2".
    if (fraction < 1.0) {
        fileNote_ = QStringLiteral("Receiving ") + q(transfer) + QStringLiteral("… ") +
                    QString::number(static_cast<int>(fraction * 100)) + QStringLiteral("%");
        fileNoteEnds_.reset();
    } else {
        fileNote_ = q(transfer);
        fileNoteEnds_ = clock_.after(fileNoteFor, [this] {
            fileNote_.clear();
            showStatus();
            fileNoteEnds_.reset(); // the clock holds this callback while it runs
        });
    }
    showStatus();
}

void AgentPresenter::restingChanged(bool resting) { model_.setResting(resting); }

void AgentPresenter::videoReport(int framesPerSecond, const std::string& path) {
    model_.setVideoFps(framesPerSecond);
    model_.setVideoPath(q(path));
}

void AgentPresenter::accountChanged(const AccountModelChange& c) {
    if (c.grantBusy) model_.setGrantBusy(*c.grantBusy);
    if (c.grantError) model_.setGrantError(q(*c.grantError));
    if (c.grantNotice) model_.setGrantNotice(q(*c.grantNotice));
    if (c.grantExpiryText) model_.setGrantExpiryText(q(*c.grantExpiryText));
    if (c.shareCode) model_.setShareCode(q(*c.shareCode));
    if (c.shareCodeNote) model_.setShareCodeNote(q(*c.shareCodeNote));
    if (c.shareCodeExpiresAt)
        model_.setShareCodeExpiresAt(*c.shareCodeExpiresAt ? QDateTime::fromSecsSinceEpoch(**c.shareCodeExpiresAt)
                                                           : QDateTime());
    if (c.shareInFlight) model_.shareInFlight = *c.shareInFlight;
    if (c.account) model_.setAccount(q(*c.account));
    if (c.accountBusy) model_.setAccountBusy(*c.accountBusy);
    if (c.accountError) model_.setAccountError(q(*c.accountError));
}

double AgentPresenter::grantTTLHours() const { return model_.grantTTLHours(); }

void AgentPresenter::codePairingPaused(bool paused, const std::vector<std::string>& fromAddresses) {
    QStringList addresses;
    for (const std::string& address : fromAddresses)
        addresses.append(q(address));
    model_.setWrongCodeAddresses(addresses);
    model_.setCodePairingPaused(paused);
    codePaused_ = paused;
    showStatus();
}

void AgentPresenter::codeDrawnAfterWrongCodes(const std::string& code) { model_.setCodeDrawnAfterWrongCodes(q(code)); }

void AgentPresenter::showStatus() {
    if (!fileNote_.isEmpty()) return model_.setStatusText(fileNote_);
    switch (phase_) {
    case SessionPhase::waiting:
        model_.setStatusText(codePaused_
                                 ? QStringLiteral("Pairing by code is paused - paired devices can still connect")
                                 : QStringLiteral("Waiting for your device to pair…"));
        break;
    case SessionPhase::connecting: model_.setStatusText(QStringLiteral("Device connecting…")); break;
    case SessionPhase::connected:
        model_.setStatusText(QStringLiteral("Connected - your device is controlling this computer"));
        break;
    }
}

} // namespace dovrel::agent

#include "agent/shell/AppModel.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

#include "runtime/SignalStack.h"

namespace dovrel::agent {

namespace {

template <typename T, typename Signal> void assign(AppModel* model, T& field, const T& value, Signal changed) {
    Q_ASSERT(QThread::currentThread() == model->thread());
    if (field == value) return;
    field = value;
    emit(model->*changed)();
}

// Runs `apply` on the main thread if the model still exists then. The weak pointer is only looked at
// there, where the model is destroyed.
template <typename Apply> void onMainThread(const QPointer<AppModel>& model, Apply apply) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(
        app,
        [model, apply = std::move(apply)]() mutable {
            if (model) apply(*model);
        },
        Qt::QueuedConnection);
}

} // namespace

AppModel::AppModel(AgentCommands& commands, std::shared_ptr<AppModelSampler> sampler, QObject* parent)
    : QObject(parent), commands_(commands), sampler_(std::move(sampler)) {}
AppModel::~AppModel() = default;

void AppModel::setPairingCode(const QString& v) { assign(this, pairingCode_, v, &AppModel::pairingCodeChanged); }
void AppModel::setResting(bool v) { assign(this, resting_, v, &AppModel::restingChanged); }
void AppModel::setPairingURL(const QString& v) { assign(this, pairingURL_, v, &AppModel::pairingURLChanged); }
void AppModel::setDeviceId(const QString& v) { assign(this, deviceId_, v, &AppModel::deviceIdChanged); }
void AppModel::setLanIP(const QString& v) { assign(this, lanIP_, v, &AppModel::lanIPChanged); }
void AppModel::setWgIP(const QString& v) { assign(this, wgIP_, v, &AppModel::wgIPChanged); }
void AppModel::setMac(const QString& v) { assign(this, mac_, v, &AppModel::macChanged); }
void AppModel::setDeviceName(const QString& v) { assign(this, deviceName_, v, &AppModel::deviceNameChanged); }
void AppModel::setStatusText(const QString& v) { assign(this, statusText_, v, &AppModel::statusTextChanged); }
void AppModel::setConnectedClient(const QString& v) {
    assign(this, connectedClient_, v, &AppModel::connectedClientChanged);
}
void AppModel::setScreenRecording(bool v) { assign(this, screenRecording_, v, &AppModel::screenRecordingChanged); }
void AppModel::setAccessibility(bool v) { assign(this, accessibility_, v, &AppModel::accessibilityChanged); }
void AppModel::setClipboardText(bool v) { assign(this, clipboardText_, v, &AppModel::clipboardTextChanged); }
void AppModel::setDesktopAccess(const DesktopAccess& a) {
    setScreenRecording(a.screenCapture);
    setAccessibility(a.inputControl);
    setClipboardText(a.clipboardText);
}
void AppModel::setWakeReady(bool v) { assign(this, wakeReady_, v, &AppModel::wakeReadyChanged); }
void AppModel::setOnBattery(bool v) { assign(this, onBattery_, v, &AppModel::onBatteryChanged); }
void AppModel::setVideoFps(int v) { assign(this, videoFps_, v, &AppModel::videoFpsChanged); }
void AppModel::setVideoPath(const QString& v) { assign(this, videoPath_, v, &AppModel::videoPathChanged); }
void AppModel::setGrantExpiryText(const QString& v) {
    assign(this, grantExpiryText_, v, &AppModel::grantExpiryTextChanged);
}
void AppModel::setGrantBusy(bool v) { assign(this, grantBusy_, v, &AppModel::grantBusyChanged); }
void AppModel::setGrantError(const QString& v) { assign(this, grantError_, v, &AppModel::grantErrorChanged); }
void AppModel::setGrantNotice(const QString& v) { assign(this, grantNotice_, v, &AppModel::grantNoticeChanged); }
void AppModel::setGrantTTLHours(double v) { assign(this, grantTTLHours_, v, &AppModel::grantTTLHoursChanged); }
void AppModel::setShareCode(const QString& v) { assign(this, shareCode_, v, &AppModel::shareCodeChanged); }
void AppModel::setShareCodeNote(const QString& v) { assign(this, shareCodeNote_, v, &AppModel::shareCodeNoteChanged); }
void AppModel::setShareCodeExpiresAt(const QDateTime& v) {
    assign(this, shareCodeExpiresAt_, v, &AppModel::shareCodeExpiresAtChanged);
}
void AppModel::setAccount(const QString& v) { assign(this, account_, v, &AppModel::accountChanged); }
void AppModel::setAccountBusy(bool v) { assign(this, accountBusy_, v, &AppModel::accountBusyChanged); }
void AppModel::setAccountError(const QString& v) { assign(this, accountError_, v, &AppModel::accountErrorChanged); }
void AppModel::setCodePairingPaused(bool v) {
    assign(this, codePairingPaused_, v, &AppModel::codePairingPausedChanged);
}
void AppModel::setWrongCodeAddresses(const QStringList& v) {
    assign(this, wrongCodeAddresses_, v, &AppModel::wrongCodeAddressesChanged);
}
void AppModel::setCodeDrawnAfterWrongCodes(const QString& v) {
    assign(this, codeDrawnAfterWrongCodes_, v, &AppModel::codeDrawnAfterWrongCodesChanged);
}

void AppModel::newGrant(double ttlHours) { commands_.newGrant(ttlHours); }
void AppModel::cancelAllAccess() { commands_.cancelAllAccess(); }
void AppModel::disconnectSession() { commands_.disconnectSession(); }
void AppModel::createShareCode() { commands_.createShareCode(); }
void AppModel::signIn(const QString& account, const QString& password, bool create, const QString& invite) {
    commands_.signIn(account.toStdString(), password.toStdString(), create, invite.toStdString());
}
void AppModel::signOut() { commands_.signOut(); }
void AppModel::newPairingCode() { commands_.newPairingCode(); }
void AppModel::pairingCodeShown(bool shown) { commands_.pairingCodeShown(shown); }

template <typename Work> void AppModel::inBackground(Work work) {
    if (!sampler_) return;
    QThreadPool::globalInstance()->start(
        [sampler = sampler_, self = QPointer<AppModel>(this), work = std::move(work)]() mutable {
            armSignalStack();
            work(*sampler, self);
        });
}

void AppModel::refreshPermissions() {
    if (!sampler_) return;
    const DesktopAccess access = sampler_->desktopAccess();
    onMainThread(QPointer<AppModel>(this), [access](AppModel& m) { m.setDesktopAccess(access); });
}

void AppModel::refreshWakeStatus() {
    inBackground([](AppModelSampler& sampler, const QPointer<AppModel>& self) {
        const std::optional<bool> wake = sampler.wakeOnMagicPacket();
        const std::optional<bool> battery = sampler.onBattery();
        onMainThread(self, [wake, battery](AppModel& m) {
            if (wake) m.setWakeReady(*wake);
            if (battery) m.setOnBattery(*battery);
        });
    });
}

void AppModel::refreshWGIP() {
    inBackground([](AppModelSampler& sampler, const QPointer<AppModel>& self) {
        const QString address = overlayAddress(sampler.ipv4Addresses());
        onMainThread(self, [address](AppModel& m) { m.setWgIP(address); });
    });
}

QString AppModel::overlayAddress(const std::vector<std::string>& addresses) {
    QString found;
    for (const std::string& a : addresses)
        if (a.rfind(overlayPrefix, 0) == 0) found = QString::fromStdString(a);
    return found;
}

} // namespace dovrel::agent

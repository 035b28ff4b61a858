#include "agent/service/AppModel.h"

#include <QThread>

namespace dovrel::agent {

namespace {

template <typename Signal> void assign(AppModel* model, QString& field, const QString& value, Signal changed) {
    Q_ASSERT(QThread::currentThread() == model->thread());
    if (field == value) return;
    field = value;
    emit(model->*changed)();
}

} // namespace

AppModel::AppModel(QObject* parent) : QObject(parent) {}

void AppModel::setPairingCode(const QString& v) { assign(this, pairingCode_, v, &AppModel::pairingCodeChanged); }
void AppModel::setPairingURL(const QString& v) { assign(this, pairingURL_, v, &AppModel::pairingURLChanged); }
void AppModel::setDeviceId(const QString& v) { assign(this, deviceId_, v, &AppModel::deviceIdChanged); }
void AppModel::setLanIP(const QString& v) { assign(this, lanIP_, v, &AppModel::lanIPChanged); }
void AppModel::setMac(const QString& v) { assign(this, mac_, v, &AppModel::macChanged); }
void AppModel::setDeviceName(const QString& v) { assign(this, deviceName_, v, &AppModel::deviceNameChanged); }
void AppModel::setStatusText(const QString& v) { assign(this, statusText_, v, &AppModel::statusTextChanged); }
void AppModel::setConnectedClient(const QString& v) {
    assign(this, connectedClient_, v, &AppModel::connectedClientChanged);
}
void AppModel::setAccount(const QString& v) { assign(this, account_, v, &AppModel::accountChanged); }

void AppModel::disconnectSession() {
    if (onDisconnectSession) onDisconnectSession();
}

} // namespace dovrel::agent

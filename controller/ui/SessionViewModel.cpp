#include "controller/ui/SessionViewModel.h"

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

SessionViewModel::SessionViewModel(WEXClient& client, RemoteInput& input, QObject* parent)
    : QObject(parent), client_(&client), input_(&input) {
    for (auto signal : {&WEXClient::phaseChanged, &WEXClient::reconnectingChanged, &WEXClient::hasFirstFrameChanged,
                        &WEXClient::latencyMsChanged, &WEXClient::fpsChanged})
        connect(&client, signal, this, &SessionViewModel::stateChanged);
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
    emit demoChanged();
    emit stateChanged();
}

bool SessionViewModel::overlayShown() const {
    return !demo_ && (!client_->hasFirstFrame() || client_->phaseKind() == PhaseKind::rejected);
}

LoadingState SessionViewModel::state() const {
    return loadingStateFor(client_->phaseKind(), client_->phaseMessage(), client_->reconnecting(), deviceName_);
}

} // namespace dovrel::controller

#include "agent/shell/AppDelegate.h"

#include "runtime/SignalStack.h"

namespace dovrel::agent {

AppDelegate::AppDelegate(AppModel& model, Scheduler& clock, RefreshSource& source, WindowPresenter& window,
                         DelegateActions actions, QObject* parent)
    : QObject(parent), model_(model), clock_(clock), source_(source), window_(window), actions_(std::move(actions)) {
    selfCheckPool_.setMaxThreadCount(1);
}

AppDelegate::~AppDelegate() { selfCheckPool_.waitForDone(); }

void AppDelegate::start(bool withWindow) {
    refreshTimer_ = clock_.every(std::chrono::milliseconds(0), refreshEvery, [this] { refresh(); });
    selfCheckTimer_ = clock_.every(selfCheckEvery, selfCheckEvery, [this] {
        // A second check never queues behind one that is still running.
        if (selfCheckPool_.activeThreadCount() == 0)
            selfCheckPool_.start([check = actions_.selfCheck] {
                armSignalStack();
                check();
            });
    });
    if (!withWindow) return;
    connect(&model_, &AppModel::showWindowRequested, this, &AppDelegate::showWindow);
    firstShow_ = clock_.after(firstShowAfter, [this] { showWindow(); });
}

void AppDelegate::refresh() {
    // Until start-up has drawn the first code there is no pairing link to keep current.
    const QString code = model_.pairingCode();
    const bool withAddress = !code.isEmpty() && code != QLatin1String(AppModel::codePlaceholder);
    samples_.run(
        [this, withAddress] {
            Sample s;
            s.access = source_.desktopAccess();
            s.overlayIP = AppModel::overlayAddress(source_.ipv4Addresses());
            if (withAddress) s.lanIP = QString::fromStdString(source_.primaryLANIP().value_or("127.0.0.1"));
            return s;
        },
        [this](const Sample& s) { apply(s); });
}

void AppDelegate::waitForProbes() {
    samples_.waitForProbes();
    wakeSamples_.waitForProbes();
    selfCheckPool_.waitForDone();
}

void AppDelegate::apply(const Sample& s) {
    model_.setDesktopAccess(s.access);
    model_.setWgIP(s.overlayIP);
    if (!s.lanIP || *s.lanIP == model_.lanIP()) return;
    model_.setLanIP(*s.lanIP);
    actions_.refreshPairingURL();
}

void AppDelegate::showWindow() {
    // A code without an expiry is never renewed here; one that expires exactly now still counts.
    const QDateTime expires = model_.shareCodeExpiresAt();
    if (model_.shareCode().isEmpty() || (expires.isValid() && expires < actions_.wallClock())) model_.createShareCode();
    wakeSamples_.run(
        [this] {
            return WakeSample{source_.wakeOnMagicPacket(), source_.onBattery()};
        },
        [this](const WakeSample& w) {
            if (w.wake) model_.setWakeReady(*w.wake);
            if (w.battery) model_.setOnBattery(*w.battery);
        });
    refresh();
    window_.present();
}

} // namespace dovrel::agent

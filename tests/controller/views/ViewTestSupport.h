#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QQuickStyle>

#include "../ui/GuiTestApp.h"

#include "../../support/TempHome.h"
#include "controller/platform/FileSecretStore.h"
#include "controller/services/DeviceStore.h"
#include "controller/services/RelayAccount.h"
#include "controller/ui/SessionPort.h"

namespace dovrel::controller::test {

// The offscreen application, with the controls' style the program sets before any QML loads.
inline QGuiApplication& viewApp() {
    static QGuiApplication& a = []() -> QGuiApplication& {
        QGuiApplication& app = guiApp();
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        return app;
    }();
    return a;
}

// A session client that records what it is asked and plays the phases a test sets.
class FakeSessionPort final : public SessionPort {
public:
    struct Dial {
        std::string kind; // "host" or "relay"
        QString target;   // the host, or the relay room
        QString name;     // relay dials: the machine's name
        QString code;
    };

    PhaseKind phase() const override { return phase_; }
    void connectToHost(const QString& host, const QString& code) override { dials.push_back({"host", host, {}, code}); }
    void connectViaRelay(const RelayDial& dial, const QString& code) override {
        dials.push_back({"relay", QString::fromStdString(dial.room), QString::fromStdString(dial.name), code});
        relayDials.push_back(dial);
    }
    void disconnectSession() override { ++disconnects; }
    void startDemo() override { ++demos; }
    void setTargetIsWindows(bool windows) override { targetIsWindows = windows; }
    void revokePairing(const RevokeTarget& target) override { revokes.push_back(target); }
    void nextSessionWith(const std::optional<QUuid>& lanMachine) override { lanMachines.push_back(lanMachine); }

    void play(PhaseKind kind) {
        phase_ = kind;
        emit phaseChanged();
    }
    void stats(uint8_t cpu, uint8_t ram, int8_t battery) {
        wex::DeckStat s{};
        s.cpu = cpu;
        s.ram = ram;
        s.battery = battery;
        emit deckStatArrived(s);
    }

    std::vector<Dial> dials;
    std::vector<RelayDial> relayDials;
    std::vector<RevokeTarget> revokes;
    std::vector<std::optional<QUuid>> lanMachines;
    int disconnects = 0;
    int demos = 0;
    std::optional<bool> targetIsWindows;

private:
    PhaseKind phase_ = PhaseKind::disconnected;
};

// What a root view is built on besides its session client: saved machines and a relay account in
// private files.
struct RootServices {
    dovrel::test::TempDir dir;
    std::shared_ptr<UserDefaults> defaults = std::make_shared<UserDefaults>(dir.file("controller.ini"));
    DeviceStore store{defaults, false};
    std::shared_ptr<RelayAccount> account =
        std::make_shared<RelayAccount>(std::make_shared<FileSecretStore>(dir.file("secrets")), "relay.example", 8443);
    int pollStarts = 0;
    std::function<void()> startPolling = [this] { ++pollStarts; };
};

} // namespace dovrel::controller::test

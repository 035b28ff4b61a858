#pragma once

#include <string>
#include <vector>

#include <QQuickStyle>

#include "../ui/GuiTestApp.h"

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
    int disconnects = 0;
    int demos = 0;
    std::optional<bool> targetIsWindows;

private:
    PhaseKind phase_ = PhaseKind::disconnected;
};

} // namespace dovrel::controller::test
